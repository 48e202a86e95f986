#pragma once

#include "FileChoosers.h"

#include <QMainWindow>
#include <QSize>

namespace fennick {

class ContentView;
class Updater;

// One main window: a ContentView of its own and the menu bar. It only wires things together; what a
// window does lives in ContentView, and opening further windows is FennickApp's job.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Size of the content below the menu bar when a window first opens.
    static constexpr QSize defaultContentSize{560, 880};

    // `updater` must outlive the window.
    explicit MainWindow(Updater& updater, QWidget* parent = nullptr);

    ContentView& contentView() const { return *contentView_; }
    // The dialog behind Convert…, which the window starts in a folder; chooseFileToSave unless replaced.
    void setSaveDialog(SaveFileChooser dialog) { saveDialog_ = std::move(dialog); }

signals:
    void newWindowRequested();
    void batchWindowRequested();

private:
    ContentView* contentView_;
    SaveFileChooser saveDialog_ = chooseFileToSave;
};

} // namespace fennick
