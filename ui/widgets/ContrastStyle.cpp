#include "ContrastStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace fennick {

namespace {

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

// Text colour at part strength: visible on the window and on the field, quieter than text.
QColor outlineColor(const QStyleOption& option)
{
    QColor color = option.palette.color(QPalette::Text);
    color.setAlphaF(option.state & QStyle::State_Enabled ? 0.55F : 0.3F);
    return color;
}

void drawOutline(QPainter* painter, const QRectF& rect, const QColor& color, qreal radius)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(color, 1.0));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter->restore();
}

} // namespace

void ContrastStyle::drawPrimitive(
    PrimitiveElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element == PE_IndicatorCheckBox && isDark(option->palette))
        drawOutline(painter, option->rect, outlineColor(*option), 2.0);
}

void ContrastStyle::drawComplexControl(
    ComplexControl control, const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control != CC_Slider || !isDark(option->palette)) return;
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (!slider || slider->orientation != Qt::Horizontal) return;
    const QRect groove = subControlRect(CC_Slider, option, SC_SliderGroove, widget);
    const QRect handle = subControlRect(CC_Slider, option, SC_SliderHandle, widget);
    // Only the groove's empty part, beyond the handle: the filled part has the highlight colour.
    // upsideDown already counts a right-to-left layout.
    const QRect empty = slider->upsideDown ? QRect(groove.topLeft(), QPoint(handle.left() - 1, groove.bottom()))
                                           : QRect(QPoint(handle.right() + 1, groove.top()), groove.bottomRight());
    painter->save();
    painter->setClipRect(empty);
    drawOutline(painter, QRectF(groove).adjusted(1, 1, -1, -1), outlineColor(*option), 2.0);
    painter->restore();
}

void installContrastStyle()
{
    if (qobject_cast<ContrastStyle*>(QApplication::style())) return;
    QApplication::setStyle(new ContrastStyle(QStyleFactory::create(QApplication::style()->name())));
}

} // namespace fennick
