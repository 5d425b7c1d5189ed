#include "platform/plist_reader.h"

#include "platform/tool_commands.h"
#include "system/command_runner.h"

namespace quillmere {

std::optional<QString> readPlistValue(const QString &plistPath, const QString &key)
{
    // The system tool prints the value and a line break, and fails for a missing file or key.
    const CommandResult result =
        run(QString::fromUtf16(plistBuddyPath), plistBuddyArguments(plistPath, key));
    if (result.exitCode != 0)
        return std::nullopt;
    return result.output;
}

}  // namespace quillmere
