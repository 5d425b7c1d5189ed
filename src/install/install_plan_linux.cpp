#include "install/install_plan.h"

#include "install/install_script.h"

#include <QDir>
#include <QProcessEnvironment>

#include <unistd.h>

namespace quillmere {

using namespace Qt::StringLiterals;

InstallPlan installPlan(const QString &installPath, const QString &stagedAppPath,
                        const QString &scriptPath, const Elevator &elevator)
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const LinuxInstallInputs inputs{
        installPath,
        stagedAppPath,
        userTrashFolder(environment.value(u"XDG_DATA_HOME"_s), QDir::homePath()),
        ::getuid(),
        ::getgid(),
        appEnvironment(environment),
    };
    const bool direct = !elevator.always && mayWriteInstallFolder(installPath);
    return {linuxInstallScript(inputs),
            linuxInstallCommand(scriptPath, direct, elevator.program), !direct};
}

}  // namespace quillmere
