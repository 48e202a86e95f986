#include "SourceSection.h"

#include "LocaleFormat.h"
#include "TextStyles.h"

#include <QDir>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace fennick {

SourceSection::SourceSection(QWidget* parent) : SectionBox(QStringLiteral("Step 1 — Source file"), parent)
{
    setObjectName(QStringLiteral("sourceSection"));
    form_ = makeSectionForm(this);

    auto* fileRow = new QWidget(this);
    auto* fileLayout = new QHBoxLayout(fileRow);
    fileLayout->setContentsMargins(0, 0, 0, 0);
    fileLayout->setSpacing(8);
    fileNameLabel_ = new QLabel(fileRow);
    fileNameLabel_->setObjectName(QStringLiteral("fileName"));
    fileNameLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fileNameLabel_->setTextFormat(Qt::PlainText);
    fileNameLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    chooseButton_ = new QPushButton(QStringLiteral("&Choose…"), fileRow);
    chooseButton_->setObjectName(QStringLiteral("chooseButton"));
    chooseButton_->setAutoDefault(true); // Return presses it while it has focus
    fileLayout->addStretch(0);
    fileLayout->addWidget(fileNameLabel_, 1);
    fileLayout->addWidget(chooseButton_);
    auto* fileLabel = addLabelledRow(form_, QStringLiteral("File"), fileRow, chooseButton_);
    fileLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form_->setAlignment(fileLabel, Qt::AlignVCenter);
    chooseButton_->setAccessibleName(QStringLiteral("Choose…"));
    chooseButton_->setAccessibleDescription(QStringLiteral("Choose the source file"));

    sampleRateValue_ = new QLabel(this);
    sampleRateValue_->setObjectName(QStringLiteral("sampleRateValue"));
    sampleRateValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    addLabelledRow(form_, QStringLiteral("Sample rate"), sampleRateValue_, sampleRateValue_);
    sampleRateRow_ = form_->rowCount() - 1;

    formatValue_ = new QLabel(this);
    formatValue_->setObjectName(QStringLiteral("formatValue"));
    formatValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    addLabelledRow(form_, QStringLiteral("Format"), formatValue_, formatValue_);
    formatRow_ = form_->rowCount() - 1;

    // What an engineer checks before converting: 5.1 is not stereo, and how long and large it is.
    QLabel** details[] = {&channelsValue_, &durationValue_, &sizeValue_};
    const char* detailNames[] = {"Channels", "Duration", "Size"};
    for (int i = 0; i < 3; ++i) {
        *details[i] = new QLabel(this);
        (*details[i])->setObjectName(QString::fromLatin1(detailNames[i]).toLower() + QStringLiteral("Value"));
        (*details[i])->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        addLabelledRow(form_, QString::fromLatin1(detailNames[i]), *details[i], *details[i]);
        detailRows_[i] = form_->rowCount() - 1;
    }

    levelValue_ = new QLabel(this);
    levelValue_->setObjectName(QStringLiteral("levelValue"));
    levelValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    addLabelledRow(form_, QStringLiteral("Level"), levelValue_, levelValue_);
    levelRow_ = form_->rowCount() - 1;

    noteLabel_ = makeHelpText(QString(), this);
    noteLabel_->setObjectName(QStringLiteral("sourceNote"));
    noteLabel_->setTextFormat(Qt::PlainText);
    form_->addRow(noteLabel_);
    noteRow_ = form_->rowCount() - 1;

    metadataValue_ = new QLabel(this);
    metadataValue_->setObjectName(QStringLiteral("metadataValue"));
    metadataValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    metadataValue_->setTextFormat(Qt::PlainText);
    addLabelledRow(form_, QStringLiteral("Metadata"), metadataValue_, metadataValue_);
    metadataRow_ = form_->rowCount() - 1;

    notCarriedLabel_ = makeHelpText(QString(), this);
    notCarriedLabel_->setObjectName(QStringLiteral("notCarriedNote"));
    notCarriedLabel_->setTextFormat(Qt::PlainText);
    notCarriedLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form_->addRow(notCarriedLabel_);
    notCarriedRow_ = form_->rowCount() - 1;

    auto* footer = makeHelpText(QStringLiteral("You can also drop an audio file anywhere in this window."), this);
    footer->setObjectName(QStringLiteral("sourceFooter"));
    form_->addRow(footer);

    connect(chooseButton_, &QPushButton::clicked, this, &SourceSection::chooseRequested);
    fileNameLabel_->installEventFilter(this);
}

bool SourceSection::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == fileNameLabel_ && event->type() == QEvent::Resize) elideFileName();
    return SectionBox::eventFilter(watched, event);
}

void SourceSection::elideFileName()
{
    fileNameLabel_->setText(
        fileNameLabel_->fontMetrics().elidedText(fileName_, Qt::ElideMiddle, fileNameLabel_->contentsRect().width()));
}

void SourceSection::render(const ContentState& state)
{
    fileName_ = state.fileName.value_or(QStringLiteral("No file selected"));
    elideFileName();
    fileNameLabel_->setToolTip(state.sourceURL ? QDir::toNativeSeparators(state.sourceURL->toLocalFile())
                                               : state.fileName.value_or(QString()));
    fileNameLabel_->setAccessibleName(fileName_);
    setSecondaryStyle(fileNameLabel_, !state.hasSource());
    chooseButton_->setEnabled(!state.isConverting); // the run's source stays the one shown

    form_->setRowVisible(sampleRateRow_, state.sampleRate.has_value());
    if (state.sampleRate) sampleRateValue_->setText(sampleRateText(*state.sampleRate));
    form_->setRowVisible(formatRow_, state.sourceFormat.has_value());
    if (state.sourceFormat) formatValue_->setText(*state.sourceFormat);
    form_->setRowVisible(noteRow_, state.sourceFormat.has_value() && !state.sourceNote.isEmpty());
    noteLabel_->setText(state.sourceNote);
    const QLocale locale;
    const std::optional<QString> details[] = {state.sourceChannels,
        state.sourceSeconds ? std::optional(QString::fromStdString(clockText(*state.sourceSeconds))) : std::nullopt,
        state.sourceBytes ? std::optional(locale.formattedDataSize(*state.sourceBytes, 1, QLocale::DataSizeSIFormat))
                          : std::nullopt};
    QLabel* values[] = {channelsValue_, durationValue_, sizeValue_};
    for (int i = 0; i < 3; ++i) {
        form_->setRowVisible(detailRows_[i], details[i].has_value());
        values[i]->setText(details[i].value_or(QString()));
    }
    form_->setRowVisible(levelRow_, state.hasSource() && state.sourceLevel.has_value());
    levelValue_->setText(state.sourceLevel.value_or(QString()));
    form_->setRowVisible(metadataRow_, state.sourceMetadata.has_value());
    if (state.sourceMetadata) metadataValue_->setText(*state.sourceMetadata);
    // Said before the run, in the words the run's own warning will use.
    const std::optional<std::string> notCarried
        = state.sourceMetadata ? notCarriedWarning(state.sourceContents, state.settings.type) : std::nullopt;
    form_->setRowVisible(notCarriedRow_, notCarried.has_value());
    notCarriedLabel_->setText(QString::fromStdString(notCarried.value_or(std::string())));
}

} // namespace fennick
