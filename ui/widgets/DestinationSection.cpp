#include "DestinationSection.h"

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

QString ditherHelpText(Dither dither)
{
    switch (dither) {
    case Dither::none:
        return QStringLiteral("Rounds to the nearest step; quiet fades keep their quantization distortion.");
    case Dither::tpdf: return QStringLiteral("Flat triangular noise that masks quantization distortion. Recommended.");
    case Dither::shapedLight:
        return QStringLiteral("The noise moved gently toward the top of the band: quieter to the ear.");
    case Dither::shaped:
        return QStringLiteral("The noise moved as far as it stably goes from where hearing is keenest.");
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

    ditherPicker_ = new QComboBox(this);
    ditherPicker_->setObjectName(QStringLiteral("ditherPicker"));
    ditherPicker_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (auto dither : allCases<Dither>()) {
        ditherPicker_->addItem(QString::fromUtf8(ditherName(dither)));
        ditherPicker_->setItemData(ditherPicker_->count() - 1, ditherHelpText(dither), Qt::ToolTipRole);
    }
    auto* pickerRow = new QWidget(this);
    auto* pickerForm = new QFormLayout(pickerRow);
    pickerForm->setContentsMargins(0, 0, 0, 0);
    addLabelledRow(pickerForm, QStringLiteral("Dither"), ditherPicker_, ditherPicker_);
    ditherHelp_ = makeHelpText(ditherHelpText(Dither::tpdf));
    ditherHelp_->setObjectName(QStringLiteral("ditherHelp"));
    ditherGroup_ = makeControlGroup(pickerRow, ditherHelp_, this);
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
    // None and TPDF for 16 bits are what the options' switch has always said; any other choice is
    // kept as the settings' own.
    connect(ditherPicker_, &QComboBox::activated, this, [this](int index) {
        edit([index](ConversionSettings& s) {
            const Dither dither = allCases<Dither>().at(static_cast<std::size_t>(index));
            const bool int16 = s.format == OutputFormat::int16;
            const bool saidBySwitch = dither == Dither::none || (int16 && dither == Dither::tpdf);
            if (int16 && saidBySwitch) s.options.dither = dither == Dither::tpdf;
            s.dither = saidBySwitch ? std::nullopt : std::optional(dither);
        });
    });
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
    const QSignalBlocker ditherBlocker(ditherPicker_);
    // The window only ever sets one of the picker's rates; any other shows none.
    const std::optional<TargetSampleRate> rate = fromRawValue<TargetSampleRate>(settings.targetRate);
    sampleRatePicker_->setCurrentIndex(rate ? static_cast<int>(ordinal(*rate)) : -1);
    formatPicker_->setCurrentIndex(static_cast<int>(ordinal(settings.format)));

    // Float output is never dithered: there the picker shows None without forgetting the choice.
    const bool ditherApplies = settings.format != OutputFormat::float32;
    const Dither dither = ditherFor(settings);
    ditherPicker_->setCurrentIndex(static_cast<int>(ordinal(dither)));
    ditherHelp_->setText(ditherHelpText(dither));
    ditherPicker_->setEnabled(ditherApplies);
    ditherOpacity_->setOpacity(ditherApplies ? 1.0 : kInapplicableOpacity);
}

} // namespace fennick
