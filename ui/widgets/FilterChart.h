#pragma once

// The measured filter drawn: its magnitude in dB against frequency, with the −3 dB point and the
// output's Nyquist frequency marked; its passband close up (0 to −1 dB); its impulse response
// around the peak; or the chosen dither's noise against flat TPDF with the threshold of hearing.
// Vector drawing on every paint, so it is sharp at any device pixel ratio; dimmed while disabled.
// Under the pointer a readout gives the frequency (or time) and the level there.

#include "FennickEngine.h"
#include "FilterView.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;

namespace fennick {

// The chosen dither's noise at the output rate, as the Dither noise view draws it.
struct DitherCurve {
    QString name; // "Shaped"
    DitherNoise noise;
    double tpdfBinDb = 0; // flat TPDF's level in each of noise's bins, the 0 dB line
};

class FilterChart : public QWidget {
    Q_OBJECT
public:
    explicit FilterChart(QWidget* parent = nullptr);

    void setResponse(std::shared_ptr<const FilterResponse> response, FilterView view);
    // Null: the output has no dither noise, and the Dither noise view says so.
    void setDitherCurve(std::shared_ptr<const DitherCurve> curve);
    const FilterResponse* response() const { return response_.get(); }
    FilterView view() const { return view_; }
    bool showsImpulse() const { return view_ == FilterView::impulse; }

    // Where the curves are drawn, in the chart's coordinates, and where in it a frequency in hertz
    // (a time in milliseconds in the impulse view) is.
    QRectF plotArea() const;
    double positionOf(double value) const;
    // "18.2 kHz · −0.3 dB" while the pointer is over the plot area; hidden otherwise.
    QLabel* readout() const { return readout_; }

    // Readable at its minimum; it takes the height a large window has to spare.
    QSize sizeHint() const override { return {420, 150}; }
    QSize minimumSizeHint() const override { return {240, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The span of the horizontal axis, in hertz (milliseconds for the impulse view).
    std::pair<double, double> xRange() const;
    // The text of the readout at `x` in the plot area, or empty where there is nothing to read.
    // `curveHeight`: where the curve is there, as a fraction of the height from the top.
    QString readoutText(double x, double& curveHeight) const;
    void updateReadout();

    std::shared_ptr<const FilterResponse> response_;
    std::shared_ptr<const DitherCurve> dither_;
    FilterView view_ = FilterView::magnitude;
    QLabel* readout_;
    std::optional<double> pointerX_; // over the plot area
};

} // namespace fennick
