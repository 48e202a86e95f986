#include "MainWindow.h"

#include "ContentView.h"
#include "WindowMenus.h"

#include <QDir>
#include <QFileInfo>
#include <QMenuBar>

namespace fennick {

MainWindow::MainWindow(Updater& updater, QWidget* parent) : QMainWindow(parent), contentView_(new ContentView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Fennick"));
    setCentralWidget(contentView_);
    // The save dialog would open in the working directory, which for a window started from a file
    // manager has nothing to do with the source; the suggested name belongs where this window last
    // saved, else next to the source. Nothing is kept once the window closes.
    contentView_->setSaveFileChooser([this](QWidget* parent, const QString& suggestedName) {
        const ContentState& state = contentView_->state();
        const std::optional<QUrl>& near = state.lastSavedURL ? state.lastSavedURL : state.sourceURL;
        if (!near || !near->isLocalFile()) return saveDialog_(parent, suggestedName);
        return saveDialog_(parent, QFileInfo(near->toLocalFile()).dir().filePath(suggestedName));
    });
    addWindowMenus(*this, updater, {[this] { emit newWindowRequested(); }, [this] { emit batchWindowRequested(); }});
    // The menu bar sits inside the window here, so it adds to the default content height.
    resize(defaultContentSize + QSize(0, menuBar()->sizeHint().height()));
}

} // namespace fennick
