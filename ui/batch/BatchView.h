#pragma once

// The batch window's content: a list of files converted with one set of settings into one folder
// (or next to each source), several at a time. Owns its state; every change goes through here and
// redraws from the state. Runs report back on the main thread and never make a worker wait.

#include "BatchQueue.h"
#include "BatchState.h"
#include "ExistingOutputsQuestion.h"
#include "FileChoosers.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace fennick {

class DestinationSection;
class QualitySection;

class BatchView : public QWidget {
    Q_OBJECT
public:
    enum Column {
        fileColumn,
        sampleRateColumn,
        formatColumn,
        lengthColumn,
        loudnessColumn,
        truePeakColumn,
        statusColumn
    };

    explicit BatchView(QWidget* parent = nullptr);

    const BatchState& state() const { return state_; }
    // The dialogs behind Add Files…, Add Folder… and Choose…, and the question asked when outputs
    // exist already; the real ones unless replaced.
    void setFilesChooser(FilesChooser chooser) { filesChooser_ = std::move(chooser); }
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    void setExistingOutputsQuestion(ExistingOutputsQuestion question) { question_ = std::move(question); }
    // Files at a time; the core count unless set.
    void setMaxJobs(int jobs) { maxJobs_ = std::max(1, jobs); }

    // What the user can do, as the controls do it. Folders stand for the audio files under them.
    void addUrls(const QList<QUrl>& urls);
    void removeSelected();
    void clear();
    void setSaveFolder(const QUrl& folder);
    void setSettings(const ConversionSettings& settings); // steps 2 and 3, not during a run
    void setSaveNextToSource(bool nextToSource);
    void setGapless(bool gapless);
    void moveSelected(int offset); // the selected row, up (-1) or down (+1)
    void convertAll();
    void cancel();
    void revealOutput(int row); // the saved file's folder in the desktop's file manager

    QTreeWidget* list() const { return list_; }
    DestinationSection* destinationSection() const { return destinationSection_; }
    QualitySection* qualitySection() const { return qualitySection_; }
    QPushButton* addFilesButton() const { return addFilesButton_; }
    QPushButton* chooseFolderButton() const { return chooseFolderButton_; }
    QPushButton* convertButton() const { return convertButton_; }
    QPushButton* removeButton() const { return removeButton_; }
    QPushButton* clearButton() const { return clearButton_; }
    QPushButton* moveUpButton() const { return moveUpButton_; }
    QPushButton* moveDownButton() const { return moveDownButton_; }
    QCheckBox* gaplessToggle() const { return gaplessToggle_; }
    QLabel* summaryLabel() const { return summary_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* progressLabel() const { return progressText_; }

signals:
    void stateChanged();

protected:
    // A row dragged within the list is dropped at its new place in the state.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override; // Delete and Backspace remove, Escape cancels
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    BatchQueue::Handlers runHandlers();
    void moveSelectedTo(int from, int to); // the run's reports, into the state and onto the screen
    void render();

    BatchState state_;
    FilesChooser filesChooser_ = chooseFilesToAdd;
    FolderChooser folderChooser_ = chooseFolder;
    ExistingOutputsQuestion question_ = askAboutExistingOutputs;
    int maxJobs_;
    BatchQueue run_; // stopped with the window
    bool pressedAsCancel_ = false;

    QTreeWidget* list_;
    QLabel* emptyHint_;
    QPushButton* addFilesButton_;
    QPushButton* addFolderButton_;
    QPushButton* removeButton_;
    QPushButton* clearButton_;
    QPushButton* moveUpButton_;
    QPushButton* moveDownButton_;
    QCheckBox* gaplessToggle_;
    DestinationSection* destinationSection_;
    QualitySection* qualitySection_;
    QLabel* saveFolderLabel_;
    QPushButton* chooseFolderButton_;
    QCheckBox* nextToSourceToggle_;
    QProgressBar* progress_;
    QLabel* progressText_;
    QLabel* summary_;
    QPushButton* convertButton_;
};

} // namespace fennick
