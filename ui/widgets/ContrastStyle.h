#pragma once

// The platform's style with the outlines that a dark palette loses: Fusion draws an unchecked
// box and the empty part of a slider's groove a shade darker than the window, which on a dark
// window is next to nothing. On a light palette it draws exactly what the style itself draws.

#include <QProxyStyle>

namespace fennick {

class ContrastStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(
        PrimitiveElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
        const QWidget* widget) const override;
};

// Wraps the application's current style (the platform's, or the one given with -style).
void installContrastStyle();

} // namespace fennick
