#include "WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QScrollBar>
#include <QWheelEvent>

namespace fennick {

namespace {

class WheelGuard : public QObject {
public:
    WheelGuard(QObject* parent, QAbstractScrollArea* page) : QObject(parent), page_(page) { }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel) return false;
        auto* control = static_cast<QWidget*>(watched);
        if (control->hasFocus()) return false;
        // The page's own scroll bar takes it as if the pointer were over an empty part of the page.
        if (page_ && page_->verticalScrollBar()->isVisible()) {
            QCoreApplication::sendEvent(page_->verticalScrollBar(), event);
        }
        return true;
    }

private:
    QPointer<QAbstractScrollArea> page_;
};

} // namespace

void guardWheel(QWidget* root, QAbstractScrollArea* page)
{
    auto* guard = new WheelGuard(root, page);
    QList<QWidget*> controls;
    for (auto* combo : root->findChildren<QComboBox*>()) controls.append(combo);
    for (auto* slider : root->findChildren<QAbstractSlider*>()) {
        // A scroll area's own scroll bars are what the wheel is for.
        if (!qobject_cast<QScrollBar*>(slider)) controls.append(slider);
    }
    for (auto* spin : root->findChildren<QAbstractSpinBox*>()) controls.append(spin);
    for (QWidget* control : controls) {
        control->setFocusPolicy(Qt::StrongFocus);
        control->installEventFilter(guard);
    }
}

} // namespace fennick
