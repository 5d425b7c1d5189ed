#include "ui/installer_controller.h"

namespace quillmere {

void InstallerController::beginInstall(const Release &)
{
    // The package download is not built yet: the offer stays on screen.
}

}  // namespace quillmere
