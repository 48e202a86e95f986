#include "UpdaterController.h"

#include "BuildConfig.h"

namespace fennick {

UpdaterController::UpdaterController(bool startingUpdater)
    : updater_(QUrl(QString::fromUtf8(buildConfig::updateFeedUrl)), QString::fromUtf8(buildConfig::version),
          presenter_)
{
    if (startingUpdater)
        updater_.start();
}

} // namespace fennick
