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

QString filterCaption(const FilterResponse& response, const QLocale& locale)
{
    if (!std::isfinite(response.minus3DbHz)) return QStringLiteral("Equal rates: the samples pass through unfiltered.");
    // A typographic minus, as the figures are read, not typed.
    const auto decibels = [&locale](double level) {
        return (level < 0 ? QStringLiteral("\u2212") : QString()) + locale.toString(std::abs(level), 'f', 0)
            + QStringLiteral(" dB");
    };
    QString text = QStringLiteral("\u22123 dB at ") + locale.toString(response.minus3DbHz / 1000.0, 'f', 1)
        + QStringLiteral(" kHz");
    if (std::isfinite(response.stopbandDb)) text += QStringLiteral(" \u00b7 stopband ") + decibels(response.stopbandDb);
    return text + QStringLiteral(" \u00b7 latency ") + locale.toString(response.latencySeconds() * 1000.0, 'f', 1)
        + QStringLiteral(" ms");
}

NumberText localeNumberText(const QLocale& locale)
{
    return [locale](double value) { return locale.toString(value, 'f', QLocale::FloatingPointShortest).toStdString(); };
}

QString percentageText(double fraction)
{
    return QString::asprintf("%lld%%", static_cast<long long>(fraction * 100.0));
}

} // namespace fennick
