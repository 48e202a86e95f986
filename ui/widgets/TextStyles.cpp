#include "TextStyles.h"

#include <QPalette>
#include <QWidget>

namespace fennick {

namespace {

QFont scaled(const QFont& body, double factor)
{
    QFont font = body;
    if (body.pointSizeF() > 0) {
        font.setPointSizeF(body.pointSizeF() * factor);
    } else if (body.pixelSize() > 0) {
        font.setPixelSize(qRound(body.pixelSize() * factor));
    }
    return font;
}

void setForeground(QWidget* widget, const QColor& active, const QColor& disabled)
{
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, active);
        palette.setColor(group, QPalette::Text, active);
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    widget->setPalette(palette);
}

} // namespace

QFont captionFont(const QFont& body) { return scaled(body, 0.85); }

QFont calloutFont(const QFont& body) { return scaled(body, 0.93); }

QColor secondaryTextColor(const QWidget* widget)
{
    const QWidget* base = widget->parentWidget() ? widget->parentWidget() : widget;
    return base->palette().color(QPalette::Active, QPalette::PlaceholderText);
}

void setSecondaryStyle(QWidget* widget, bool secondary)
{
    if (!secondary) {
        // An empty palette resolves nothing, so every role is inherited again.
        widget->setPalette(QPalette());
        return;
    }
    const QWidget* base = widget->parentWidget() ? widget->parentWidget() : widget;
    // Disabled text is already dimmed; dimming it again would make it darker than its neighbours.
    setForeground(widget, base->palette().color(QPalette::Active, QPalette::PlaceholderText),
        base->palette().color(QPalette::Disabled, QPalette::WindowText));
}

QColor errorTextColor() { return QColor(0xd0, 0x21, 0x1c); }

void setErrorStyle(QWidget* widget) { setForeground(widget, errorTextColor(), errorTextColor()); }

// Amber, dark enough to read on a light window and light enough on a dark one.
QColor warningTextColor() { return QColor(0xc2, 0x6a, 0x00); }

void setWarningStyle(QWidget* widget) { setForeground(widget, warningTextColor(), warningTextColor()); }

} // namespace fennick
