#include "BatchWindow.h"

#include "BatchView.h"
#include "WindowMenus.h"

#include <QMenuBar>

namespace fennick {

BatchWindow::BatchWindow(Updater& updater, QWidget* parent) : QMainWindow(parent), batchView_(new BatchView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Convert Several Files"));
    setCentralWidget(batchView_);
    addWindowMenus(*this, updater, {[this] { emit newWindowRequested(); }, [this] { emit batchWindowRequested(); }});
    resize(defaultContentSize + QSize(0, menuBar()->sizeHint().height()));
}

} // namespace fennick
