#include "install/install_plan.h"

#include "install/install_script.h"

namespace quillmere {

InstallPlan installPlan(const QString &installPath, const QString &stagedAppPath,
                        const QString &scriptPath, const Elevator &)
{
    return {macInstallScript(installPath, stagedAppPath), osascriptInstallCommand(scriptPath)};
}

}  // namespace quillmere
