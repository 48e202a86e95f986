#include "FilterPlot.h"

#include "FilterChart.h"
#include "LocaleFormat.h"
#include "TextStyles.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QTabBar>
#include <QVBoxLayout>

namespace fennick {

FilterPlot::FilterPlot(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filterPlot"));
    chart_ = new FilterChart(this);
    viewPicker_ = new QTabBar(this);
    viewPicker_->setObjectName(QStringLiteral("filterViewPicker"));
    viewPicker_->addTab(QStringLiteral("Magnitude"));
    viewPicker_->addTab(QStringLiteral("Impulse"));
    viewPicker_->setDrawBase(false);
    viewPicker_->setExpanding(false);
    viewPicker_->setDocumentMode(true);
    viewPicker_->setFont(captionFont(viewPicker_->font()));
    viewPicker_->setAccessibleName(QStringLiteral("Filter view"));
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("filterCaption"));
    caption_->setFont(captionFont(caption_->font()));
    caption_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    caption_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(viewPicker_);
    row->addStretch(1);
    row->addWidget(caption_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(chart_, 1);
    layout->addLayout(row);

    connect(viewPicker_, &QTabBar::currentChanged, this, [this](int index) { emit showsImpulseEdited(index == 1); });
}

void FilterPlot::render(
    const std::shared_ptr<const FilterResponse>& response, const std::optional<QString>& error, bool showsImpulse)
{
    chart_->setResponse(response, showsImpulse);
    const QSignalBlocker blocker(viewPicker_);
    viewPicker_->setCurrentIndex(showsImpulse ? 1 : 0);
    if (error) {
        caption_->setText(QStringLiteral("The filter cannot be measured: ") + *error);
    } else if (response) {
        caption_->setText(filterCaption(*response));
    } else {
        caption_->setText(QStringLiteral("Measuring the filter\u2026"));
    }
}

} // namespace fennick
