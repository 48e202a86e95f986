#include "BandwidthSlider.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace fennick {

namespace {

// The slider as a screen reader tells it: the percentage, not the step count behind it.
class BandwidthSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit BandwidthSliderAccessible(BandwidthSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) { }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value) {
            return QLocale().toString(BandwidthSlider::percent(slider()->value()), 'f', 1) + QStringLiteral(" %");
        }
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return BandwidthSlider::percent(slider()->value()); }
    void setCurrentValue(const QVariant& value) override
    {
        slider()->setValue(BandwidthSlider::value(value.toDouble()));
    }
    QVariant maximumValue() const override { return BandwidthSlider::percent(BandwidthSlider::kSteps); }
    QVariant minimumValue() const override { return BandwidthSlider::percent(0); }
    QVariant minimumStepSize() const override { return 0.1; }

private:
    QSlider* slider() const { return static_cast<QSlider*>(widget()); }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object)
{
    if (className == QLatin1String("fennick::BandwidthSlider")) {
        return new BandwidthSliderAccessible(static_cast<BandwidthSlider*>(object));
    }
    return nullptr;
}

} // namespace

BandwidthSlider::BandwidthSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    static const bool installed = (QAccessible::installFactory(accessibleFor), true);
    (void)installed;
    setRange(0, kSteps);
    setSingleStep(10);
    setPageStep(100);
    setTickPosition(QSlider::NoTicks);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSlider::valueChanged, this, [this] {
        QAccessibleValueChangeEvent event(this, percent(QSlider::value()));
        QAccessible::updateAccessibility(&event);
    });
}

double BandwidthSlider::percent(int value)
{
    // Dividing the exact integer count of hundredths gives the double nearest to the decimal,
    // so the ends are exactly 74.0 and 99.7.
    return (7400 + std::clamp(value, 0, kSteps)) / 100.0;
}

int BandwidthSlider::value(double percent)
{
    return std::clamp(static_cast<int>(std::lround(percent * 100.0)) - 7400, 0, kSteps);
}

void BandwidthSlider::paintEvent(QPaintEvent* event)
{
    QSlider::paintEvent(event);
    if (!hasFocus()) return;
    // Some styles mark a focused slider with a hairline or not at all.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
}

} // namespace fennick
