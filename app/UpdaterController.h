#pragma once

#include "Updater.h"

namespace fennick {

// The update layer's entry point: owns the updater and shows the outcome of each check in a
// message box that does not block. Created once, at application start, and kept until the
// process ends.
class UpdaterController {
public:
    // The feed and the running version come from the build configuration. With `startingUpdater`
    // the updater is started at once, so the menu command can become enabled as soon as its
    // window exists.
    explicit UpdaterController(bool startingUpdater);

    UpdaterController(const UpdaterController&) = delete;
    UpdaterController& operator=(const UpdaterController&) = delete;

    Updater& updater() { return updater_; }

private:
    Updater updater_;
};

} // namespace fennick
