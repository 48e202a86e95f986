#include "FennickApp.h"

#include "BatchView.h"
#include "BatchWindow.h"
#include "BuildConfig.h"
#include "ContentView.h"
#include "ContrastStyle.h"
#include "ConversionJob.h"
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
    installContrastStyle();
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
    for (const QPointer<BatchWindow>& window : std::as_const(batchWindows_)) delete window.data();
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
        BatchWindow* opened = newBatchWindow();
        opened->batchView().setSettings(window->contentView().state().settings); // from where it was asked for
        opened->move(window->pos() + cascadeOffset);
    });
    windows_.append(window);
    window->show();
    return window;
}

BatchWindow* FennickApp::newBatchWindow()
{
    batchWindows_.removeAll(nullptr);
    auto* window = new BatchWindow(updater_);
    connect(window, &BatchWindow::newWindowRequested, this, [this, window] {
        MainWindow* opened = newWindow();
        opened->move(window->pos() + cascadeOffset);
    });
    connect(window, &BatchWindow::batchWindowRequested, this, [this, window] {
        BatchWindow* opened = newBatchWindow();
        opened->move(window->pos() + cascadeOffset);
    });
    batchWindows_.append(window);
    window->show();
    return window;
}

} // namespace fennick
