#include "platform/unpack.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/printing.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

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
    const auto setIdBits = [](const QString &path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 06000 : -1u;
    };
    EXPECT_EQ(setIdBits(tool), 0u);
    EXPECT_EQ(setIdBits(target), 04000u);
}

}  // namespace
}  // namespace quillmere
