#pragma once

#include <QMainWindow>
#include <QSize>

namespace fennick {

class BatchView;
class Updater;

// One batch window: a BatchView of its own and the same menu bar as a main window. A window of its
// own, not a dialog, so that it may run while the main windows are used; closing it deletes it,
// which cancels its run.
class BatchWindow : public QMainWindow {
    Q_OBJECT

public:
    // Size of the content below the menu bar when a window first opens.
    static constexpr QSize defaultContentSize{960, 860};

    // `updater` must outlive the window.
    explicit BatchWindow(Updater& updater, QWidget* parent = nullptr);

    BatchView& batchView() const { return *batchView_; }

signals:
    void newWindowRequested();
    void batchWindowRequested();

private:
    BatchView* batchView_;
};

} // namespace fennick
