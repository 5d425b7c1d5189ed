#include "platform/unpack.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

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
