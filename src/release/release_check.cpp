#include "ui/installer_controller.h"

namespace quillmere {

void InstallerController::fetchMetadata()
{
    // The request itself arrives with the network layer; until then the window stays at
    // its initial texts.
}

}  // namespace quillmere
