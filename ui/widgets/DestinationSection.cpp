#include "DestinationSection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QSignalBlocker>

namespace fennick {

QString pickerLabel(TargetSampleRate rate)
{
    switch (rate) {
    case TargetSampleRate::r44100: return QStringLiteral("44.1 kHz");
    case TargetSampleRate::r48000: return QStringLiteral("48 kHz");
    case TargetSampleRate::r88200: return QStringLiteral("88.2 kHz");
    case TargetSampleRate::r96000: return QStringLiteral("96 kHz");
    case TargetSampleRate::r176400: return QStringLiteral("176.4 kHz");
    case TargetSampleRate::r192000: return QStringLiteral("192 kHz");
    }
    return {};
}

QString pickerLabel(OutputFormat format)
{
    switch (format) {
    case OutputFormat::int16: return QStringLiteral("16-bit integer");
    case OutputFormat::int24: return QStringLiteral("24-bit integer");
    case OutputFormat::float32: return QStringLiteral("32-bit float");
    }
    return {};
}

DestinationSection::DestinationSection(QWidget* parent)
    : QGroupBox(QStringLiteral("Step 2 — Destination format"), parent)
{
    setObjectName(QStringLiteral("destinationSection"));
    auto* form = makeSectionForm(this);

    sampleRatePicker_ = new QComboBox(this);
    sampleRatePicker_->setObjectName(QStringLiteral("sampleRatePicker"));
    for (auto rate : allCases<TargetSampleRate>()) sampleRatePicker_->addItem(pickerLabel(rate));
    addLabelledRow(form, QStringLiteral("Sample rate"), sampleRatePicker_, sampleRatePicker_);

    formatPicker_ = new QComboBox(this);
    formatPicker_->setObjectName(QStringLiteral("formatPicker"));
    for (auto format : allCases<OutputFormat>()) formatPicker_->addItem(pickerLabel(format));
    addLabelledRow(form, QStringLiteral("Format"), formatPicker_, formatPicker_);
    // Pickers keep their natural width, as in step 3.
    for (QComboBox* picker : {sampleRatePicker_, formatPicker_})
        picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    ditherToggle_ = new QCheckBox(QStringLiteral("16-bit TPDF dither"), this);
    ditherToggle_->setObjectName(QStringLiteral("ditherToggle"));
    ditherGroup_ = makeControlGroup(ditherToggle_,
        makeHelpText(
            QStringLiteral("Adds a barely audible layer of triangular noise, masking quantization distortion on "
                           "quiet passages and fades. Recommended.")),
        this);
    ditherGroup_->setObjectName(QStringLiteral("ditherGroup"));
    ditherOpacity_ = new QGraphicsOpacityEffect(ditherGroup_);
    ditherOpacity_->setOpacity(1.0);
    ditherGroup_->setGraphicsEffect(ditherOpacity_);
    form->addRow(QString(), ditherGroup_);

    connect(sampleRatePicker_, &QComboBox::activated, this, [this](int index) {
        edit([index](ConversionSettings& s) {
            s.targetRate = rawValue(allCases<TargetSampleRate>().at(static_cast<std::size_t>(index)));
        });
    });
    connect(formatPicker_, &QComboBox::activated, this, [this](int index) {
        edit([index](
                 ConversionSettings& s) { s.format = allCases<OutputFormat>().at(static_cast<std::size_t>(index)); });
    });
    connect(ditherToggle_, &QCheckBox::clicked, this,
        [this](bool on) { edit([on](ConversionSettings& s) { s.options.dither = on; }); });
}

void DestinationSection::edit(const std::function<void(ConversionSettings&)>& change)
{
    ConversionSettings settings = settings_;
    change(settings);
    emit settingsEdited(settings);
}

void DestinationSection::render(const ConversionSettings& settings)
{
    settings_ = settings;
    const QSignalBlocker rateBlocker(sampleRatePicker_);
    const QSignalBlocker formatBlocker(formatPicker_);
    const QSignalBlocker ditherBlocker(ditherToggle_);
    // The window only ever sets one of the picker's rates; any other shows none.
    const std::optional<TargetSampleRate> rate = fromRawValue<TargetSampleRate>(settings.targetRate);
    sampleRatePicker_->setCurrentIndex(rate ? static_cast<int>(ordinal(*rate)) : -1);
    formatPicker_->setCurrentIndex(static_cast<int>(ordinal(settings.format)));

    // Dither is libsoxr's only for 16-bit output; elsewhere show it off without forgetting it.
    const bool ditherApplies = settings.format == OutputFormat::int16;
    ditherToggle_->setChecked(ditherApplies && settings.options.dither);
    ditherToggle_->setEnabled(ditherApplies);
    ditherOpacity_->setOpacity(ditherApplies ? 1.0 : kInapplicableOpacity);
}

} // namespace fennick
