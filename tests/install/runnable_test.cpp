#include "install/runnable.h"

#include "support/printing.h"

#include <QtEndian>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// A word as a file of that byte order holds it: a thin header is in its processor's.
QByteArray be(quint32 value) { QByteArray b(4, '\0'); qToBigEndian(value, b.data()); return b; }
QByteArray le(quint32 value) { QByteArray b(4, '\0'); qToLittleEndian(value, b.data()); return b; }
// A universal file's header: `magic`, then a big-endian table of `entry`-byte entries.
QByteArray fat(quint32 magic, qsizetype entry, std::initializer_list<quint32> cpus)
{
    QByteArray header = be(magic) + be(quint32(cpus.size()));
    for (quint32 cpu : cpus)
        header += be(cpu) + QByteArray(entry - 4, '\x01');
    return header;
}

TEST(Runnable, ProcessorsAndMinimumSystemAgainstTheMachine)
{
    constexpr quint32 arm64 = 0x0100000c, x86_64 = 0x01000007, i386 = 7, arm64_32 = 0x0200000c, ppc = 18;
    const Machine intel{Architecture::X86_64, QVersionNumber(27, 2)}, appleSilicon{Architecture::Arm64, QVersionNumber(27, 2)};
    const Machine linuxPc{Architecture::X86_64, std::nullopt};
    const QByteArray thinX86_64 = le(0xfeedfacf) + le(x86_64);
    const std::tuple<const char *, QByteArray, QString, std::array<bool, 3>> rows[] = {  // on Intel, Apple silicon, Linux
        {"thin arm64", le(0xfeedfacf) + le(arm64), {}, {false, true, false}},
        {"thin arm64, big-endian", be(0xfeedfacf) + be(arm64), {}, {false, true, false}},
        {"thin x86_64, through Rosetta on Apple silicon", thinX86_64, {}, {true, true, true}},
        {"thin i386, 32 bits", le(0xfeedface) + le(i386), {}, {false, false, false}},
        {"cut short after its magic", le(0xfeedfacf), {}, {false, false, false}},
        {"universal", fat(0xcafebabe, 20, {x86_64, arm64}), {}, {true, true, true}},
        {"universal with 64-bit entries", fat(0xcafebabf, 32, {ppc, arm64}), {}, {false, true, false}},
        {"universal with neither", fat(0xcafebabe, 20, {i386, arm64_32}), {}, {false, false, false}},
        {"a script", "#!/bin/sh\nexec true\n", {}, {true, true, true}},
        {"an ELF file", "\x7f" "ELF\x02\x01\x01", {}, {true, true, true}},
        {"no executable", {}, u"28"_s, {false, false, true}},
        {"minimum above, by number", thinX86_64, u"27.10"_s, {false, false, true}},
        {"minimum equal", thinX86_64, u"27.2.0"_s, {true, true, true}},
        {"minimum below", thinX86_64, u"26.9"_s, {true, true, true}},
        {"minimum that is no version", thinX86_64, u"later"_s, {true, true, true}},
    };
    for (const auto &[name, header, minimum, runs] : rows) {
        EXPECT_EQ(runsOn(header, minimum, intel), runs[0]) << name;
        EXPECT_EQ(runsOn(header, minimum, appleSilicon), runs[1]) << name;
        EXPECT_EQ(runsOn(header, minimum, linuxPc), runs[2]) << name;
    }
}

}  // namespace
}  // namespace quillmere
