#include "LevelControls.h"

#include "FormParts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QSignalBlocker>

namespace fennick {

namespace {

QDoubleSpinBox* makeLevelField(
    const QString& objectName, double low, double high, double step, const QString& unit, QWidget* parent)
{
    auto* field = new QDoubleSpinBox(parent);
    field->setObjectName(objectName);
    field->setRange(low, high);
    field->setDecimals(1);
    field->setSingleStep(step);
    field->setSuffix(unit);
    // A typed level counts once it is confirmed, not at each keystroke.
    field->setKeyboardTracking(false);
    field->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return field;
}

} // namespace

ConversionSettings withDefaultLevel(ConversionSettings settings)
{
    const ConversionSettings defaults;
    settings.gainDb = defaults.gainDb;
    settings.ceiling = defaults.ceiling;
    settings.loudnessTargetLufs = defaults.loudnessTargetLufs;
    return settings;
}

LevelControls::LevelControls(QFormLayout* form, QWidget* parent) : QObject(parent)
{
    gainField_
        = makeLevelField(QStringLiteral("gainField"), kMinGainDb, kMaxGainDb, 0.5, QStringLiteral(" dB"), parent);
    addLabelledRow(form, QStringLiteral("&Gain"),
        makeControlColumn(gainField_,
            makeHelpText(QStringLiteral("One gain for the whole file, applied before the samples are rounded."))),
        gainField_);

    ceilingToggle_ = new QCheckBox(QStringLiteral("&Keep peaks below"), parent);
    ceilingToggle_->setObjectName(QStringLiteral("ceilingToggle"));
    ceilingField_ = makeLevelField(QStringLiteral("ceilingField"), -20.0, 0.0, 0.1, QString(), parent);
    ceilingField_->setValue(kDefaultCeilingDb);
    ceilingField_->setAccessibleName(QStringLiteral("Peak level"));
    ceilingKindPicker_ = new QComboBox(parent);
    ceilingKindPicker_->setObjectName(QStringLiteral("ceilingKindPicker"));
    ceilingKindPicker_->addItems({QStringLiteral("dBTP"), QStringLiteral("dBFS")}); // PeakCeiling::Kind's order
    ceilingKindPicker_->setAccessibleName(QStringLiteral("Peak measure"));
    loudnessToggle_ = new QCheckBox(QStringLiteral("Lo&udness"), parent);
    loudnessToggle_->setObjectName(QStringLiteral("loudnessToggle"));
    loudnessField_ = makeLevelField(QStringLiteral("loudnessField"), -60.0, 0.0, 0.5, QStringLiteral(" LUFS"), parent);
    loudnessField_->setValue(kDefaultLoudnessLufs);
    loudnessField_->setAccessibleName(QStringLiteral("Loudness target"));
    // Both under one explanation, as they work together: the window stays short enough for the plot.
    // Toggles in one column, their fields lined up in the next.
    auto* toggles = new QWidget(parent);
    auto* grid = new QGridLayout(toggles);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->addWidget(ceilingToggle_, 0, 0);
    grid->addWidget(ceilingField_, 0, 1);
    grid->addWidget(ceilingKindPicker_, 0, 2, Qt::AlignLeft);
    grid->addWidget(loudnessToggle_, 1, 0);
    grid->addWidget(loudnessField_, 1, 1, 1, 2, Qt::AlignLeft);
    grid->setColumnStretch(3, 1);
    auto* help = makeHelpText(QStringLiteral("A peak limit only lowers the gain; dBTP also counts the peaks between "
                                             "samples. A loudness target sets the one gain that reaches it, and a "
                                             "peak limit still wins."));
    for (QWidget* control : QList<QWidget*>{ceilingToggle_, ceilingField_, loudnessToggle_, loudnessField_})
        control->setAccessibleDescription(help->text());
    form->addRow(QString(), makeControlGroup(toggles, help, parent));

    // The gain as typed; the other controls leave a finer one (remembered, or set from outside) as it is.
    connect(gainField_, &QDoubleSpinBox::valueChanged, this, [this](double gain) {
        ConversionSettings settings = settings_;
        settings.gainDb = gain;
        emit settingsEdited(settings);
    });
    for (QDoubleSpinBox* field : {ceilingField_, loudnessField_})
        connect(field, &QDoubleSpinBox::valueChanged, this, &LevelControls::edit);
    for (QCheckBox* toggle : {ceilingToggle_, loudnessToggle_})
        connect(toggle, &QCheckBox::clicked, this, &LevelControls::edit);
    connect(ceilingKindPicker_, &QComboBox::activated, this, &LevelControls::edit);
}

void LevelControls::edit()
{
    ConversionSettings settings = settings_;
    settings.ceiling.reset();
    if (ceilingToggle_->isChecked()) {
        settings.ceiling = PeakCeiling{ceilingField_->value(),
            ceilingKindPicker_->currentIndex() == 1 ? PeakCeiling::Kind::samplePeak : PeakCeiling::Kind::truePeak};
    }
    settings.loudnessTargetLufs.reset();
    if (loudnessToggle_->isChecked()) settings.loudnessTargetLufs = loudnessField_->value();
    if (settings != settings_) emit settingsEdited(settings);
}

void LevelControls::render(const ConversionSettings& settings)
{
    settings_ = settings;
    const QSignalBlocker gainBlocker(gainField_);
    const QSignalBlocker ceilingBlocker(ceilingField_);
    const QSignalBlocker kindBlocker(ceilingKindPicker_);
    const QSignalBlocker loudnessBlocker(loudnessField_);
    gainField_->setValue(settings.gainDb);
    ceilingToggle_->setChecked(settings.ceiling.has_value());
    if (settings.ceiling) {
        ceilingField_->setValue(settings.ceiling->level);
        ceilingKindPicker_->setCurrentIndex(settings.ceiling->kind == PeakCeiling::Kind::samplePeak ? 1 : 0);
    }
    loudnessToggle_->setChecked(settings.loudnessTargetLufs.has_value());
    if (settings.loudnessTargetLufs) loudnessField_->setValue(*settings.loudnessTargetLufs);
    // A loudness target sets the gain itself; what is typed there is kept for when it is off.
    gainField_->setEnabled(!settings.loudnessTargetLufs);
    ceilingField_->setEnabled(settings.ceiling.has_value());
    ceilingKindPicker_->setEnabled(settings.ceiling.has_value());
    loudnessField_->setEnabled(settings.loudnessTargetLufs.has_value());
}

} // namespace fennick
