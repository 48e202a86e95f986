#pragma once

// Step 3's bandwidth slider: hundredths of a percent from 74.00 to 99.70, told to assistive
// technology as the percentage it stands for ("91.3 %"), with a focus ring that shows in every
// style and theme.

#include <QSlider>

namespace fennick {

class BandwidthSlider : public QSlider {
    Q_OBJECT
public:
    static constexpr int kSteps = 2570; // 74.00 … 99.70

    explicit BandwidthSlider(QWidget* parent = nullptr);

    static double percent(int value);
    static int value(double percent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace fennick
