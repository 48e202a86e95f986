#pragma once

#include "UpdaterViewModel.h"

#include <QAction>

namespace fennick {

class Updater;

// The "Check for Updates…" menu command: enabled exactly while its model says a check may start, which is
// never before the model's first posted value has arrived.
class CheckForUpdatesView : public QAction {
    Q_OBJECT

public:
    // `updater` must outlive this command.
    explicit CheckForUpdatesView(Updater& updater, QObject* parent = nullptr);

    const UpdaterViewModel& model() const { return model_; }

private:
    Updater& updater_;
    UpdaterViewModel model_;
};

} // namespace fennick
