#include "install/install_plan.h"

#include "install/install_script.h"

#include <QDir>

#include <unistd.h>

namespace quillmere {

using namespace Qt::StringLiterals;

InstallPlan installPlan(const QString &installPath, const DownloadedPackage &package,
                        const QString &,
                        const Elevator &)
{
    // No Trash folder or session to pass on: the script finds the Trash in HOME, and the copy
    // is opened by this process.
    const InstallInputs inputs{installPath, package.path, package.sha512, package.size,
                               ::getuid(), ::getgid(), QDir::homePath(), {}, {}, {}};
    const QString script = macInstallScript(inputs);
    // Opened by this process once the script has succeeded, so the new copy runs as the user
    // and never as root, whatever LaunchServices would make of an open from a root shell.
    return {script, osascriptInstallCommand(scriptCommandLine(script, inputs, false)),
            Prompt::AppleScript, ToolCommand{u"/usr/bin/open"_s, {installPath}}};
}

}  // namespace quillmere
