#pragma once

// Step 1's logic without widgets: reading a chosen file's header into the window state, and
// picking the file to load from a drop.

#include "ContentState.h"

#include <QList>
#include <QUrl>

#include <optional>

namespace fennick {

// Reads the header of `url` and fills sourceURL, fileName, sampleRate, sourceFormat,
// sourceMetadata and errorMessage: all four of sourceURL, sampleRate, sourceFormat and
// sourceMetadata on success (clearing both message lines and any clip warning), none of them on
// failure ("Could not read file: …", conversionMessage kept).
// Never throws; the file is closed again before it returns.
void loadSourceFile(ContentState& state, const QUrl& url);

// The first URL whose last extension, lower-cased, is exactly "wav"; nothing when none is.
std::optional<QUrl> firstWavUrl(const QList<QUrl>& urls);

} // namespace fennick
