#include "TextStyles.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QPointer>
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

constexpr double captionScale = 0.85;
constexpr double calloutScale = 0.93;

const QString fontKeeperName = QStringLiteral("relativeFontKeeper");

// Keeps a widget's font a fixed fraction of its parent's, through the parent's font changes (a
// larger desktop font chosen while the window is open) and moves to another parent. A font set
// once would keep its first size, since an explicitly set size is never inherited again.
class RelativeFontKeeper : public QObject {
public:
    RelativeFontKeeper(QWidget* widget, double factor) : QObject(widget), widget_(widget), factor_(factor)
    {
        setObjectName(fontKeeperName);
        widget->installEventFilter(this);
        follow();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == widget_ && event->type() == QEvent::ParentChange) {
            follow();
        } else if (watched == parent_ && event->type() == QEvent::FontChange) {
            apply();
        }
        return false;
    }

private:
    void follow()
    {
        if (parent_) parent_->removeEventFilter(this);
        parent_ = widget_->parentWidget();
        if (parent_) parent_->installEventFilter(this);
        apply();
    }
    void apply() { widget_->setFont(scaled(parent_ ? parent_->font() : QApplication::font(widget_), factor_)); }

    QWidget* widget_;
    QPointer<QWidget> parent_;
    double factor_;
};

void setRelativeFont(QWidget* widget, double factor)
{
    delete widget->findChild<QObject*>(fontKeeperName, Qt::FindDirectChildrenOnly);
    new RelativeFontKeeper(widget, factor);
}

} // namespace

QFont captionFont(const QFont& body) { return scaled(body, captionScale); }

QFont calloutFont(const QFont& body) { return scaled(body, calloutScale); }

void setCaptionFont(QWidget* widget) { setRelativeFont(widget, captionScale); }

void setCalloutFont(QWidget* widget) { setRelativeFont(widget, calloutScale); }

QColor secondaryTextColor(const QWidget* widget)
{
    const QWidget* base = widget->parentWidget() ? widget->parentWidget() : widget;
    return base->palette().color(QPalette::Active, QPalette::PlaceholderText);
}

namespace {

const QString keeperName = QStringLiteral("secondaryStyleKeeper");

// Dims a widget from the palette around it, again whenever that palette changes (a dark theme
// chosen while the window is open) or the widget moves into another parent: colours fixed when
// it was made would be the old theme's, dark on dark.
class SecondaryStyleKeeper : public QObject {
public:
    explicit SecondaryStyleKeeper(QWidget* widget) : QObject(widget)
    {
        setObjectName(keeperName);
        widget->installEventFilter(this);
        apply(widget);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
            apply(static_cast<QWidget*>(watched));
        return false;
    }

private:
    static void apply(QWidget* widget)
    {
        const QPalette around = widget->parentWidget() ? widget->parentWidget()->palette() : QApplication::palette();
        const QColor active = around.color(QPalette::Active, QPalette::PlaceholderText);
        // Disabled text is already dimmed; dimming it again would make it darker than its neighbours.
        const QColor disabled = around.color(QPalette::Disabled, QPalette::WindowText);
        const QPalette& own = widget->palette();
        if (own.color(QPalette::Active, QPalette::WindowText) == active
            && own.color(QPalette::Disabled, QPalette::WindowText) == disabled) {
            return; // also ends the change event that setting it sends
        }
        setForeground(widget, active, disabled);
    }
};

} // namespace

void setSecondaryStyle(QWidget* widget, bool secondary)
{
    QObject* keeper = widget->findChild<QObject*>(keeperName, Qt::FindDirectChildrenOnly);
    if (!secondary) {
        delete keeper;
        // An empty palette resolves nothing, so every role is inherited again.
        widget->setPalette(QPalette());
        return;
    }
    if (!keeper) new SecondaryStyleKeeper(widget);
}

QColor errorTextColor() { return QColor(0xd0, 0x21, 0x1c); }

void setErrorStyle(QWidget* widget) { setForeground(widget, errorTextColor(), errorTextColor()); }

// Amber, dark enough to read on a light window and light enough on a dark one.
QColor warningTextColor() { return QColor(0xc2, 0x6a, 0x00); }

void setWarningStyle(QWidget* widget) { setForeground(widget, warningTextColor(), warningTextColor()); }

} // namespace fennick
