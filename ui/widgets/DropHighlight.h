#pragma once

// The frame drawn over the whole window content while a file is dragged over it.

#include <QWidget>

namespace fennick {

class DropHighlight : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kInset = 4;
    static constexpr qreal kCornerRadius = 8;
    static constexpr qreal kBorderWidth = 3;

    explicit DropHighlight(QWidget* parent);

    // The accent colour the border is drawn in.
    QColor borderColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace fennick
