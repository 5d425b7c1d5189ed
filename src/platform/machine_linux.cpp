#include "platform/machine.h"

namespace quillmere {

Machine thisMachine()
{
    return {unameArchitecture(), std::nullopt};
}

}  // namespace quillmere
