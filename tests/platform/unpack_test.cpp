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

// The tool in the tree loses its set-id bits; a file outside, reached only through a link in the
// tree, keeps them. (On Linux the extractor already drops the bits, so the road cannot tell.)
TEST(Unpack, ClearingSetIdBitsChangesNothingThroughALink)
{
    QTemporaryDir root;
    const QString outside = root.filePath(u"outside-tool"_s), tool = root.filePath(u"tree/tool"_s);
    const auto setIdBits = [](const QString &path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 06000 : -1u;
    };
    ASSERT_TRUE(QDir().mkpath(root.filePath(u"tree"_s)) && QFile::link(outside, root.filePath(u"tree/link"_s)));
    for (const auto &[path, bits] : {std::pair{outside, 04755}, {tool, 06711}})
        ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly) && ::chmod(QFile::encodeName(path).constData(), bits) == 0);
    EXPECT_TRUE(clearSetIdBits(root.filePath(u"tree"_s)));
    EXPECT_EQ(std::pair(setIdBits(tool), setIdBits(outside)), std::pair(0u, 04000u));
}

}  // namespace
}  // namespace quillmere
