#pragma once

// The measured filter drawn: its magnitude in dB against frequency, with the passband edge and the
// output's Nyquist frequency marked, or its impulse response around the peak. Vector drawing on
// every paint, so it is sharp at any device pixel ratio; dimmed while disabled.

#include "FennickEngine.h"

#include <QWidget>

#include <memory>

namespace fennick {

class FilterChart : public QWidget {
    Q_OBJECT
public:
    explicit FilterChart(QWidget* parent = nullptr);

    void setResponse(std::shared_ptr<const FilterResponse> response, bool showsImpulse);
    const FilterResponse* response() const { return response_.get(); }
    bool showsImpulse() const { return showsImpulse_; }

    QSize sizeHint() const override { return {420, 78}; }
    QSize minimumSizeHint() const override { return {240, 78}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const FilterResponse> response_;
    bool showsImpulse_ = false;
};

} // namespace fennick
