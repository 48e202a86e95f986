#pragma once

// Numbers as the window shows them, in the given (normally the user's current) locale.

#include "FennickEngine.h"

#include <QLocale>
#include <QString>

namespace fennick {

// Hertz as kilohertz with 0 to 3 fraction digits, trailing zeros dropped: "44.1 kHz", "48 kHz",
// "11.025 kHz"; "44,1 kHz" with a decimal comma.
QString sampleRateText(double hertz, const QLocale& locale = QLocale());

// "Bandwidth: 91.3%", always exactly one fraction digit.
QString bandwidthText(double percent, const QLocale& locale = QLocale());

// The measured filter's figures in one line: "−3 dB at 20.1 kHz · stopband −170 dB · latency 1.2 ms";
// between equal rates, that nothing filters the samples.
QString filterCaption(const FilterResponse& response, const QLocale& locale = QLocale());

// The engine's NumberText in `locale`: "1,234", "0.31"; "1.234", "0,31" in German.
NumberText localeNumberText(const QLocale& locale = QLocale());

// The run's progress as a whole percentage, truncated toward zero: 0.999 gives "99%".
QString percentageText(double fraction);

} // namespace fennick
