#include "platform/unpack.h"

namespace quillmere {

ToolCommand unpackCommand(const QString &zip, const QString &dir)
{
    return dittoUnpackCommand(zip, dir);
}

}  // namespace quillmere
