#pragma once

#include "install/privileged_run.h"
#include "system/command_runner.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillmere {

// The downloaded zip as the installer checked it.
struct DownloadedPackage {
    QString path;
    QByteArray sha512;  // 64 bytes, taken as it was downloaded
    qint64 size = 0;
};

// The install script and the privileged run of it, for this platform and this user.
struct InstallPlan {
    QString script;                     // the script's text, also kept as install.sh
    ToolCommand command;                // runs the script with the rights it needs
    Prompt prompt = Prompt::None;       // how a dismissed password prompt shows
    std::optional<ToolCommand> launch;  // starts the new copy as this user once it is in place
};

// The Linux program that asks for an administrator's password. Tests put a stand-in in its
// place and may use it even where the install folder is writable. Not used on macOS.
struct Elevator {
    QString program = QString::fromUtf16(pkexecPath);
    bool askEvenWhenWritable = false;
};

// Implemented once per platform, for the user this process runs as (ids, home; on Linux the
// Trash and the desktop session). On Linux it asks for more rights only when the install folder
// is not writable.
[[nodiscard]] InstallPlan installPlan(const QString &installPath, const DownloadedPackage &package,
                                      const QString &stagedApp,
                                      const Elevator &elevator = {});

struct InstallRun {
    InstallOutcome outcome;
    CommandResult result;  // of the command, or of the launch when that failed
};

// Runs the plan's command and, once it has succeeded, its launch.
[[nodiscard]] InstallRun runInstall(const InstallPlan &plan);

}  // namespace quillmere
