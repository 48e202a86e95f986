#pragma once

// Numbers as the window shows them, in the given (normally the user's current) locale.

#include <QLocale>
#include <QString>

namespace fennick {

// Hertz as kilohertz with 0 to 3 fraction digits, trailing zeros dropped: "44.1 kHz", "48 kHz",
// "11.025 kHz"; "44,1 kHz" with a decimal comma.
QString sampleRateText(double hertz, const QLocale& locale = QLocale());

// "Bandwidth: 91.3%", always exactly one fraction digit.
QString bandwidthText(double percent, const QLocale& locale = QLocale());

// The run's progress as a whole percentage, truncated toward zero: 0.999 gives "99%".
QString percentageText(double fraction);

} // namespace fennick
