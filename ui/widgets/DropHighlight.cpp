#include "DropHighlight.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace fennick {

DropHighlight::DropHighlight(QWidget* parent) : QWidget(parent)
{
    // Purely a drawing: drags, clicks and focus go to the content underneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    parent->installEventFilter(this);
    setGeometry(parent->rect());
    hide();
}

QColor DropHighlight::borderColor() const { return palette().color(QPalette::Active, QPalette::Highlight); }

void DropHighlight::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The stroke lies inside the outline: move the path in by half the pen width.
    const qreal half = kBorderWidth / 2;
    const QRectF outline = QRectF(rect()).adjusted(kInset, kInset, -kInset, -kInset);
    QPainterPath path;
    path.addRoundedRect(outline.adjusted(half, half, -half, -half), kCornerRadius - half, kCornerRadius - half);
    painter.setPen(QPen(borderColor(), kBorderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

bool DropHighlight::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

} // namespace fennick
