#include "MainWindow.h"

#include "ContentView.h"
#include "Updater.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>

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
    buildMenus(updater);
    // The menu bar sits inside the window here, so it adds to the default content height.
    resize(defaultContentSize + QSize(0, menuBar()->sizeHint().height()));
}

void MainWindow::buildMenus(Updater& updater)
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* newWindow = file->addAction(QStringLiteral("New Window"), this, &MainWindow::newWindowRequested);
    newWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    QAction* batch
        = file->addAction(QStringLiteral("Convert Several Files\u2026"), this, &MainWindow::batchWindowRequested);
    batch->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    QAction* closeWindow = file->addAction(QStringLiteral("Close Window"), this, &QWidget::close);
    closeWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    file->addSeparator();
    // Closing every window ends the event loop, and each window's run is cancelled with it.
    QAction* quit = file->addAction(QStringLiteral("Quit"), qApp, &QApplication::closeAllWindows);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("About Fennick"), this, &MainWindow::showAbout);
    about->setMenuRole(QAction::AboutRole);
    QAction* checkForUpdates
        = help->addAction(QStringLiteral("Check for Updates\u2026"), &updater, &Updater::checkForUpdates);
    // On macOS this places the command in the application menu, next to About.
    checkForUpdates->setMenuRole(QAction::ApplicationSpecificRole);
    // Enabled exactly while a check may start.
    checkForUpdates->setEnabled(updater.canCheckForUpdates());
    connect(&updater, &Updater::canCheckForUpdatesChanged, checkForUpdates, &QAction::setEnabled);
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, QStringLiteral("About Fennick"),
        QStringLiteral("<h3>Fennick %1</h3>"
                       "<p>Converts an audio file into a WAV file of another sample rate and sample encoding, "
                       "resampled with libsoxr.</p>"
                       "<p>For many files at once, use File \u2192 Convert Several Files\u2026 or the "
                       "command-line converter <tt>fennick-convert</tt>.</p>")
            .arg(QApplication::applicationVersion()));
}

} // namespace fennick
