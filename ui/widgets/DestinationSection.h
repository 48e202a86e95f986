#pragma once

// Step 2: the target sample rate, the output format, and the dither picker that only integer
// output has.

#include "FennickEngine.h"
#include "FormParts.h"
#include "OtherRateDialog.h"

#include <functional>

class QComboBox;
class QLabel;

namespace fennick {

class LevelControls;

class DestinationSection : public QGroupBox {
    Q_OBJECT
public:
    explicit DestinationSection(QWidget* parent = nullptr);

    void render(const ConversionSettings& settings);
    // "About 12.3 MB", under the format; hidden when empty.
    void setEstimatedSize(const QString& text);
    // The dialog behind "Other…"; askForOtherRate unless replaced.
    void setOtherRateDialog(OtherRateDialog dialog) { otherRateDialog_ = std::move(dialog); }

    QComboBox* sampleRatePicker() const { return sampleRatePicker_; }
    QComboBox* formatPicker() const { return formatPicker_; }
    QComboBox* ditherPicker() const { return ditherPicker_; }
    QLabel* ditherHelp() const { return ditherHelp_; }
    QLabel* ditherLabel() const { return ditherLabel_; }
    LevelControls* levelControls() const { return levelControls_; }

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
    QLabel* ditherLabel_;
    QLabel* estimateValue_;
    int estimateRow_ = -1;
    OtherRateDialog otherRateDialog_ = askForOtherRate;
    LevelControls* levelControls_;
};

// Picker row labels, one per case in declaration order.
QString pickerLabel(TargetSampleRate rate);
QString pickerLabel(OutputFormat format);

// The one line of help under the dither picker for each choice.
QString ditherHelpText(Dither dither);

} // namespace fennick
