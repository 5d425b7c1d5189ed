#include "platform/tool_commands.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(ToolCommands, PlistBuddyPrintsOneKeyOfOneFile)
{
    // The command with its key is a single argument even when the key has a space.
    const QString plist = u"/Volumes/A b/Quillmere Desktop.app/Contents/Info.plist"_s;
    EXPECT_EQ(plistBuddyArguments(plist, u"Bundle Name"_s),
              (QStringList{u"-c"_s, u"Print :Bundle Name"_s, plist}));
}

}  // namespace
}  // namespace quillmere
