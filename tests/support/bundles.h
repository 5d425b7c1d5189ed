#pragma once

#include "system/command_runner.h"

#include <QDir>
#include <QFile>

#include <tuple>

namespace quillmere::test {

// An XML property list whose top-level value is `body`, e.g. "<dict>…</dict>".
inline QByteArray xmlPlist(const QByteArray &body)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)" + body + "</plist>";
}

// The same with a top-level dictionary holding one string.
inline QByteArray stringPlist(const QByteArray &key, const QString &value)
{
    return xmlPlist("<dict><key>" + key + "</key><string>" + value.toHtmlEscaped().toUtf8() + "</string></dict>");
}

// Writes a minimal application bundle at `appPath`: a folder with `infoPlist` as its
// Contents/Info.plist. Returns whether it was written.
inline bool writeBundle(const QString &appPath, const QByteArray &infoPlist)
{
    QFile file(appPath + QStringLiteral("/Contents/Info.plist"));
    return QDir().mkpath(appPath + QStringLiteral("/Contents")) && file.open(QIODevice::WriteOnly)
        && file.write(infoPlist) == infoPlist.size();
}

// A zip entry: its name, st_mode as the archive records it, and its content (a link's target);
// content "zeros:N" stands for N zero bytes, "hex:…" for those bytes, "stored:…" for that
// content left uncompressed. A
// name "LOCAL|CENTRAL" is written so in the local header and so in the central directory, which
// leaves the entry out when CENTRAL is empty.
using ZipEntry = std::tuple<QString, int, QString>;

// A zip made with Python's zipfile, which keeps names exactly as given; entries are deflated
// and belong to user and group 4321. Empty when Python fails.
inline QByteArray zipped(const QList<ZipEntry> &entries)
{
    QStringList arguments{QStringLiteral("-c"), QStringLiteral(R"py(import io, struct, sys, zipfile
with zipfile.ZipFile(b := io.BytesIO(), 'w') as archive:
    for name, mode, data in zip(*[iter(sys.argv[1:])] * 3):
        local, split, central = name.partition('|')
        entry = zipfile.ZipInfo(local)
        entry.create_system, entry.external_attr, entry.extra = 3, int(mode, 8) << 16, struct.pack('<HHBBIBI', 0x7875, 11, 1, 4, 4321, 4, 4321)
        archive.writestr(entry, bytes(int(data[6:])) if data.startswith('zeros:') else bytes.fromhex(data[4:]) if data.startswith('hex:') else data.removeprefix('stored:'),
                         zipfile.ZIP_STORED if data.startswith('stored:') else zipfile.ZIP_DEFLATED)
        if split: archive.filelist.pop() if not central else setattr(archive.filelist[-1], 'filename', central)
sys.stdout.write(b.getvalue().hex()))py")};
    for (const auto &[name, mode, data] : entries)
        arguments << name << QString::number(mode, 8) << data;
    const CommandResult zip = run(QStringLiteral("/usr/bin/python3"), arguments);
    return zip.exitCode == 0 ? QByteArray::fromHex(zip.output.toLatin1()) : QByteArray();
}

}  // namespace quillmere::test
