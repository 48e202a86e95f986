#pragma once

// Step 2: the file type, the target sample rate, the output format (those the type cannot hold
// dimmed, with the reason), and the dither picker that only integer output has.

#include "FennickEngine.h"
#include "FormParts.h"
#include "OtherRateDialog.h"

#include <functional>
#include <optional>

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

    // Tells under the format that `format` gave way to the type chosen elsewhere (a name's extension).
    void formatGaveWay(OutputFormat format) { formatGivenUp_ = format; }

    QComboBox* typePicker() const { return typePicker_; }
    QLabel* typeHelp() const { return typeHelp_; }
    QComboBox* sampleRatePicker() const { return sampleRatePicker_; }
    QComboBox* formatPicker() const { return formatPicker_; }
    QLabel* formatNote() const { return formatNote_; } // why a format is dimmed; hidden when none is
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
    std::optional<OutputFormat> formatGivenUp_; // to the last type chosen, until the format is chosen again
    QComboBox* typePicker_;
    QLabel* typeHelp_;
    QComboBox* sampleRatePicker_;
    QComboBox* formatPicker_;
    QLabel* formatNote_;
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
