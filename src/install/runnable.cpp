#include "install/runnable.h"

#include "platform/plist_value.h"

#include <QFile>
#include <QList>
#include <QtEndian>

#include <algorithm>
#include <optional>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

constexpr quint32 cpuArm64 = 0x0100000c, cpuX86_64 = 0x01000007;

quint32 word(QByteArrayView bytes, qsizetype at, bool bigEndian)
{
    return bigEndian ? qFromBigEndian<quint32>(bytes.data() + at)
                     : qFromLittleEndian<quint32>(bytes.data() + at);
}

// The CPU types a Mach-O header names, or nothing when the bytes are not one. A header cut
// short names fewer (none at all when even the first is missing).
std::optional<QList<quint32>> cpuTypes(QByteArrayView header)
{
    if (header.size() < 4)
        return std::nullopt;
    const quint32 magic = word(header, 0, true);
    QList<quint32> types;
    switch (magic) {
    case 0xfeedface:  // thin, 32 and 64 bits, in the byte order of its processor
    case 0xfeedfacf:
    case 0xcefaedfe:
    case 0xcffaedfe:
        if (header.size() >= 8)
            types << word(header, 4, (magic >> 24) == 0xfe);
        return types;
    case 0xcafebabe:  // universal, its table always big-endian: fat_arch or fat_arch_64 entries
    case 0xcafebabf: {
        const qsizetype entry = magic == 0xcafebabe ? 20 : 32;
        const qsizetype count = header.size() >= 8 ? word(header, 4, true) : 0;
        for (qsizetype at = 8; types.size() < count && at + entry <= header.size(); at += entry)
            types << word(header, at, true);
        return types;
    }
    default:
        return std::nullopt;
    }
}

bool cpuRunsOn(quint32 cpuType, Architecture machine)
{
    if (cpuType == cpuX86_64)
        return machine != Architecture::Other;
    return cpuType == cpuArm64 && machine == Architecture::Arm64;
}

}  // namespace

bool runsOn(QByteArrayView header, const QString &minimumSystem, const Machine &machine)
{
    if (const std::optional<QList<quint32>> types = cpuTypes(header);
        types && std::none_of(types->begin(), types->end(),
                              [&](quint32 type) { return cpuRunsOn(type, machine.architecture); }))
        return false;
    // 27.2.0 is 27.2.
    const QVersionNumber minimum = QVersionNumber::fromString(minimumSystem).normalized();
    return !machine.macosVersion || minimum.isNull() || minimum <= machine.macosVersion->normalized();
}

bool bundleRunsOn(const QString &appPath, const QString &appName, const Machine &machine)
{
    const QString name = plistValue(appPath, u"CFBundleExecutable"_s).value_or(appName);
    QByteArray header;
    // The bundle's links stay inside it, and it holds no FIFO that would never answer; a name
    // with a slash could lead out of it to either.
    QFile executable(appPath + u"/Contents/MacOS/"_s + name);
    if (!name.contains(u'/') && executable.open(QIODevice::ReadOnly))
        header = executable.read(executableHeaderBytes);
    return runsOn(header, plistValue(appPath, u"LSMinimumSystemVersion"_s).value_or(QString()),
                  machine);
}

}  // namespace quillmere
