#include "platform/machine.h"

#include <cstring>

#include <sys/utsname.h>

namespace quillmere {

Architecture unameArchitecture()
{
    struct utsname names {};
    if (::uname(&names) != 0)
        return Architecture::Other;
    if (std::strcmp(names.machine, "x86_64") == 0)
        return Architecture::X86_64;
    if (std::strcmp(names.machine, "aarch64") == 0 || std::strcmp(names.machine, "arm64") == 0)
        return Architecture::Arm64;
    return Architecture::Other;
}

}  // namespace quillmere
