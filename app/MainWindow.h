#pragma once

#include "FennickEngine.h"
#include "FileChoosers.h"

#include <QMainWindow>
#include <QSize>
#include <QUrl>

#include <optional>

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
    // Where the open dialog starts: beside the current source, else the last window's.
    QString openDialogFolder() const;

signals:
    void newWindowRequested();
    void batchWindowRequested();

private:
    ContentView* contentView_;
    ConversionSettings rememberedSettings_; // as last written to the user's settings
    std::optional<QUrl> rememberedSource_;
    SaveFileChooser saveDialog_ = chooseFileToSave;
};

} // namespace fennick
