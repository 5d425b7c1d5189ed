#pragma once

#include "platform/machine.h"

#include <QByteArrayView>
#include <QString>

namespace quillmere {

// How much of an executable is read: a thin header needs 8 bytes, a universal file's table 8
// bytes and 20 or 32 for each of its architectures.
inline constexpr qsizetype executableHeaderBytes = 4096;

// Whether an application can run on `machine`, given `header`, the first bytes of its
// executable (at most executableHeaderBytes), and `minimumSystem`, its LSMinimumSystemVersion
// (empty when it has none). A Mach-O file, thin or universal, runs where one of its
// architectures does: arm64 on Apple silicon, x86_64 on both kinds of Mac (through Rosetta on
// Apple silicon); one with neither runs nowhere. Anything else (a script, an ELF file, nothing)
// is not judged by its processor. A minimum above the machine's macOS version, compared
// number by number ("27.10" is above "27.2"), rules the machine out; a machine without macOS
// has no version to compare, and a minimum that is no version is not compared either.
[[nodiscard]] bool runsOn(QByteArrayView header, const QString &minimumSystem,
                          const Machine &machine);

// The same for the bundle at appPath: its executable is Contents/MacOS/ followed by the
// Info.plist's CFBundleExecutable, or appName where the key is absent. An executable that
// cannot be read, or whose name is a path, is not judged by its processor.
[[nodiscard]] bool bundleRunsOn(const QString &appPath, const QString &appName,
                                const Machine &machine);

}  // namespace quillmere
