#include "BottomBar.h"

#include "LocaleFormat.h"
#include "MessageLabel.h"
#include "TextStyles.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace fennick {

BottomBar::BottomBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("bottomBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    const QFont callout = calloutFont(font());

    progressPage_ = new QWidget;
    auto* progressLayout = new QHBoxLayout(progressPage_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(12);
    progressBar_ = new QProgressBar(progressPage_);
    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setRange(0, kProgressSteps);
    progressBar_->setTextVisible(false);
    progressBar_->setFixedWidth(kProgressBarWidth);
    progressBar_->setAccessibleName(QStringLiteral("Conversion progress"));
    percentageLabel_ = new QLabel(progressPage_);
    percentageLabel_->setObjectName(QStringLiteral("percentageLabel"));
    // Fixed-pitch digits at callout size, and room for "100%", so the label does not jitter.
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPointSizeF(callout.pointSizeF() > 0 ? callout.pointSizeF() : digits.pointSizeF());
    percentageLabel_->setFont(digits);
    percentageLabel_->setMinimumWidth(QFontMetrics(digits).horizontalAdvance(QStringLiteral("100%")));
    setSecondaryStyle(percentageLabel_);
    progressLayout->addWidget(progressBar_, 0, Qt::AlignVCenter);
    progressLayout->addWidget(percentageLabel_, 0, Qt::AlignVCenter);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), progressPage_);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    cancelButton_->setAutoDefault(false);
    progressLayout->addWidget(cancelButton_, 0, Qt::AlignVCenter);
    progressLayout->addStretch(1);

    errorLine_ = new MessageLabel(2);
    errorLine_->setObjectName(QStringLiteral("errorLine"));
    errorLine_->setFont(callout);
    setErrorStyle(errorLine_);

    // The success line, and under it what clipped.
    resultPage_ = new QWidget;
    auto* resultLayout = new QVBoxLayout(resultPage_);
    resultLayout->setContentsMargins(0, 0, 0, 0);
    resultLayout->setSpacing(2);
    messageLine_ = new MessageLabel(2, resultPage_);
    messageLine_->setObjectName(QStringLiteral("messageLine"));
    messageLine_->setFont(callout);
    warningLine_ = new MessageLabel(2, resultPage_);
    warningLine_->setObjectName(QStringLiteral("warningLine"));
    warningLine_->setFont(callout);
    // The output's loudness and peaks, quieter than the line above, and the gain the run applied.
    levelLine_ = new MessageLabel(3, resultPage_); // the figures, and the gain's sentence under them
    levelLine_->setObjectName(QStringLiteral("levelLine"));
    levelLine_->setFont(captionFont(font()));
    resultLayout->addWidget(messageLine_);
    resultLayout->addWidget(levelLine_);
    resultLayout->addWidget(warningLine_);

    // One of the three at a time, or none; hidden ones take no room.
    statusArea_ = new QWidget(this);
    statusArea_->setObjectName(QStringLiteral("statusArea"));
    auto* statusLayout = new QHBoxLayout(statusArea_);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(0);
    for (QWidget* page : {progressPage_, static_cast<QWidget*>(errorLine_), resultPage_}) {
        statusLayout->addWidget(page, 1, Qt::AlignVCenter);
        page->hide();
    }
    statusArea_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setSecondaryStyle(messageLine_);
    setSecondaryStyle(levelLine_);
    setWarningStyle(warningLine_);

    convertButton_ = new QPushButton(QStringLiteral("Convert…"), this);
    convertButton_->setObjectName(QStringLiteral("convertButton"));
    // The window's default action: Return presses it while it is enabled.
    convertButton_->setDefault(true);
    convertButton_->setAutoDefault(true);

    showInFolderButton_ = new QPushButton(QStringLiteral("Show in Folder"), this);
    showInFolderButton_->setObjectName(QStringLiteral("showInFolderButton"));
    showInFolderButton_->setAutoDefault(true); // Return presses it while it has focus
    showInFolderButton_->hide();

    layout->addWidget(statusArea_, 1, Qt::AlignVCenter);
    layout->addWidget(showInFolderButton_, 0, Qt::AlignVCenter);
    layout->addWidget(convertButton_, 0, Qt::AlignVCenter);

    connect(convertButton_, &QPushButton::clicked, this, &BottomBar::convertRequested);
    connect(cancelButton_, &QPushButton::clicked, this, &BottomBar::cancelRequested);
    connect(showInFolderButton_, &QPushButton::clicked, this, &BottomBar::showInFolderRequested);
}

void BottomBar::render(const ContentState& state)
{
    status_ = state.runLine();
    if (status_ == Status::progress) {
        progressBar_->setValue(static_cast<int>(state.conversionProgress * kProgressSteps));
        percentageLabel_->setText(percentageText(state.conversionProgress));
    } else if (status_ == Status::error) {
        errorLine_->setText(*state.errorMessage);
    } else if (status_ == Status::message) {
        messageLine_->setText(*state.conversionMessage);
        warningLine_->setText(state.conversionWarning.value_or(QString()));
        levelLine_->setText(state.conversionLevel.value_or(QString()));
    }
    progressPage_->setVisible(status_ == Status::progress);
    errorLine_->setVisible(status_ == Status::error);
    resultPage_->setVisible(status_ == Status::message);
    warningLine_->setVisible(state.conversionWarning.has_value());
    levelLine_->setVisible(state.lastRunSaved && state.conversionLevel.has_value());
    showInFolderButton_->setVisible(status_ == Status::message && state.lastRunSaved && state.lastSavedURL);
    convertButton_->setEnabled(state.canConvert());
}

} // namespace fennick
