#include "BatchWindow.h"

#include "BatchView.h"
#include "WindowMenus.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QScreen>

namespace fennick {

BatchWindow::BatchWindow(Updater& updater, QWidget* parent) : QMainWindow(parent), batchView_(new BatchView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Convert Several Files \u2014 Fennick"));
    setCentralWidget(batchView_);
    addWindowMenus(*this, updater, {[this] { emit newWindowRequested(); }, [this] { emit batchWindowRequested(); }});
    // No larger than the screen (less room for a title bar), so that the bottom bar is on it.
    resize((defaultContentSize + QSize(0, menuBar()->sizeHint().height()))
               .boundedTo(screen()->availableSize() - QSize(0, kTitleBarAllowance)));
}

// The run stops as the window goes, not when its deferred deletion comes round.
void BatchWindow::closeEvent(QCloseEvent* event)
{
    batchView_->cancel();
    QMainWindow::closeEvent(event);
}

} // namespace fennick
