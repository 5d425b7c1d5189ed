#pragma once

#include "system/command_runner.h"

#include <QList>
#include <QString>

#include <tuple>

namespace quillmere::test {

// A zip entry: its name, st_mode as the archive records it, and its content (a link's target);
// content "zeros:N" stands for N zero bytes.
using ZipEntry = std::tuple<QString, int, QString>;

// Writes a deflated zip with Python's zipfile, which keeps names exactly as given; every entry
// belongs to user and group 4321. Returns whether it was written.
inline bool writeZip(const QString &path, const QList<ZipEntry> &entries)
{
    QStringList arguments{QStringLiteral("-c"), QStringLiteral(R"py(import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as archive:
    a = sys.argv[2:]
    for name, mode, data in zip(a[0::3], a[1::3], a[2::3]):
        entry = zipfile.ZipInfo(name)
        entry.create_system = 3
        entry.external_attr = int(mode, 8) << 16
        entry.extra = struct.pack('<HHBBIBI', 0x7875, 11, 1, 4, 4321, 4, 4321)
        archive.writestr(entry, bytes(int(data[6:])) if data.startswith('zeros:') else data,
                        zipfile.ZIP_DEFLATED)
)py"), path};
    for (const auto &[name, mode, data] : entries)
        arguments << name << QString::number(mode, 8) << data;
    return run(QStringLiteral("/usr/bin/python3"), arguments).status == 0;
}

}  // namespace quillmere::test
