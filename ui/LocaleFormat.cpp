#include "LocaleFormat.h"

#include <cmath>

namespace fennick {

QString sampleRateText(double hertz, const QLocale& locale)
{
    // Rounding to whole thousandths of a kilohertz first keeps the shortest form to at most three
    // fraction digits: n / 1000.0 is the double nearest to the decimal n/1000, which prints as itself.
    const double kilohertz = std::round(hertz) / 1000.0;
    return locale.toString(kilohertz, 'f', QLocale::FloatingPointShortest) + QStringLiteral(" kHz");
}

QString bandwidthText(double percent, const QLocale& locale)
{
    return QStringLiteral("Bandwidth: ") + locale.toString(percent, 'f', 1) + QStringLiteral("%");
}

QString percentageText(double fraction)
{
    return QString::asprintf("%lld%%", static_cast<long long>(fraction * 100.0));
}

} // namespace fennick
