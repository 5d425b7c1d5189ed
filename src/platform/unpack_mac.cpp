#include "platform/unpack.h"

namespace quillmere {

bool unpackArchive(const QString &zip, const QString &dir)
{
    // Only the tool's status counts; what it printed is not shown.
    return run(dittoUnpackCommand(zip, dir)).exitCode == 0;
}

}  // namespace quillmere
