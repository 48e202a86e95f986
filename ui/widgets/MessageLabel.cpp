#include "MessageLabel.h"

#include <QAccessible>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace fennick {

MessageLabel::MessageLabel(int maximumLines, QWidget* parent)
    : QWidget(parent), maximumLines_(std::max(1, maximumLines))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void MessageLabel::setText(const QString& text)
{
    if (text == text_) return;
    text_ = text;
    setAccessibleName(text_);
    updateGeometry();
    update();
}

QStringList MessageLabel::displayedLines(int width) const
{
    if (width < 0) width = this->width();
    width = std::max(width, 1);
    QStringList lines;
    if (text_.isEmpty()) return lines;

    QTextLayout layout(text_, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (lines.size() + 1 == maximumLines_) {
            // The last line we may draw takes everything that is left, elided to fit.
            const QString rest = text_.mid(line.textStart());
            lines << QFontMetrics(font()).elidedText(rest, Qt::ElideRight, width);
            break;
        }
        lines << text_.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

QSize MessageLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = metrics.horizontalAdvance(text_) + 1;
    return {width, heightForWidth(width)};
}

QSize MessageLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.averageCharWidth() * 8, metrics.height()};
}

int MessageLabel::heightForWidth(int width) const
{
    const auto lineCount = std::max<qsizetype>(1, displayedLines(width).size());
    return QFontMetrics(font()).lineSpacing() * static_cast<int>(lineCount);
}

void MessageLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QFontMetrics metrics(font());
    const QStringList lines = displayedLines();
    const int top = (height() - metrics.lineSpacing() * static_cast<int>(lines.size())) / 2;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRect rect(0, top + metrics.lineSpacing() * static_cast<int>(i), width(), metrics.lineSpacing());
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, lines[i]);
    }
}

void MessageLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) updateGeometry();
    QWidget::changeEvent(event);
}

} // namespace fennick
