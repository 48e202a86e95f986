#include "OtherRateDialog.h"

#include "LocaleFormat.h"

#include <QInputDialog>

#include <cmath>

namespace fennick {

QList<double> otherRatesOffered() { return {8000, 11025, 16000, 22050, 32000, 352800, 384000}; }

std::optional<double> parseKilohertz(const QString& text, const QLocale& locale)
{
    QString number = text.trimmed();
    if (number.endsWith(QStringLiteral("kHz"), Qt::CaseInsensitive)) number.chop(3);
    bool ok = false;
    const double kilohertz = locale.toDouble(number.trimmed(), &ok);
    if (!ok || !std::isfinite(kilohertz)) return std::nullopt;
    const double hertz = std::round(kilohertz * 1000.0);
    // A rate given to more places than whole hertz is not a rate the converter takes.
    if (std::abs(hertz - kilohertz * 1000.0) > 1e-6 * hertz || hertz < 1000 || hertz > 768000) return std::nullopt;
    return hertz;
}

std::optional<double> askForOtherRate(QWidget* parent, double currentRate)
{
    QStringList offered;
    for (const double rate : otherRatesOffered()) offered << sampleRateText(rate);
    QString current = sampleRateText(currentRate);
    if (!offered.contains(current)) offered.prepend(current);
    for (;;) {
        bool accepted = false;
        const QString text = QInputDialog::getItem(parent, QStringLiteral("Other Sample Rate"),
            QStringLiteral("Sample rate in kHz (1 to 768, a whole number of hertz):"), offered,
            static_cast<int>(offered.indexOf(current)), true, &accepted);
        if (!accepted) return std::nullopt;
        if (const auto rate = parseKilohertz(text)) return rate;
        current = text; // asked again, with what was typed
        if (!offered.contains(current)) offered.prepend(current);
    }
}

} // namespace fennick
