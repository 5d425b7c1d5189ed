#pragma once

#include <QVersionNumber>

#include <optional>

namespace quillmere {

// The processors an application can be built for, as far as the installer tells them apart.
enum class Architecture { Arm64, X86_64, Other };

// What decides whether an application can run on a machine.
struct Machine {
    Architecture architecture;                   // the hardware's, not the process's
    std::optional<QVersionNumber> macosVersion;  // none where the system is not macOS
};

// This machine's facts, read afresh on each call. Implemented once per platform:
//   macOS: Apple silicon where sysctl says so ("hw.optional.arm64", or "sysctl.proc_translated"
//   for a process that Rosetta translates), Intel otherwise; the version QOperatingSystemVersion
//   gives. The macOS layer built on Linux has no sysctl of a Mac: uname and no version there.
//   Linux: uname's machine, and no macOS version.
[[nodiscard]] Machine thisMachine();

// The processor uname names: "x86_64", "aarch64" or "arm64", anything else Other.
[[nodiscard]] Architecture unameArchitecture();

}  // namespace quillmere
