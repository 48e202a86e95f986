#include "WindowMenus.h"

#include "Updater.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>

namespace fennick {

void addWindowMenus(QMainWindow& window, Updater& updater, WindowRequests requests)
{
    QMenu* file = window.menuBar()->addMenu(QStringLiteral("&File"));
    QAction* newWindow = file->addAction(QStringLiteral("New Window"), &window, std::move(requests.newWindow));
    newWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    QAction* batch
        = file->addAction(QStringLiteral("Convert Several Files\u2026"), &window, std::move(requests.batchWindow));
    batch->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    QAction* closeWindow = file->addAction(QStringLiteral("Close Window"), &window, &QWidget::close);
    closeWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    file->addSeparator();
    // Closing every window ends the event loop, and each window's run is cancelled with it.
    QAction* quit = file->addAction(QStringLiteral("Quit"), qApp, &QApplication::closeAllWindows);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);

    QMenu* help = window.menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("About Fennick"), &window, [&window] { showAbout(&window); });
    about->setMenuRole(QAction::AboutRole);
    QAction* checkForUpdates
        = help->addAction(QStringLiteral("Check for Updates\u2026"), &updater, &Updater::checkForUpdates);
    // On macOS this places the command in the application menu, next to About.
    checkForUpdates->setMenuRole(QAction::ApplicationSpecificRole);
    // Enabled exactly while a check may start.
    checkForUpdates->setEnabled(updater.canCheckForUpdates());
    QObject::connect(&updater, &Updater::canCheckForUpdatesChanged, checkForUpdates, &QAction::setEnabled);
}

void showAbout(QWidget* parent)
{
    QMessageBox::about(parent, QStringLiteral("About Fennick"),
        QStringLiteral("<h3>Fennick %1</h3>"
                       "<p>Converts an audio file into a WAV file of another sample rate and sample encoding, "
                       "resampled with libsoxr.</p>"
                       "<p>For many files at once, use File \u2192 Convert Several Files\u2026 or the "
                       "command-line converter <tt>fennick-convert</tt>.</p>")
            .arg(QApplication::applicationVersion()));
}

} // namespace fennick
