#pragma once

#include "install/privileged_run.h"
#include "system/command_runner.h"

#include <QString>

namespace quillmere {

// The install script and the privileged run of it, for this platform and this user.
struct InstallPlan {
    QString script;       // the text of install.sh
    ToolCommand command;  // runs the script with the rights it needs
    bool throughPkexec = false; // the command's status 126 means a dismissed prompt
};

// The Linux program that asks for an administrator's password. Tests put a stand-in in its
// place and may use it even where the install folder is writable. Not used on macOS.
struct Elevator {
    QString program = QString::fromUtf16(pkexecPath);
    bool always = false;
};

// Implemented once per platform. On Linux it reads the user's ids, Trash and session from this
// process, and asks for more rights only when the install folder is not writable.
[[nodiscard]] InstallPlan installPlan(const QString &installPath, const QString &stagedAppPath,
                                      const QString &scriptPath, const Elevator &elevator = {});

// Runs the plan's command; the result is ready for classifyInstall.
[[nodiscard]] CommandResult runInstall(const InstallPlan &plan);

}  // namespace quillmere
