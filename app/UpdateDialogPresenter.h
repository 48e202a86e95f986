#pragma once

#include "UpdatePresenter.h"

namespace fennick {

// Shows the outcome of an update check in a message box that does not block: the check's caller returns
// at once and the box closes itself.
class UpdateDialogPresenter final : public UpdatePresenter {
public:
    void showUpdateAvailable(const AppcastItem& newest, const QString& currentVersion) override;
    void showUpToDate(const QString& currentVersion) override;
    void showCheckFailed(const QString& reason) override;
};

} // namespace fennick
