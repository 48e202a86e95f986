#pragma once

// Step 3's view of the measured filter and of the output's dither noise: the chart, a tab bar
// between its views, and the figures in one caption line.

#include "FennickEngine.h"
#include "FilterView.h"

#include <QLocale>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <tuple>

class QGridLayout;
class QLabel;
class QTabBar;

namespace fennick {

class FilterChart;
struct DitherCurve;

// The dither's two figures, as the converter's report has them: "Weighted noise −15.4 dB ·
// 1–5 kHz −20.3 dB, relative to flat TPDF".
QString ditherCaption(const DitherNoise& noise, const QLocale& locale = QLocale());

// The passband's figures: "−0.1 dB at 19.9 kHz · −3 dB at 20.1 kHz".
QString passbandCaption(const FilterResponse& response, const QLocale& locale = QLocale());

class FilterPlot : public QWidget {
    Q_OBJECT
public:
    explicit FilterPlot(QWidget* parent = nullptr);

    // The newest measurement or why there is none, and the noise of the dither `settings` choose
    // at their rate, in the view chosen.
    void render(const std::shared_ptr<const FilterResponse>& response, const std::optional<QString>& error,
        FilterView view, const ConversionSettings& settings);

    FilterChart* chart() const { return chart_; }
    QTabBar* viewPicker() const { return viewPicker_; }
    QLabel* caption() const { return caption_; }

signals:
    void viewEdited(fennick::FilterView view);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeCaption();

    QGridLayout* bottomRow_;
    bool captionBeside_ = true;
    FilterChart* chart_;
    QTabBar* viewPicker_;
    QLabel* caption_;
    // The dither the curve was worked out for, so that it is only worked out again on a change.
    std::optional<std::tuple<Dither, OutputFormat, double>> ditherKey_;
    std::shared_ptr<const DitherCurve> ditherCurve_;
};

} // namespace fennick
