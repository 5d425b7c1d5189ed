#include "platform/tool_commands.h"

namespace quillmere {

using namespace Qt::StringLiterals;

QStringList plistBuddyArguments(const QString &plistPath, const QString &key)
{
    // The command and its key travel as one argument; the tool splits it itself.
    return {u"-c"_s, u"Print :"_s + key, plistPath};
}

}  // namespace quillmere
