#include "FilterPlot.h"

#include "FilterChart.h"
#include "LocaleFormat.h"
#include "TextStyles.h"

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QTabBar>
#include <QVBoxLayout>

#include <cmath>

namespace fennick {

namespace {

constexpr std::size_t kDitherBins = 1024;

// A typographic minus, as the figures are read, not typed.
QString decibels(double level, int decimals, const QLocale& locale)
{
    const QString digits = locale.toString(std::abs(level), 'f', decimals);
    const bool negative = level < 0 && digits != locale.toString(0.0, 'f', decimals);
    return (negative ? QStringLiteral("\u2212") : QString()) + digits + QStringLiteral(" dB");
}

QString kilohertz(double hz, const QLocale& locale)
{
    return locale.toString(hz / 1000.0, 'f', 1) + QStringLiteral(" kHz");
}

} // namespace

QString ditherCaption(const DitherNoise& noise, const QLocale& locale)
{
    return QStringLiteral("Weighted noise ") + decibels(noise.weightedDb, 1, locale)
        + QStringLiteral(" \u00b7 1\u20135 kHz ") + decibels(noise.band1To5kDb, 1, locale)
        + QStringLiteral(", relative to flat TPDF");
}

QString passbandCaption(const FilterResponse& response, const QLocale& locale)
{
    if (!std::isfinite(response.minus3DbHz) || !std::isfinite(response.minus0_1DbHz))
        return filterCaption(response, false, locale);
    return QStringLiteral("\u22120.1 dB at ") + kilohertz(response.minus0_1DbHz, locale)
        + QStringLiteral(" \u00b7 \u22123 dB at ") + kilohertz(response.minus3DbHz, locale);
}

FilterPlot::FilterPlot(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filterPlot"));
    chart_ = new FilterChart(this);
    chart_->setAccessibleName(QStringLiteral("Filter response"));
    viewPicker_ = new QTabBar(this);
    viewPicker_->setObjectName(QStringLiteral("filterViewPicker"));
    for (const char* name : {"Magnitude", "Passband", "Impulse", "Dither noise"})
        viewPicker_->addTab(QString::fromUtf8(name));
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

    // The views under the chart, the figures beside them, or under them where both do not fit.
    bottomRow_ = new QGridLayout;
    bottomRow_->setContentsMargins(0, 0, 0, 0);
    bottomRow_->setSpacing(0);
    bottomRow_->setColumnStretch(1, 1);
    bottomRow_->addWidget(viewPicker_, 0, 0);
    bottomRow_->addWidget(caption_, 0, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(chart_, 1);
    layout->addLayout(bottomRow_);

    connect(viewPicker_, &QTabBar::currentChanged, this,
        [this](int index) { emit viewEdited(static_cast<FilterView>(index)); });
}

void FilterPlot::render(const std::shared_ptr<const FilterResponse>& response, const std::optional<QString>& error,
    FilterView view, const ConversionSettings& settings)
{
    // The dither's noise is worked out from its design alone, at once.
    const Dither dither = ditherFor(settings);
    const std::tuple key{dither, settings.format, settings.targetRate};
    if (key != ditherKey_) {
        ditherKey_ = key;
        ditherCurve_.reset();
        if (dither != Dither::none) {
            auto curve = std::make_shared<DitherCurve>();
            curve->name = QString::fromUtf8(ditherName(dither));
            curve->noise = ditherNoise(dither, settings.format, settings.targetRate, kDitherBins);
            curve->tpdfBinDb = ditherNoise(Dither::tpdf, settings.format, settings.targetRate, kDitherBins).levelDb[0];
            ditherCurve_ = std::move(curve);
        }
    }
    chart_->setResponse(response, view);
    chart_->setDitherCurve(ditherCurve_);
    const QSignalBlocker blocker(viewPicker_);
    viewPicker_->setCurrentIndex(static_cast<int>(view));

    QString text;
    QString name = QStringLiteral("Magnitude response. ");
    if (view == FilterView::ditherNoise) {
        name = QStringLiteral("Dither noise. ");
        if (ditherCurve_) {
            text = ditherCaption(ditherCurve_->noise);
        } else if (settings.format == OutputFormat::float32) {
            text = QStringLiteral("32-bit float output is not dithered");
        } else {
            text = QStringLiteral("Dither None: the samples are rounded, with no noise added");
        }
        if (!ditherCurve_) name = QStringLiteral("No dither noise. ");
    } else if (error) {
        text = QStringLiteral("The filter cannot be measured: ") + *error;
    } else if (!response) {
        text = QStringLiteral("Measuring the filter\u2026");
    } else if (view == FilterView::passband) {
        text = passbandCaption(*response);
    } else {
        text = filterCaption(*response, view == FilterView::impulse);
    }
    if (view == FilterView::passband) name = QStringLiteral("Passband. ");
    if (view == FilterView::impulse) name = QStringLiteral("Impulse response. ");
    caption_->setText(text);
    placeCaption();
    // A screen reader has the figures the chart is drawn from.
    chart_->setAccessibleDescription(name + text);
}

void FilterPlot::placeCaption()
{
    const bool beside = viewPicker_->sizeHint().width() + 12 + caption_->sizeHint().width() <= width();
    if (beside == captionBeside_) return;
    captionBeside_ = beside;
    bottomRow_->removeWidget(caption_);
    if (beside) {
        bottomRow_->addWidget(caption_, 0, 1);
    } else {
        bottomRow_->addWidget(caption_, 1, 0, 1, 2);
    }
}

void FilterPlot::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeCaption();
}

} // namespace fennick
