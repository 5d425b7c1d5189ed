#include "platform/unpack.h"

namespace quillmere {

ToolCommand unpackCommand(const QString &zip, const QString &dir)
{
    return bsdtarUnpackCommand(zip, dir);
}

}  // namespace quillmere
