// The archive check on zips made here, some with bytes flipped or cut afterwards, read under the
// "C" locale and under a UTF-8 one; a package it finds safe also unpacks on Linux, and one it
// finds unreadable does not.
#include "install/archive_check.h"
#include "platform/unpack.h"

#include "support/bundles.h"

#include <QTemporaryDir>

#include "support/printing.h"

#include <gtest/gtest.h>

#include <clocale>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using test::ZipEntry;
using enum ArchiveVerdict;

// The zip made of `entries`, then with one byte flipped ('f') or cut ('c') at `where`, counted
// from the central directory's first byte.
struct Row { const char *name; QList<ZipEntry> entries; ArchiveVerdict verdict; char change = 0; qsizetype where = 0; };

const ZipEntry file{u"f"_s, 0100644, QString(u"data "_s).repeated(40)}, link{u"Link"_s, 0120777, u"decoy"_s};

TEST(ArchiveCheck, RefusesWhatIsDamagedOrCouldWriteElsewhere)
{
    const Row rows[] = {
        {"linksThatStayInside", {{u"Q.app/f"_s, 0100644, u"x"_s}, {u"Q.app/Current"_s, 0120777, u"../Q.app/./"_s}, {u"Q.app/Res"_s, 0120777, u"Current/f"_s}}, Safe},
        {"chineseAndDecomposedNames", {{u"Q.app/zh_CN.lproj/说明.txt"_s, 0100644, u"x"_s}, {u"Q.app/cafe\u0301"_s, 0100644, u"x"_s}}, Safe},
        {"compressedByteFlipped", {file}, Unreadable, 'f', -3}, {"storedByteFlipped", {{u"f"_s, 0100644, u"stored:stored data"_s}}, Unreadable, 'f', -3},
        {"cutInTheCentralDirectory", {file}, Unreadable, 'c', 30}, {"centralSignatureOverwritten", {file}, Unreadable, 'f', 0},
        {"centralNameLeaves", {{u"inside/xy|../../xy"_s, 0100644, u"x"_s}}, Unsafe}, {"localHeaderUnlisted", {file, {u"hidden|"_s, 0100644, u"x"_s}}, Unsafe},
        {"parentEntry", {file, {u"../escape"_s, 0100644, u"x"_s}}, Unsafe}, {"absoluteEntry", {{u"/tmp/absolute"_s, 0100644, u"x"_s}}, Unsafe},
        {"absoluteLink", {{u"Q.app"_s, 0120777, u"/Applications/Q.app"_s}}, Unsafe},
        {"listedTwiceInAnotherCase", {file, {u"F"_s, 0100644, u"x"_s}}, Unsafe}, {"composedAndDecomposed", {{u"caf\u00e9"_s, 0100644, u"x"_s}, {u"cafe\u0301"_s, 0100644, u"x"_s}}, Unsafe},
        {"writeThroughALinkInAnotherCase", {link, {u"link/x"_s, 0100644, u"x"_s}}, Unsafe}, {"deviceFile", {{u"disk"_s, 060666, u""_s}}, Unsafe},
        // A link that is harmless by itself lets the next one leave: "here/.." is the parent.
        {"linkThroughALink", {{u"here"_s, 0120777, u"."_s}, {u"out"_s, 0120777, u"here/../x"_s}}, Unsafe},
    };
    const QTemporaryDir dir;
    for (const Row &row : rows) {
        QByteArray zip = test::zipped(row.entries);
        const qsizetype at = zip.indexOf("PK\1\2") + row.where;
        row.change == 'f' ? void(zip[at] = char(~zip[at])) : row.change == 'c' ? zip.truncate(at) : void();
        QFile out(dir.filePath(QString::fromLatin1(row.name)));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(zip) == zip.size() && out.flush());
        // Last under C.UTF-8, what Qt's start-up picks for the character type where it finds no UTF-8.
        for (const char *name : {"C", "C.UTF-8"}) {
            std::setlocale(LC_ALL, name);
            EXPECT_EQ(checkArchive(out.fileName()), row.verdict) << row.name << " under " << name;
#ifndef QUILLMERE_PLATFORM_MACOS
            // On Linux it unpacks where it is safe, names composed (NFC), and fails where it is unreadable.
            const QString stage = out.fileName() + QString::fromLatin1(name), last = stage + u'/' + std::get<0>(row.entries.last()).normalized(QString::NormalizationForm_C);
            EXPECT_TRUE(row.verdict == Unsafe || (QDir().mkpath(stage) && unpackArchive(out.fileName(), stage) == (row.verdict == Safe) && (row.verdict != Safe || QFile::exists(last)))) << row.name;
#endif
        }
    }
}

}  // namespace
}  // namespace quillmere
