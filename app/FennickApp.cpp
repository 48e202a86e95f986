#include "FennickApp.h"

#include "BatchView.h"
#include "BuildConfig.h"
#include "ConversionRun.h"
#include "MainWindow.h"

#include <QApplication>
#include <QIcon>

namespace fennick {
namespace {

// Later windows open offset from the one they came from, so that they do not hide it exactly.
constexpr QPoint cascadeOffset{28, 28};

} // namespace

FennickApp::FennickApp()
    : updater_(QUrl(QString::fromUtf8(buildConfig::updateFeedUrl)), QString::fromUtf8(buildConfig::version))
{
    QApplication::setApplicationName(QStringLiteral("Fennick"));
    QApplication::setApplicationVersion(QString::fromUtf8(buildConfig::version));
    // Ties the windows to fennick.desktop, whose icon the desktop shows for them.
    QGuiApplication::setDesktopFileName(QStringLiteral("fennick"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/fennick.svg")));
    // One outcome box per check, however many windows offer the command.
    connect(&updater_, &Updater::checkFinished, this, [](const UpdateCheckOutcome& outcome) {
        showUpdateCheckOutcome(outcome, QString::fromUtf8(buildConfig::version));
    });
    // Started before the first window, so its command is enabled from the start when there is a feed.
    updater_.start();
}

FennickApp::~FennickApp()
{
    for (const QPointer<MainWindow>& window : std::as_const(windows_)) delete window.data();
    for (const QPointer<BatchView>& window : std::as_const(batchWindows_)) delete window.data();
    // Each window stopped its run as it went; what is left of them ends within one block.
    conversionPool().waitForDone();
}

MainWindow* FennickApp::newWindow()
{
    windows_.removeAll(nullptr);
    auto* window = new MainWindow(updater_);
    connect(window, &MainWindow::newWindowRequested, this, [this, window] {
        MainWindow* opened = newWindow();
        opened->move(window->pos() + cascadeOffset);
    });
    connect(window, &MainWindow::batchWindowRequested, this, [this, window] {
        BatchView* opened = newBatchWindow();
        opened->move(window->pos() + cascadeOffset);
    });
    windows_.append(window);
    window->show();
    return window;
}

BatchView* FennickApp::newBatchWindow()
{
    batchWindows_.removeAll(nullptr);
    // A window of its own, not a dialog: it may run while the main windows are used. Closing it
    // deletes it, which cancels its run.
    auto* window = new BatchView;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Convert Several Files"));
    window->resize(960, 860);
    batchWindows_.append(window);
    window->show();
    return window;
}

} // namespace fennick
