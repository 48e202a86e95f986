#pragma once

// Step 3's view of the measured filter: the chart, a tab bar between its magnitude and impulse
// views, and the figures in one caption line.

#include "FennickEngine.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QTabBar;

namespace fennick {

class FilterChart;

class FilterPlot : public QWidget {
    Q_OBJECT
public:
    explicit FilterPlot(QWidget* parent = nullptr);

    // The newest measurement or why there is none, in the view chosen.
    void render(
        const std::shared_ptr<const FilterResponse>& response, const std::optional<QString>& error, bool showsImpulse);

    FilterChart* chart() const { return chart_; }
    QTabBar* viewPicker() const { return viewPicker_; }
    QLabel* caption() const { return caption_; }

signals:
    void showsImpulseEdited(bool showsImpulse);

private:
    FilterChart* chart_;
    QTabBar* viewPicker_;
    QLabel* caption_;
};

} // namespace fennick
