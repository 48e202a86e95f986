#include "BottomBar.h"

#include "LocaleFormat.h"
#include "MessageLabel.h"
#include "TextStyles.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

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
    progressLayout->addStretch(1);

    errorLine_ = new MessageLabel(2);
    errorLine_->setObjectName(QStringLiteral("errorLine"));
    errorLine_->setFont(callout);
    setErrorStyle(errorLine_);

    messageLine_ = new MessageLabel(2);
    messageLine_->setObjectName(QStringLiteral("messageLine"));
    messageLine_->setFont(callout);

    // One of the three at a time, or none; hidden ones take no room.
    statusArea_ = new QWidget(this);
    statusArea_->setObjectName(QStringLiteral("statusArea"));
    auto* statusLayout = new QHBoxLayout(statusArea_);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(0);
    for (QWidget* page : {progressPage_, static_cast<QWidget*>(errorLine_), static_cast<QWidget*>(messageLine_)}) {
        statusLayout->addWidget(page, 1, Qt::AlignVCenter);
        page->hide();
    }
    statusArea_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setSecondaryStyle(messageLine_);

    convertButton_ = new QPushButton(QStringLiteral("Convert…"), this);
    convertButton_->setObjectName(QStringLiteral("convertButton"));
    // The window's default action: Return presses it while it is enabled.
    convertButton_->setDefault(true);
    convertButton_->setAutoDefault(true);

    layout->addWidget(statusArea_, 1, Qt::AlignVCenter);
    layout->addWidget(convertButton_, 0, Qt::AlignVCenter);

    connect(convertButton_, &QPushButton::clicked, this, &BottomBar::convertRequested);
}

void BottomBar::render(const ContentState& state)
{
    if (state.isConverting) {
        status_ = Status::progress;
        progressBar_->setValue(static_cast<int>(state.conversionProgress * kProgressSteps));
        percentageLabel_->setText(percentageText(state.conversionProgress));
    } else if (state.errorMessage) {
        status_ = Status::error;
        errorLine_->setText(*state.errorMessage);
    } else if (state.conversionMessage) {
        status_ = Status::message;
        messageLine_->setText(*state.conversionMessage);
    } else {
        status_ = Status::empty;
    }
    progressPage_->setVisible(status_ == Status::progress);
    errorLine_->setVisible(status_ == Status::error);
    messageLine_->setVisible(status_ == Status::message);
    convertButton_->setEnabled(state.hasSource() && !state.isConverting);
}

} // namespace fennick
