#pragma once

// Loudness and peaks as the windows show them: the engine's wording, with numbers in the user's locale.

#include "FennickEngine.h"

#include <QLocale>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace fennick {

// The engine's DecimalText in `locale`: "14.3"; "14,3" in German.
DecimalText localeDecimalText(const QLocale& locale = QLocale());

// "−14.2 LUFS · true peak −1.0 dBTP · LRA 6.3 LU"
QString levelLine(const LevelFigures& figures, const QLocale& locale = QLocale());

// The line under "Saved …": the output's figures, and after a line separator (U+2028) what the gain stage did
// ("Gain −2.4 dB, lowered by 1.4 dB to keep true peak below −1.0 dBTP."); nothing for an output
// that was not measured.
std::optional<QString> resultLevelLine(const ConversionReport& report, const QLocale& locale = QLocale());

// One level with its unit, as the batch window's columns show it: "−14.2 LUFS", "−1.0 dBTP".
QString levelWithUnit(double value, const char* unit, const QLocale& locale = QLocale());

// "Album loudness −14.2 LUFS" for the outputs' meters together; nothing without a meter.
std::optional<QString> albumLoudnessLine(
    const std::vector<std::shared_ptr<const LevelMeter>>& meters, const QLocale& locale = QLocale());

} // namespace fennick
