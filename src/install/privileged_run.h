#pragma once

#include "system/command_runner.h"

#include <QString>

namespace quillmere {

// How the install script is run with the rights it needs, and what the run's result means.

// macOS: osascript's "do shell script" with administrator privileges, which shows the system's
// password prompt. The command line's words are quoted for the shell, then all of it for
// AppleScript.
[[nodiscard]] ToolCommand osascriptInstallCommand(const QStringList &commandLine);

// An AppleScript string literal of `text`: in double quotes, '\' and '"' escaped.
[[nodiscard]] QString appleScriptString(const QString &text);

inline constexpr char16_t pkexecPath[] = u"/usr/bin/pkexec";

// Linux: the command line runs as it is when this process may already write the install folder
// (see mayWriteInstallFolder), otherwise through `elevator` (pkexec, or a stand-in in tests),
// which asks for an administrator's password.
[[nodiscard]] ToolCommand linuxInstallCommand(const QStringList &commandLine, bool mayWriteDirectly,
                                              const QString &elevator
                                              = QString::fromUtf16(pkexecPath));

// Whether this process may replace the copy at installPath without more rights: it may write
// the install folder (or, when that is missing, the nearest folder above it that exists) and,
// when a directory is there, that directory too (moving a directory to another folder rewrites
// its "..").
[[nodiscard]] bool mayWriteInstallFolder(const QString &installPath);

// Who asked for the password, which decides how a dismissed prompt shows.
enum class Prompt {
    AppleScript,  // osascript: non-zero, and the output holds "-128" or "cancel" in any case
    Pkexec,       // status 126, whatever the words (a path may hold "Cancel"); 127 is a failure
    None,         // no prompt: every non-zero status is a failure
};

enum class InstallOutcome { Completed, Cancelled, Failed };

// Status 0 has completed, whatever the output; otherwise the prompt's rule tells a dismissed
// password prompt from a failure. (Our script never exits with 126 of its own accord.)
[[nodiscard]] InstallOutcome classifyInstall(const CommandResult &result, Prompt prompt);

// The message of a failed run: "安装失败：" + the trimmed output.
[[nodiscard]] QString installFailureMessage(const CommandResult &result);

}  // namespace quillmere
