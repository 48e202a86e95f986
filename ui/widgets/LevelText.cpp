#include "LevelText.h"

namespace fennick {

DecimalText localeDecimalText(const QLocale& locale)
{
    return [locale](double value, int decimals) { return locale.toString(value, 'f', decimals).toStdString(); };
}

QString levelLine(const LevelFigures& figures, const QLocale& locale)
{
    return QString::fromStdString(levelSentence(figures, localeDecimalText(locale)));
}

std::optional<QString> resultLevelLine(const ConversionReport& report, const QLocale& locale)
{
    if (!report.meter) return std::nullopt;
    QString line = levelLine(report.level, locale);
    if (const auto gain = gainSentence(report.gain, localeDecimalText(locale)))
        line += QChar(QChar::LineSeparator) + QString::fromStdString(*gain);
    return line;
}

QString levelWithUnit(double value, const char* unit, const QLocale& locale)
{
    return QString::fromStdString(levelText(value, localeDecimalText(locale))) + QLatin1Char(' ')
        + QString::fromUtf8(unit);
}

std::optional<QString> albumLoudnessLine(
    const std::vector<std::shared_ptr<const LevelMeter>>& meters, const QLocale& locale)
{
    if (meters.empty()) return std::nullopt;
    return QString::fromStdString(albumLoudnessSentence(albumLoudness(meters), localeDecimalText(locale)));
}

} // namespace fennick
