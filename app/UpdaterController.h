#pragma once

#include "AppcastUpdater.h"
#include "UpdateDialogPresenter.h"

namespace fennick {

// The update layer's entry point: owns the updater and the dialogs it shows. Created once, at application
// start, and kept until the process ends.
class UpdaterController {
public:
    // The feed and the running version come from the build configuration. With `startingUpdater` the
    // updater is started at once, so the menu command can become enabled as soon as its window exists.
    explicit UpdaterController(bool startingUpdater);

    UpdaterController(const UpdaterController&) = delete;
    UpdaterController& operator=(const UpdaterController&) = delete;

    Updater& updater() { return updater_; }

private:
    UpdateDialogPresenter presenter_;
    AppcastUpdater updater_;
};

} // namespace fennick
