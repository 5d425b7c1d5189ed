#include "install/install_plan.h"

#include "install/install_script.h"

#include <QDir>
#include <QProcessEnvironment>

#include <unistd.h>

namespace quillmere {

using namespace Qt::StringLiterals;

InstallPlan installPlan(const QString &installPath, const DownloadedPackage &package,
                        const QString &stagedApp,
                        const Elevator &elevator)
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const InstallInputs inputs{
        installPath,
        package.path,
        package.sha512,
        package.size,
        ::getuid(),
        ::getgid(),
        QDir::homePath(),
        userTrashFolder(environment.value(u"XDG_DATA_HOME"_s), QDir::homePath()),
        appEnvironment(environment),
        stagedApp,
    };
    const bool direct = !elevator.askEvenWhenWritable && mayWriteInstallFolder(installPath);
    const QString script = linuxInstallScript(inputs);
    // The new copy is started by the script, as the user.
    return {script,
            linuxInstallCommand(scriptCommandLine(script, inputs, true), direct, elevator.program),
            direct ? Prompt::None : Prompt::Pkexec,
            std::nullopt};
}

}  // namespace quillmere
