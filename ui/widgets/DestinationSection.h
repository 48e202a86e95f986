#pragma once

// Step 2: the target sample rate, the output format, and the dither picker that only integer
// output has.

#include "FennickEngine.h"
#include "FormParts.h"

#include <functional>

class QComboBox;
class QLabel;
class QGraphicsOpacityEffect;

namespace fennick {

class DestinationSection : public QGroupBox {
    Q_OBJECT
public:
    // Opacity of the dither group while it does not apply.
    static constexpr qreal kInapplicableOpacity = 0.4;

    explicit DestinationSection(QWidget* parent = nullptr);

    void render(const ConversionSettings& settings);

    QComboBox* sampleRatePicker() const { return sampleRatePicker_; }
    QComboBox* formatPicker() const { return formatPicker_; }
    QComboBox* ditherPicker() const { return ditherPicker_; }
    QLabel* ditherHelp() const { return ditherHelp_; }
    QWidget* ditherGroup() const { return ditherGroup_; }

signals:
    // The whole record after one control changed one field.
    void settingsEdited(const fennick::ConversionSettings& settings);

private:
    void edit(const std::function<void(ConversionSettings&)>& change);

    ConversionSettings settings_; // as last rendered
    QComboBox* sampleRatePicker_;
    QComboBox* formatPicker_;
    QComboBox* ditherPicker_;
    QLabel* ditherHelp_;
    QWidget* ditherGroup_;
    QGraphicsOpacityEffect* ditherOpacity_;
};

// Picker row labels, one per case in declaration order.
QString pickerLabel(TargetSampleRate rate);
QString pickerLabel(OutputFormat format);

// The one line of help under the dither picker for each choice.
QString ditherHelpText(Dither dither);

} // namespace fennick
