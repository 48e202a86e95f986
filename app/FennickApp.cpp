#include "FennickApp.h"

#include "BuildConfig.h"
#include "MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QThreadPool>

namespace fennick {
namespace {

// Later windows open offset from the one they came from, so that they do not hide it exactly.
constexpr QPoint cascadeOffset{28, 28};

} // namespace

FennickApp::FennickApp() : updaterController_(true)
{
    QApplication::setApplicationName(QStringLiteral("Fennick"));
    QApplication::setApplicationVersion(QString::fromUtf8(buildConfig::version));
    // Ties the windows to fennick.desktop, whose icon the desktop shows for them.
    QGuiApplication::setDesktopFileName(QStringLiteral("fennick"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/fennick.svg")));
}

FennickApp::~FennickApp()
{
    for (const QPointer<MainWindow>& window : std::as_const(windows_)) delete window.data();
    // Each window stopped its run as it went; what is left of them ends within one block.
    QThreadPool::globalInstance()->waitForDone();
}

MainWindow* FennickApp::newWindow()
{
    windows_.removeAll(nullptr);
    auto* window = new MainWindow(updaterController_.updater());
    connect(window, &MainWindow::newWindowRequested, this, [this, window] {
        MainWindow* opened = newWindow();
        opened->move(window->pos() + cascadeOffset);
    });
    windows_.append(window);
    window->show();
    return window;
}

} // namespace fennick
