#pragma once

#include <QString>

namespace fennick {

struct AppcastItem;

// Where the outcome of a user-initiated update check is shown. The application shows dialogs; tests
// record the calls, so that no test ever waits in a modal dialog. Called on the main thread.
class UpdatePresenter {
public:
    virtual ~UpdatePresenter() = default;

    virtual void showUpdateAvailable(const AppcastItem& newest, const QString& currentVersion) = 0;
    virtual void showUpToDate(const QString& currentVersion) = 0;
    // `reason` is a complete sentence a user can act on.
    virtual void showCheckFailed(const QString& reason) = 0;
};

} // namespace fennick
