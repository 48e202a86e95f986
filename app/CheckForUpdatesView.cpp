#include "CheckForUpdatesView.h"

#include "Updater.h"

namespace fennick {

CheckForUpdatesView::CheckForUpdatesView(Updater& updater, QObject* parent)
    : QAction(QStringLiteral("Check for Updates\u2026"), parent), updater_(updater), model_(updater)
{
    // On macOS this places the command in the application menu, next to About.
    setMenuRole(QAction::ApplicationSpecificRole);
    setEnabled(model_.canCheckForUpdates());
    connect(&model_, &UpdaterViewModel::canCheckForUpdatesChanged, this, &QAction::setEnabled);
    connect(this, &QAction::triggered, this, [this] { updater_.checkForUpdates(); });
}

} // namespace fennick
