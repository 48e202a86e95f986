#pragma once

// "Other…" in the sample rate picker: any whole rate from 1 kHz to 768 kHz, typed in kilohertz or
// picked from the rates broadcast, voice and high-resolution work use beyond the picker's six.

#include <QList>
#include <QLocale>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace fennick {

// The rate chosen in hertz, or nothing when the dialog was cancelled; behind a function so that
// tests answer it without a modal dialog.
using OtherRateDialog = std::function<std::optional<double>(QWidget* parent, double currentRate)>;

// The rates offered, in hertz: 8, 11.025, 16, 22.05, 32, 352.8 and 384 kHz.
QList<double> otherRatesOffered();

// "22.05" or "22.05 kHz" (in `locale`'s numbers) as 22050 Hz; nothing unless it is a whole number
// of hertz from 1000 to 768000.
std::optional<double> parseKilohertz(const QString& text, const QLocale& locale = QLocale());

// The real dialog: an editable list of the offered rates, starting at `currentRate`.
std::optional<double> askForOtherRate(QWidget* parent, double currentRate);

} // namespace fennick
