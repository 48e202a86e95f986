#pragma once

// Step 3: libsoxr's quality settings, each with its explanation, and "Reset to defaults".

#include "FennickEngine.h"
#include "FilterView.h"
#include "FormParts.h"

#include <functional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QSlider;

namespace fennick {
class FilterPlot;
}

namespace fennick {

class QualitySection : public SectionBox {
    Q_OBJECT
public:
    // The slider works in hundredths of a percent so that both ends are exact.
    static constexpr int kBandwidthSteps = 2570; // 74.00 … 99.70, as BandwidthSlider

    explicit QualitySection(QWidget* parent = nullptr);

    // The plot is drawn by its owner (filterPlot()), from the measurement it keeps. While a run
    // is under way nothing that would change it is `editable`; the plot's views stay live.
    void render(const ConversionSettings& settings, bool editable = true);

    static double bandwidthPercent(int sliderValue);
    static int sliderValue(double bandwidthPercent);

    QPushButton* resetButton() const { return resetButton_; }
    QComboBox* qualityPicker() const { return qualityPicker_; }
    QComboBox* phasePicker() const { return phasePicker_; }
    QComboBox* rolloffPicker() const { return rolloffPicker_; }
    QSlider* bandwidthSlider() const { return bandwidthSlider_; }
    QLabel* bandwidthLabel() const { return bandwidthLabel_; }
    QCheckBox* steepFilterToggle() const { return steepFilterToggle_; }
    QCheckBox* doublePrecisionToggle() const { return doublePrecisionToggle_; }
    QLabel* quickNote() const { return quickNote_; }
    QFormLayout* form() const { return form_; }
    FilterPlot* filterPlot() const { return filterPlot_; }

signals:
    // The whole record after one control changed one field, or "Reset to defaults" reset the
    // options, the dither choice and the level controls.
    void settingsEdited(const fennick::ConversionSettings& settings);
    void filterViewEdited(fennick::FilterView view);

private:
    void edit(const std::function<void(ConversionOptions&)>& change);

    ConversionSettings settings_; // as last rendered
    QPushButton* resetButton_;
    QComboBox* qualityPicker_;
    QComboBox* phasePicker_;
    QComboBox* rolloffPicker_;
    QSlider* bandwidthSlider_;
    QLabel* bandwidthLabel_;
    QList<QLabel*> filterLabels_; // of the rows Quick leaves without effect
    QCheckBox* steepFilterToggle_;
    QCheckBox* doublePrecisionToggle_;
    QFormLayout* form_;
    QLabel* quickNote_; // why the filter's settings are dimmed
    int quickNoteRow_ = -1;
    FilterPlot* filterPlot_;
};

QString pickerLabel(ConversionOptions::Precision precision);
QString pickerLabel(ConversionOptions::Phase phase);
QString pickerLabel(ConversionOptions::Rolloff rolloff);

} // namespace fennick
