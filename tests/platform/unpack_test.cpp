#include "platform/unpack.h"

#include "support/packages.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

using Entry = test::ZipEntry;
using test::writeZip;

// Entries below dir (not following links); with `unsafe`, only those with a setuid or setgid
// bit or another owner than this process.
QStringList entries(const QString &dir, bool unsafe = false)
{
    QStringList found;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info {};
        ::lstat(QFile::encodeName(path).constData(), &info);
        if (!unsafe || info.st_uid != ::geteuid()
            || (!S_ISLNK(info.st_mode) && (info.st_mode & (S_ISUID | S_ISGID))))
            found << path.mid(dir.size());
    }
    found.sort();
    return found;
}

TEST(Unpack, DittoExtractsTheZipIntoTheDirectory)
{
    EXPECT_EQ(dittoUnpackCommand(u"/t/a b.zip"_s, u"/t/s"_s),
              (ToolCommand{u"/usr/bin/ditto"_s, {u"-x"_s, u"-k"_s, u"/t/a b.zip"_s, u"/t/s"_s}}));
}

// Whatever the archive says, nothing lands outside the stage directory, and nothing there keeps
// the archive's owner or a setuid or setgid bit.
TEST(Unpack, HostileArchivesStayInsideTheStageDirectory)
{
    QTemporaryDir root;
    const QString outside = root.filePath(u"outside"_s);
    const struct {
        const char *name;
        QList<Entry> entries;
        bool unpacks;
    } rows[] = {
        {"parent directory", {{u"../escape"_s, 0100644, u"x"_s}}, false},
        {"absolute name", {{outside + u"/absolute"_s, 0100644, u"x"_s}}, true},
        {"through a link", {{u"a"_s, 0120777, outside}, {u"a/x"_s, 0100644, u""_s}}, false},
        {"through a link upwards", {{u"r"_s, 0120777, u"../outside"_s}, {u"r/x"_s, 0100644, u""_s}},
         false},
        {"setuid and setgid", {{u"tool"_s, 0106755, u""_s}, {u"shared/"_s, 042775, u""_s}}, true},
        {"device", {{u"disk"_s, 060666, u""_s}}, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString zip = root.filePath(u"archive.zip"_s);
        const QString stage = root.filePath(u"stage"_s);
        QDir(stage).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(stage) && QDir().mkpath(outside) && writeZip(zip, row.entries));

        const CommandResult result = run(unpackCommand(zip, stage));
        // bsdtar drops them itself: the walk is what stands between ditto and root.
        EXPECT_EQ(entries(stage, true).join(u' '), QString());
        EXPECT_EQ(result.status == 0 && clearSetIdBits(stage), row.unpacks);
        EXPECT_EQ(entries(root.path()).filter(QRegularExpression(u"^/(?!stage/)"_s)).join(u' '),
                  u"/archive.zip /outside /stage"_s);
    }
}

TEST(Unpack, ClearingSetIdBitsChangesNothingThroughALink)
{
    QTemporaryDir root;
    const QString target = root.filePath(u"outside-tool"_s);
    const QString tool = root.filePath(u"tree/tool"_s);
    ASSERT_TRUE(QDir().mkpath(root.filePath(u"tree"_s)));
    for (const auto &[path, bits] : {std::pair{target, 04755}, {tool, 06711}}) {
        ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly)
                    && ::chmod(QFile::encodeName(path).constData(), bits) == 0);
    }
    ASSERT_TRUE(QFile::link(target, root.filePath(u"tree/link"_s)));
    EXPECT_TRUE(clearSetIdBits(root.filePath(u"tree"_s)));
    // The tool has lost its bits; the file outside, reached only through the link, keeps them.
    EXPECT_EQ(entries(root.path(), true), QStringList{u"/outside-tool"_s});
}

}  // namespace
}  // namespace quillmere
