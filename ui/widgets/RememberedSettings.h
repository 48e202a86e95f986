#pragma once

// The settings a window starts from: those last chosen in any window, kept between launches in the
// user's settings file (QSettings), and the folder the last source came from.

#include "FennickEngine.h"

#include <QString>

class QSettings;

namespace fennick {

// What `store` holds; the default of any value that is missing or not one the window offers.
ConversionSettings rememberedSettings(const QSettings& store);
void rememberSettings(QSettings& store, const ConversionSettings& settings);

QString rememberedSourceFolder(const QSettings& store); // empty when none was kept
void rememberSourceFolder(QSettings& store, const QString& folder);

} // namespace fennick
