#pragma once

#include "Updater.h"

#include <QList>
#include <QObject>
#include <QPointer>

namespace fennick {

class BatchWindow;
class MainWindow;

// The application object: one per process, created after QApplication. It sets the application's
// identity, creates and starts the update check before any window exists, and opens windows.
class FennickApp : public QObject {
    Q_OBJECT

public:
    FennickApp();
    // Deletes the windows still open, so their menus go before the updater they point to,
    // and waits for their stopped runs to end.
    ~FennickApp() override;

    // Opens a new main window with its own ContentView and shows it.
    MainWindow* newWindow();
    // Opens a window of its own for converting many files, one per call.
    BatchWindow* newBatchWindow();

private:
    Updater updater_;
    QList<QPointer<MainWindow>> windows_;
    QList<QPointer<BatchWindow>> batchWindows_;
};

} // namespace fennick
