#include "platform/machine.h"

#ifdef __APPLE__
#include <QOperatingSystemVersion>

#include <algorithm>

#include <sys/sysctl.h>
#endif

namespace quillmere {

#ifdef __APPLE__

namespace {

// Absent on an Intel Mac, and proc_translated also where Rosetta is not installed: not set.
bool sysctlSet(const char *name)
{
    int value = 0;
    size_t size = sizeof value;
    return ::sysctlbyname(name, &value, &size, nullptr, 0) == 0 && value == 1;
}

}  // namespace

Machine thisMachine()
{
    // The installer itself may be an Intel build that Rosetta runs: its process is told it runs
    // on Intel, but what it installs runs on the hardware.
    const bool appleSilicon = sysctlSet("hw.optional.arm64") || sysctlSet("sysctl.proc_translated");
    const QOperatingSystemVersion system = QOperatingSystemVersion::current();
    return {appleSilicon ? Architecture::Arm64 : Architecture::X86_64,
            QVersionNumber(std::max(system.majorVersion(), 0), std::max(system.minorVersion(), 0),
                           std::max(system.microVersion(), 0))};
}

#else

// The macOS layer built on Linux, where its road runs with stand-ins for the Mac's tools: the
// processor is the real one, and there is no macOS whose version could be compared.
Machine thisMachine()
{
    return {unameArchitecture(), std::nullopt};
}

#endif

}  // namespace quillmere
