#pragma once

#include "run_until.h"
#include "ui/installer_controller.h"

#include <QWidget>

#include <chrono>
#include <cstdio>

namespace quillmere::bench {

// Shows the window, checks for the release and waits at most 30 s for the offer. Says on
// standard error when none came.
inline bool awaitOffer(InstallerController &controller, const char *metadataURL)
{
    controller.windowWidget()->show();
    controller.fetchMetadata();
    if (!runUntil([&] { return !controller.working(); }, std::chrono::seconds(30))
        || !controller.currentRelease()) {
        std::fprintf(stderr, "no offer from %s\n", metadataURL);
        return false;
    }
    return true;
}

}  // namespace quillmere::bench
