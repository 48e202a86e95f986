#include "Updater.h"

namespace fennick {

void Updater::setCanCheckForUpdates(bool value)
{
    if (canCheckForUpdates_.exchange(value) != value)
        emit canCheckForUpdatesChanged();
}

} // namespace fennick
