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

struct Row {
    const char *name;
    QList<ZipEntry> entries;
    ArchiveVerdict verdict;
    char change = 0;     // 'f': one byte flipped, 'c': cut there
    qsizetype where = 0; // counted from the central directory's first byte
};

const ZipEntry file{u"f"_s, 0100644, QString(u"data "_s).repeated(40)}, link{u"Link"_s, 0120777, u"decoy"_s};

TEST(ArchiveCheck, RefusesWhatIsDamagedOrCouldWriteElsewhere)
{
    const Row rows[] = {
        {"bundleWithLinksInside", {{u"Q.app/Contents/Info.plist"_s, 0100644, u"x"_s}, {u"Q.app/Contents/Current"_s, 0120777, u"../Contents/./"_s},
                                   {u"Q.app/Contents/Res"_s, 0120777, u"Current/Info.plist"_s}}, Safe},
        {"chineseAndDecomposedNames", {{u"Q.app/zh_CN.lproj/说明.txt"_s, 0100644, u"x"_s}, {u"Q.app/cafe\u0301"_s, 0100644, u"x"_s}}, Safe},
        {"compressedByteFlipped", {file}, Unreadable, 'f', -3},
        {"storedByteFlipped", {{u"f"_s, 0100644, u"stored:stored data"_s}}, Unreadable, 'f', -3},
        {"cutInTheCentralDirectory", {file}, Unreadable, 'c', 30},
        {"centralSignatureOverwritten", {file}, Unreadable, 'f', 0},
        {"centralNameLeaves", {{u"inside/xy|../../xy"_s, 0100644, u"x"_s}}, Unsafe},
        {"localHeaderUnlisted", {file, {u"hidden|"_s, 0100644, u"x"_s}}, Unsafe},
        {"parentEntry", {file, {u"../escape"_s, 0100644, u"x"_s}}, Unsafe},
        {"absoluteEntry", {{u"/tmp/absolute"_s, 0100644, u"x"_s}}, Unsafe},
        {"listedTwiceInAnotherCase", {file, {u"F"_s, 0100644, u"x"_s}}, Unsafe},
        {"composedAndDecomposed", {{u"caf\u00e9"_s, 0100644, u"x"_s}, {u"cafe\u0301"_s, 0100644, u"x"_s}}, Unsafe},
        {"writeThroughALinkInAnotherCase", {link, {u"link/x"_s, 0100644, u"x"_s}}, Unsafe},
        {"deviceFile", {{u"disk"_s, 060666, u""_s}}, Unsafe},
        {"linkOutside", {{u"l"_s, 0120777, u"/etc"_s}}, Unsafe},
        // A link that is harmless by itself lets the next one leave: "here/.." is the parent.
        {"linkThroughALink", {{u"here"_s, 0120777, u"."_s}, {u"out"_s, 0120777, u"here/../x"_s}}, Unsafe},
    };
    QTemporaryDir dir;
    const QByteArray locale = std::setlocale(LC_ALL, nullptr);
    for (const Row &row : rows) {
        QByteArray zip = test::zipped(row.entries);
        const qsizetype at = zip.indexOf("PK\1\2") + row.where;
        row.change == 'f' ? void(zip[at] = char(~zip[at])) : row.change == 'c' ? zip.truncate(at) : void();
        QFile out(dir.filePath(QString::fromLatin1(row.name)));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(zip) == zip.size());
        out.close();
        for (const char *name : {"C", "C.UTF-8"}) {
            std::setlocale(LC_ALL, name);
            EXPECT_EQ(checkArchive(out.fileName()), row.verdict) << row.name << " under " << name;
#ifndef QUILLMERE_PLATFORM_MACOS
            const QString stage = dir.filePath(QString::fromLatin1(row.name) + QString::fromLatin1(name));
            EXPECT_TRUE(row.verdict == Unsafe || (QDir().mkpath(stage) && unpackArchive(out.fileName(), stage) == (row.verdict == Safe)))
                << "unpacked: " << row.name << " under " << name;
            EXPECT_TRUE(row.verdict != Safe || QFile::exists(stage + u'/' + std::get<0>(row.entries[1]).normalized(QString::NormalizationForm_C)));
#endif
        }
    }
    std::setlocale(LC_ALL, locale.constData());
}

}  // namespace
}  // namespace quillmere
