#pragma once

// The whole content of a main window: the three steps, the bottom bar with the conversion run,
// and the drop target over all of it. Owns the window state; every change goes through here
// and redraws the window from the state.

#include "ContentState.h"
#include "FileChoosers.h"
#include "FilterMeasurement.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>

class QScrollArea;

namespace fennick {

class BottomBar;
class DestinationSection;
class DropHighlight;
class FilterMeasurement;
class QualitySection;
class SourceMeter;
class SourceSection;

class ContentView : public QWidget {
    Q_OBJECT
public:
    explicit ContentView(QWidget* parent = nullptr);
    ~ContentView() override;

    // Reads the file's header and shows it as the source, or the reason it cannot be read.
    void loadSourceFile(const QUrl& url);
    bool isConverting() const { return state_.isConverting; }
    // Steps 2 and 3 as given, as if chosen there (not during a run).
    void setSettings(const ConversionSettings& settings);
    const ContentState& state() const { return state_; }

    // The dialogs behind "Choose…" and "Convert…"; chooseFileToOpen and chooseFileToSave unless replaced.
    void setOpenFileChooser(OpenFileChooser chooser);
    void setSaveFileChooser(SaveFileChooser chooser);
    // What "Show in Folder" does with the saved file's folder; the desktop's file manager unless replaced.
    void setFolderRevealer(std::function<void(const QUrl& folder)> revealer) { folderRevealer_ = std::move(revealer); }

    // What the user can do, as the controls do it.
    void chooseSourceFile();
    bool handleDrop(const QList<QUrl>& urls);
    void setDropTargeted(bool targeted);
    void startConversion();
    // Stops the run within one block; the window is ready for the next one at once.
    void cancelConversion();

    SourceSection* sourceSection() const { return sourceSection_; }
    DestinationSection* destinationSection() const { return destinationSection_; }
    QualitySection* qualitySection() const { return qualitySection_; }
    BottomBar* bottomBar() const { return bottomBar_; }
    DropHighlight* dropHighlight() const { return dropHighlight_; }

signals:
    // After every redraw from a changed state.
    void stateChanged();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void render();
    void requestFilterMeasurement();
    void setUpTabOrder();

    ContentState state_;
    std::optional<std::stop_source> runStop_; // the run under way
    std::uint64_t runNumber_ = 0; // reports of an earlier run are dropped
    OpenFileChooser openFileChooser_;
    SaveFileChooser saveFileChooser_;
    std::function<void(const QUrl& folder)> folderRevealer_;

    QScrollArea* scrollArea_;
    SourceSection* sourceSection_;
    DestinationSection* destinationSection_;
    QualitySection* qualitySection_;
    BottomBar* bottomBar_;
    DropHighlight* dropHighlight_;
    FilterMeasurement* filterMeasurement_;
    SourceMeter* sourceMeter_;
    std::optional<FilterRequest> lastFilterRequest_;
};

} // namespace fennick
