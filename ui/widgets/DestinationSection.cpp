#include "DestinationSection.h"

#include "LocaleFormat.h"

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
    // The six common rates, then the rate chosen through "Other…" when it is none of them, then "Other…".
    for (auto rate : allCases<TargetSampleRate>()) sampleRatePicker_->addItem(pickerLabel(rate), rawValue(rate));
    sampleRatePicker_->addItem(QStringLiteral("Other\u2026"));
    addLabelledRow(form, QStringLiteral("Sample &rate"), sampleRatePicker_, sampleRatePicker_);

    formatPicker_ = new QComboBox(this);
    formatPicker_->setObjectName(QStringLiteral("formatPicker"));
    for (auto format : allCases<OutputFormat>()) formatPicker_->addItem(pickerLabel(format));
    addLabelledRow(form, QStringLiteral("F&ormat"), formatPicker_, formatPicker_);
    // Pickers keep their natural width, as in step 3.
    for (QComboBox* picker : {sampleRatePicker_, formatPicker_})
        picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    estimateValue_ = new QLabel(this);
    estimateValue_->setObjectName(QStringLiteral("estimateValue"));
    addLabelledRow(form, QStringLiteral("Estimated size"), estimateValue_, estimateValue_);
    estimateRow_ = form->rowCount() - 1;
    form->setRowVisible(estimateRow_, false);

    ditherToggle_ = new QCheckBox(QStringLiteral("16-bit TPDF &dither"), this);
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
        std::optional<double> rate;
        if (const QVariant data = sampleRatePicker_->itemData(index); data.isValid()) {
            rate = data.toDouble();
        } else {
            rate = otherRateDialog_(this, settings_.targetRate);
        }
        if (!rate) {
            render(settings_); // back to the rate that was chosen
            return;
        }
        edit([rate](ConversionSettings& s) { s.targetRate = *rate; });
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
    // A rate from "Other…" has a row of its own just above it, for as long as it is chosen.
    const int common = static_cast<int>(allCases<TargetSampleRate>().size());
    const bool isCommon = fromRawValue<TargetSampleRate>(settings.targetRate).has_value();
    if (sampleRatePicker_->count() > common + 1) sampleRatePicker_->removeItem(common);
    if (!isCommon) sampleRatePicker_->insertItem(common, sampleRateText(settings.targetRate), settings.targetRate);
    sampleRatePicker_->setCurrentIndex(static_cast<int>(sampleRatePicker_->findData(settings.targetRate)));
    formatPicker_->setCurrentIndex(static_cast<int>(ordinal(settings.format)));

    // Dither is libsoxr's only for 16-bit output; elsewhere show it off without forgetting it.
    const bool ditherApplies = settings.format == OutputFormat::int16;
    ditherToggle_->setChecked(ditherApplies && settings.options.dither);
    ditherToggle_->setEnabled(ditherApplies);
    ditherOpacity_->setOpacity(ditherApplies ? 1.0 : kInapplicableOpacity);
}

void DestinationSection::setEstimatedSize(const QString& text)
{
    estimateValue_->setText(text);
    static_cast<QFormLayout*>(layout())->setRowVisible(estimateRow_, !text.isEmpty());
}

} // namespace fennick
