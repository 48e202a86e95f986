#pragma once

// A word-wrapped line of status text that never takes more than a fixed number of lines: what
// does not fit is cut off with an ellipsis at the end of the last line.

#include <QString>
#include <QStringList>
#include <QWidget>

namespace fennick {

class MessageLabel : public QWidget {
    Q_OBJECT
public:
    explicit MessageLabel(int maximumLines = 2, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return text_; }

    // The lines as drawn at `width` (the current width by default).
    QStringList displayedLines(int width = -1) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString text_;
    int maximumLines_;
};

} // namespace fennick
