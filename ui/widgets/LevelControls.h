#pragma once

// Step 2's level controls: one gain for the whole file, a peak level it is lowered to stay below,
// and a loudness it is set to reach. Rows of the form they are added to; both windows use them.

#include "FennickEngine.h"

#include <QObject>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QWidget;

namespace fennick {

class LevelControls : public QObject {
    Q_OBJECT
public:
    static constexpr double kDefaultCeilingDb = -1.0; // dBTP, as streaming and broadcast ask
    static constexpr double kDefaultLoudnessLufs = -16.0;

    // Adds the rows to `form`; the controls are children of `parent`.
    LevelControls(QFormLayout* form, QWidget* parent);

    // Shows `settings`; off fields keep the level last typed, for when they are turned on again.
    void render(const ConversionSettings& settings);

    QDoubleSpinBox* gainField() const { return gainField_; }
    QCheckBox* ceilingToggle() const { return ceilingToggle_; }
    QDoubleSpinBox* ceilingField() const { return ceilingField_; }
    QComboBox* ceilingKindPicker() const { return ceilingKindPicker_; }
    QCheckBox* loudnessToggle() const { return loudnessToggle_; }
    QDoubleSpinBox* loudnessField() const { return loudnessField_; }

signals:
    // The whole record after one control changed it.
    void settingsEdited(const fennick::ConversionSettings& settings);

private:
    void edit(); // the settings as the controls now say

    ConversionSettings settings_; // as last rendered
    QDoubleSpinBox* gainField_;
    QCheckBox* ceilingToggle_;
    QDoubleSpinBox* ceilingField_;
    QComboBox* ceilingKindPicker_;
    QCheckBox* loudnessToggle_;
    QDoubleSpinBox* loudnessField_;
};

// `settings` with no gain, no ceiling and no loudness target: what "Reset to defaults" leaves.
ConversionSettings withDefaultLevel(ConversionSettings settings);

} // namespace fennick
