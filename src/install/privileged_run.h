#pragma once

#include "system/command_runner.h"

#include <QString>

namespace quillmere {

// How the install script is run with the rights it needs, and what the run's result means.

// macOS: osascript's "do shell script" with administrator privileges, which shows the system's
// password prompt. The script's path is quoted for the shell, then for AppleScript.
[[nodiscard]] ToolCommand osascriptInstallCommand(const QString &scriptPath);

// An AppleScript string literal of `text`: in double quotes, '\' and '"' escaped.
[[nodiscard]] QString appleScriptString(const QString &text);

inline constexpr char16_t pkexecPath[] = u"/usr/bin/pkexec";

// Linux: bash runs the script directly when this process may already write the install folder
// (see mayWriteInstallFolder), otherwise through `elevator` (pkexec, or a stand-in in tests),
// which asks for an administrator's password.
[[nodiscard]] ToolCommand linuxInstallCommand(const QString &scriptPath, bool mayWriteDirectly,
                                              const QString &elevator
                                              = QString::fromUtf16(pkexecPath));

// Whether this process may replace the copy at installPath without more rights: it may write
// the install folder (or, when that is missing, the nearest folder above it that exists) and,
// when a directory is there, that directory too (moving a directory to another folder rewrites
// its "..").
[[nodiscard]] bool mayWriteInstallFolder(const QString &installPath);

// A run through pkexec as classifyInstall must see it. pkexec exits 126 when the user dismissed
// its prompt, with words that need not say "cancel"; that result gets a line "cancelled" added.
// Its 127 (no authentication agent, not authorised, no system bus) stays a failure with
// pkexec's own words. A script that itself exited 126 would look dismissed too; ours never
// exits with 126 of its own accord.
[[nodiscard]] CommandResult pkexecResult(const CommandResult &result);

enum class InstallOutcome { Completed, Cancelled, Failed };

// Status 0 has completed, whatever the output. Otherwise the trimmed output tells a dismissed
// password prompt ("-128", or "cancel" in any letter case) from a failure.
[[nodiscard]] InstallOutcome classifyInstall(const CommandResult &result);

// The message of a failed run: "安装失败：" + the trimmed output.
[[nodiscard]] QString installFailureMessage(const CommandResult &result);

}  // namespace quillmere
