#include "SourceSection.h"

#include "LocaleFormat.h"
#include "TextStyles.h"

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
    chooseButton_ = new QPushButton(QStringLiteral("Choose…"), fileRow);
    chooseButton_->setObjectName(QStringLiteral("chooseButton"));
    chooseButton_->setAutoDefault(false);
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

    auto* footer = makeHelpText(QStringLiteral("You can also drop a WAV file anywhere in this window."), this);
    footer->setObjectName(QStringLiteral("sourceFooter"));
    form_->addRow(footer);

    connect(chooseButton_, &QPushButton::clicked, this, &SourceSection::chooseRequested);
}

void SourceSection::render(const ContentState& state)
{
    const QString name = state.fileName.value_or(QStringLiteral("No file selected"));
    fileNameLabel_->setText(name);
    fileNameLabel_->setToolTip(state.fileName.value_or(QString()));
    fileNameLabel_->setAccessibleName(name);
    setSecondaryStyle(fileNameLabel_, !state.hasSource());

    form_->setRowVisible(sampleRateRow_, state.sampleRate.has_value());
    if (state.sampleRate) sampleRateValue_->setText(sampleRateText(*state.sampleRate));
    form_->setRowVisible(formatRow_, state.sourceFormat.has_value());
    if (state.sourceFormat) formatValue_->setText(*state.sourceFormat);
    form_->setRowVisible(noteRow_, state.sourceFormat.has_value() && !state.sourceNote.isEmpty());
    noteLabel_->setText(state.sourceNote);
    form_->setRowVisible(metadataRow_, state.sourceMetadata.has_value());
    if (state.sourceMetadata) metadataValue_->setText(*state.sourceMetadata);
}

} // namespace fennick
