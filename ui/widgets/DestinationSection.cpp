#include "DestinationSection.h"

#include "LevelControls.h"
#include "LocaleFormat.h"
#include "OutputTypeChoice.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QStandardItemModel>

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

    typePicker_ = new QComboBox(this);
    typePicker_->setObjectName(QStringLiteral("typePicker"));
    for (auto type : allCases<OutputType>()) typePicker_->addItem(pickerLabel(type));
    typeHelp_ = makeHelpText(outputTypeHelpText(OutputType::wav));
    typeHelp_->setObjectName(QStringLiteral("typeHelp"));
    addLabelledRow(form, QStringLiteral("File t&ype"), makeControlColumn(typePicker_, typeHelp_), typePicker_);

    sampleRatePicker_ = new QComboBox(this);
    sampleRatePicker_->setObjectName(QStringLiteral("sampleRatePicker"));
    // The six common rates, then the rate chosen through "Other…" when it is none of them, then "Other…".
    for (auto rate : allCases<TargetSampleRate>()) sampleRatePicker_->addItem(pickerLabel(rate), rawValue(rate));
    sampleRatePicker_->addItem(QStringLiteral("Other\u2026"));
    addLabelledRow(form, QStringLiteral("Sample &rate"), sampleRatePicker_, sampleRatePicker_);

    formatPicker_ = new QComboBox(this);
    formatPicker_->setObjectName(QStringLiteral("formatPicker"));
    for (auto format : allCases<OutputFormat>()) formatPicker_->addItem(pickerLabel(format));
    formatNote_ = makeHelpText(QString());
    formatNote_->setObjectName(QStringLiteral("formatNote"));
    addLabelledRow(form, QStringLiteral("F&ormat"), makeControlColumn(formatPicker_, formatNote_), formatPicker_);
    // Pickers keep their natural width, as in step 3.
    for (QComboBox* picker : {typePicker_, sampleRatePicker_, formatPicker_})
        picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    estimateValue_ = new QLabel(this);
    estimateValue_->setObjectName(QStringLiteral("estimateValue"));
    addLabelledRow(form, QStringLiteral("Estimated size"), estimateValue_, estimateValue_);
    estimateRow_ = form->rowCount() - 1;
    form->setRowVisible(estimateRow_, false);

    ditherPicker_ = new QComboBox(this);
    ditherPicker_->setObjectName(QStringLiteral("ditherPicker"));
    ditherPicker_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (auto dither : allCases<Dither>()) {
        ditherPicker_->addItem(QString::fromUtf8(ditherName(dither)));
        ditherPicker_->setItemData(ditherPicker_->count() - 1, ditherHelpText(dither), Qt::ToolTipRole);
    }
    ditherHelp_ = makeHelpText(ditherHelpText(Dither::tpdf));
    ditherHelp_->setObjectName(QStringLiteral("ditherHelp"));
    // Picker and help as a column beside the label, the picker its sibling, as Linux screen readers
    // need to name it.
    ditherLabel_
        = addLabelledRow(form, QStringLiteral("Dither"), makeControlColumn(ditherPicker_, ditherHelp_), ditherPicker_);

    levelControls_ = new LevelControls(form, this);
    connect(levelControls_, &LevelControls::settingsEdited, this, &DestinationSection::settingsEdited);

    connect(typePicker_, &QComboBox::activated, this, [this](int index) {
        edit([this, index](ConversionSettings& s) {
            formatGivenUp_ = chooseOutputType(s, allCases<OutputType>().at(static_cast<std::size_t>(index)));
        });
    });
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
        formatGivenUp_.reset();
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
    const QSignalBlocker typeBlocker(typePicker_);
    const QSignalBlocker rateBlocker(sampleRatePicker_);
    const QSignalBlocker formatBlocker(formatPicker_);
    const QSignalBlocker ditherBlocker(ditherPicker_);
    // A rate from "Other…" has a row of its own just above it, for as long as it is chosen.
    const int common = static_cast<int>(allCases<TargetSampleRate>().size());
    const bool isCommon = fromRawValue<TargetSampleRate>(settings.targetRate).has_value();
    if (sampleRatePicker_->count() > common + 1) sampleRatePicker_->removeItem(common);
    if (!isCommon) sampleRatePicker_->insertItem(common, sampleRateText(settings.targetRate), settings.targetRate);
    sampleRatePicker_->setCurrentIndex(static_cast<int>(sampleRatePicker_->findData(settings.targetRate)));
    typePicker_->setCurrentIndex(static_cast<int>(ordinal(settings.type)));
    typeHelp_->setText(outputTypeHelpText(settings.type));
    typePicker_->setAccessibleDescription(typeHelp_->text());
    formatPicker_->setCurrentIndex(static_cast<int>(ordinal(settings.format)));

    // A format the type cannot hold is dimmed, with the engine's reason under the picker and on the
    // row itself; when choosing the type moved the format off it, the note says so.
    QStringList note;
    auto* formats = static_cast<QStandardItemModel*>(formatPicker_->model());
    for (auto format : allCases<OutputFormat>()) {
        const bool holds = canHold(settings.type, format);
        const QString reason = holds ? QString() : QString::fromStdString(cannotHoldSentence(settings.type, format));
        QStandardItem* item = formats->item(static_cast<int>(ordinal(format)));
        item->setEnabled(holds);
        item->setToolTip(reason);
        if (!holds) note << reason;
    }
    if (formatGivenUp_ && !canHold(settings.type, *formatGivenUp_) && settings.format != *formatGivenUp_) {
        note << QStringLiteral("%1 was changed to %2.")
                    .arg(pickerLabel(*formatGivenUp_), pickerLabel(settings.format).toLower());
    }
    formatNote_->setText(note.join(QLatin1Char(' ')));
    formatNote_->setVisible(!note.isEmpty());
    formatPicker_->setAccessibleDescription(formatNote_->text());

    // Float output is never dithered: there the picker shows None without forgetting the choice.
    const bool ditherApplies = settings.format != OutputFormat::float32;
    const Dither dither = ditherFor(settings);
    ditherPicker_->setCurrentIndex(static_cast<int>(ordinal(dither)));
    ditherHelp_->setText(ditherHelpText(dither));
    ditherPicker_->setEnabled(ditherApplies);
    // The whole row dims, its label and help text with the picker.
    ditherLabel_->setEnabled(ditherApplies);
    ditherHelp_->setEnabled(ditherApplies);
    levelControls_->render(settings);
}

void DestinationSection::setEstimatedSize(const QString& text)
{
    estimateValue_->setText(text);
    static_cast<QFormLayout*>(layout())->setRowVisible(estimateRow_, !text.isEmpty());
}

} // namespace fennick
