#include "BatchView.h"

#include "ConversionJob.h"
#include "DestinationSection.h"
#include "FileChoosers.h"
#include "FilterPlot.h"
#include "LevelText.h"
#include "LocaleFormat.h"
#include "QualitySection.h"
#include "TextStyles.h"
#include "WheelGuard.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace fennick {

namespace {

using Status = BatchRow::Status;

} // namespace

BatchView::BatchView(QWidget* parent)
    : QWidget(parent), maxJobs_(std::max(1, QThread::idealThreadCount())), run_(runHandlers())
{
    setObjectName(QStringLiteral("batchView"));
    setAcceptDrops(true);
    // Small enough for a 1024×600 screen at scale 1 and 1600×1000 at scale 2: the list and the
    // settings scroll, the bottom bar stays.
    setMinimumSize(480, 360);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("fileList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setMinimumHeight(140); // a few rows, however little room the window has
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Sample rate"), QStringLiteral("Format"),
        QStringLiteral("Length"), QStringLiteral("Loudness"), QStringLiteral("True peak"), QStringLiteral("Status")});
    list_->header()->setStretchLastSection(true);
    list_->header()->setSectionResizeMode(fileColumn, QHeaderView::Interactive);
    list_->setColumnWidth(fileColumn, 240);
    list_->setColumnWidth(sampleRateColumn, 90);
    list_->setColumnWidth(formatColumn, 120);
    list_->setColumnWidth(lengthColumn, 70);
    list_->setColumnWidth(loudnessColumn, 85);
    list_->setColumnWidth(truePeakColumn, 85);
    // Rows are dragged to a new place within the list; files dropped on it go to the window.
    list_->setDragEnabled(true);
    list_->setDragDropMode(QAbstractItemView::InternalMove);
    list_->viewport()->installEventFilter(this);
    // What to do with an empty list, where the files will be.
    emptyHint_
        = new QLabel(QStringLiteral("Drop audio files or folders here, or use Add Files\u2026 and Add Folder\u2026"));
    setSecondaryStyle(emptyHint_);
    auto* hintLayout = new QVBoxLayout(list_->viewport());
    hintLayout->addWidget(emptyHint_, 0, Qt::AlignCenter);

    addFilesButton_ = new QPushButton(QStringLiteral("&Add Files\u2026"), this);
    addFolderButton_ = new QPushButton(QStringLiteral("Add Fol&der\u2026"), this);
    removeButton_ = new QPushButton(QStringLiteral("Remove"), this);
    clearButton_ = new QPushButton(QStringLiteral("Clear"), this);
    moveUpButton_ = new QPushButton(QStringLiteral("Move Up"), this);
    moveDownButton_ = new QPushButton(QStringLiteral("Move Down"), this);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(addFilesButton_);
    listButtons->addWidget(addFolderButton_);
    listButtons->addStretch(1);
    listButtons->addWidget(moveUpButton_);
    listButtons->addWidget(moveDownButton_);
    listButtons->addWidget(removeButton_);
    listButtons->addWidget(clearButton_);

    destinationSection_ = new DestinationSection(this);
    qualitySection_ = new QualitySection(this);
    // Its files come at many rates; a plot for one of them would mislead.
    qualitySection_->filterPlot()->hide();

    auto* saveBox = new QGroupBox(QStringLiteral("Output folder"), this);
    auto* saveForm = makeSectionForm(saveBox);
    saveFolderLabel_ = new QLabel(saveBox);
    saveFolderLabel_->setObjectName(QStringLiteral("saveFolder"));
    saveFolderLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    saveFolderLabel_->setWordWrap(true);
    chooseFolderButton_ = new QPushButton(QStringLiteral("&Choose\u2026"), saveBox);
    auto* folderRow = new QWidget(saveBox);
    auto* folderLayout = new QHBoxLayout(folderRow);
    folderLayout->setContentsMargins(0, 0, 0, 0);
    folderLayout->addWidget(saveFolderLabel_, 1);
    folderLayout->addWidget(chooseFolderButton_);
    addLabelledRow(saveForm, QStringLiteral("Save into:"), folderRow, chooseFolderButton_);
    nextToSourceToggle_ = new QCheckBox(QStringLiteral("&Next to each source file"), saveBox);
    saveForm->addRow(QString(), nextToSourceToggle_);

    auto* leftColumn = new QVBoxLayout;
    leftColumn->addWidget(destinationSection_);
    leftColumn->addWidget(saveBox);
    leftColumn->addStretch(1);
    auto* settings = new QHBoxLayout;
    settings->setSpacing(14);
    settings->addLayout(leftColumn, 1);
    settings->addWidget(qualitySection_, 1);

    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(200);
    progressText_ = new QLabel(this);
    progressText_->setObjectName(QStringLiteral("progressText"));
    setCalloutFont(progressText_);
    setSecondaryStyle(progressText_);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("summary"));
    setCalloutFont(summary_);
    setSecondaryStyle(summary_);
    convertButton_ = new QPushButton(QStringLiteral("Convert All"), this);
    convertButton_->setDefault(true);
    convertButton_->setMinimumWidth(110);
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(12, 12, 12, 12);
    bottom->setSpacing(12);
    bottom->addWidget(progress_);
    bottom->addWidget(progressText_);
    bottom->addWidget(summary_);
    bottom->addStretch(1);
    bottom->addWidget(convertButton_);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("page"));
    auto* content = new QVBoxLayout(page);
    content->setContentsMargins(16, 12, 16, 12);
    content->setSpacing(10);
    // Above the list whose order it gives meaning to.
    gaplessToggle_ = new QCheckBox(
        QStringLiteral("Gapless album: convert the files in list order as one continuous recording"), this);
    content->addWidget(gaplessToggle_);
    content->addWidget(list_, 1);
    content->addLayout(listButtons);
    content->addLayout(settings);
    auto* scrollArea = new QScrollArea(this);
    scrollArea->setObjectName(QStringLiteral("scrollArea"));
    scrollArea->setWidget(page);
    scrollArea->setWidgetResizable(true);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setFocusPolicy(Qt::NoFocus); // focus goes straight to the controls
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scrollArea, 1);
    layout->addWidget(divider);
    layout->addLayout(bottom);

    connect(addFilesButton_, &QPushButton::clicked, this, [this] { addUrls(filesChooser_(this)); });
    connect(addFolderButton_, &QPushButton::clicked, this, [this] {
        if (const auto folder = folderChooser_(this, QStringLiteral("Add Folder"), QUrl())) addUrls({*folder});
    });
    connect(removeButton_, &QPushButton::clicked, this, &BatchView::removeSelected);
    connect(clearButton_, &QPushButton::clicked, this, &BatchView::clear);
    connect(moveUpButton_, &QPushButton::clicked, this, [this] { moveSelected(-1); });
    connect(moveDownButton_, &QPushButton::clicked, this, [this] { moveSelected(+1); });
    connect(gaplessToggle_, &QCheckBox::toggled, this, &BatchView::setGapless);
    connect(chooseFolderButton_, &QPushButton::clicked, this, [this] {
        if (const auto folder = folderChooser_(this, QStringLiteral("Save Into"), state_.saveFolder.value_or(QUrl()))) {
            setSaveFolder(*folder);
        }
    });
    connect(nextToSourceToggle_, &QCheckBox::toggled, this, &BatchView::setSaveNextToSource);
    // One button is Convert All and Cancel: a press made while it read Cancel never starts a run,
    // even when the run ends before the button is let go.
    connect(convertButton_, &QPushButton::pressed, this, [this] { pressedAsCancel_ = state_.isConverting; });
    connect(convertButton_, &QPushButton::clicked, this, [this] {
        if (state_.isConverting) {
            cancel();
        } else if (!std::exchange(pressedAsCancel_, false)) {
            convertAll();
        }
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &BatchView::render);
    connect(list_, &QTreeWidget::itemDoubleClicked, this,
        [this](QTreeWidgetItem* item) { revealOutput(list_->indexOfTopLevelItem(item)); });
    const auto editSettings = [this](const ConversionSettings& settings) {
        state_.settings = settings;
        render();
    };
    connect(destinationSection_, &DestinationSection::settingsEdited, this, editSettings);
    connect(qualitySection_, &QualitySection::settingsEdited, this, editSettings);

    guardWheel(page, scrollArea);
    render();
    alignLabelColumns({static_cast<QFormLayout*>(destinationSection_->layout()), saveForm});
}

BatchQueue::Handlers BatchView::runHandlers()
{
    return {
        [this](std::size_t row) {
            state_.rows[row].status = Status::converting;
            render();
        },
        [this](std::size_t row, double fraction) {
            state_.rows[row].progress = fraction;
            render();
        },
        [this](std::size_t row, const ConversionReport& report) {
            state_.rows[row].status = Status::saved;
            state_.rows[row].warning = runWarning(report);
            if (report.meter) state_.rows[row].level = report.level;
            state_.rows[row].meter = report.meter;
            render();
        },
        [this](std::size_t row, const QString& description) {
            state_.rows[row].status = Status::failed;
            state_.rows[row].reason = description;
            render();
        },
        [this] {
            cancelRun(state_); // an album that failed leaves its later files unconverted
            endRun(state_);
            render();
        },
    };
}

void BatchView::addUrls(const QList<QUrl>& urls)
{
    if (state_.isConverting) return;
    addSources(state_, urls);
    render();
}

void BatchView::removeSelected()
{
    if (state_.isConverting) return;
    std::vector<int> selected;
    for (QTreeWidgetItem* item : list_->selectedItems()) selected.push_back(list_->indexOfTopLevelItem(item));
    std::sort(selected.rbegin(), selected.rend());
    {
        // The rows drawn stay in step with state_.rows only through render(); the selection goes
        // first, so that no item left behind stays selected for a row that moved up.
        const QSignalBlocker quiet(list_);
        list_->clearSelection();
    }
    for (const int row : selected) state_.rows.erase(state_.rows.begin() + row);
    render();
}

void BatchView::clear()
{
    if (state_.isConverting) return;
    state_.rows.clear();
    state_.summary.reset();
    render();
}

void BatchView::setSaveFolder(const QUrl& folder)
{
    state_.saveFolder = folder;
    render();
}

void BatchView::setSettings(const ConversionSettings& settings)
{
    if (state_.isConverting) return;
    state_.settings = settings;
    render();
}

void BatchView::setSaveNextToSource(bool nextToSource)
{
    state_.saveNextToSource = nextToSource;
    render();
}

void BatchView::setGapless(bool gapless)
{
    state_.gapless = gapless;
    render();
}

void BatchView::moveSelected(int offset)
{
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (state_.isConverting || selected.size() != 1) return;
    const int from = list_->indexOfTopLevelItem(selected.front());
    moveSelectedTo(from, from + offset);
}

void BatchView::moveSelectedTo(int from, int to)
{
    if (to < 0 || to >= static_cast<int>(state_.rows.size())) return;
    moveRow(state_, static_cast<std::size_t>(from), static_cast<std::size_t>(to));
    {
        const QSignalBlocker quiet(list_);
        list_->setCurrentItem(list_->topLevelItem(to)); // the selection follows the row
    }
    render();
}

void BatchView::convertAll()
{
    if (state_.isConverting) return;
    const auto planned = planRows(state_);
    // Two rows saved as one file are refused before anything runs; both rows say so.
    if (!planned || planned->rows.empty() || !planned->plan.clashes.empty()) return;
    const std::vector<std::size_t> existing = existingOutputs(planned->plan);
    QStringList existingPaths;
    for (const std::size_t k : existing)
        existingPaths.append(QFile::decodeName(planned->plan.outputs[k].output.c_str()));
    ExistingOutputsAnswer answer = ExistingOutputsAnswer::replace;
    if (!existingPaths.isEmpty()) answer = question_(this, existingPaths);
    if (answer == ExistingOutputsAnswer::cancel) return;
    // An album cannot leave a track out: skipping one would join the tracks around it.
    if (state_.gapless && answer == ExistingOutputsAnswer::skip) return;

    std::vector<BatchJob> jobs = startRun(state_, *planned, existing, answer == ExistingOutputsAnswer::skip);
    if (state_.gapless) {
        run_.startAlbum(std::move(jobs));
    } else {
        run_.start(std::move(jobs), maxJobs_);
    }
    if (!run_.isRunning()) endRun(state_); // every file skipped
    render();
}

void BatchView::cancel()
{
    if (!state_.isConverting) return;
    run_.cancel();
    cancelRun(state_);
    endRun(state_);
    render();
}

void BatchView::revealOutput(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= state_.rows.size()) return;
    const BatchRow& saved = state_.rows[static_cast<std::size_t>(row)];
    if (saved.status != Status::saved) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(saved.output->toLocalFile()).absolutePath()));
}

void BatchView::render()
{
    const auto& rows = state_.rows;
    {
        // Taking out a selected item changes the selection, which would call render() again in
        // the middle of this loop.
        const QSignalBlocker quiet(list_);
        while (list_->topLevelItemCount() > static_cast<int>(rows.size()))
            delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
        while (list_->topLevelItemCount() < static_cast<int>(rows.size())) list_->addTopLevelItem(new QTreeWidgetItem);
    }
    const bool converting = state_.isConverting;
    // Between runs, rows that would be saved as one file name each other, and the run waits
    // until one of them goes or the settings part them.
    const BatchClashes clashes = findClashes(state_);
    const AlbumCheck album = checkAlbum(state_);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BatchRow& row = rows[i];
        QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(i));
        const QString name = QDir::cleanPath(QFile::decodeName(row.subfolder.c_str()) + '/' + row.source.fileName());
        item->setText(fileColumn, name.startsWith('/') ? name.mid(1) : name);
        item->setToolTip(fileColumn, row.source.toLocalFile());
        const bool readable = row.status != Status::unreadable;
        item->setText(sampleRateColumn, readable ? sampleRateText(row.sampleRate) : QString());
        item->setText(formatColumn, readable ? row.sourceFormat : QString());
        item->setText(lengthColumn, readable ? QString::fromStdString(clockText(row.seconds)) : QString());
        item->setTextAlignment(lengthColumn, Qt::AlignRight | Qt::AlignVCenter);
        // The saved output's figures, once it is saved.
        const bool measured = row.status == Status::saved && row.level;
        item->setText(loudnessColumn, measured ? levelWithUnit(row.level->integratedLufs, "LUFS") : QString());
        item->setText(truePeakColumn, measured ? levelWithUnit(row.level->truePeakDbtp, "dBTP") : QString());
        for (const int column : {loudnessColumn, truePeakColumn})
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        const auto other = clashes.otherSource.find(i);
        const bool misfit = std::find(album.misfits.begin(), album.misfits.end(), i) != album.misfits.end();
        QString status = statusText(row);
        if (other != clashes.otherSource.end()) {
            status = QStringLiteral("Same output as ") + other->second;
        } else if (misfit && row.status != Status::unreadable) {
            status = QStringLiteral("Not the album's sample rate and channels");
        }
        item->setText(statusColumn, status);
        item->setToolTip(statusColumn, status);
        const bool bad = row.status == Status::failed || row.status == Status::unreadable
            || other != clashes.otherSource.end() || misfit;
        item->setForeground(statusColumn,
            bad                                              ? QBrush(errorTextColor())
                : row.warning && row.status == Status::saved ? QBrush(warningTextColor())
                : row.status == Status::cancelled || row.status == Status::skipped
                ? QBrush(secondaryTextColor(list_))
                : QBrush(palette().color(QPalette::Text)));
    }

    emptyHint_->setVisible(rows.empty());
    addFilesButton_->setEnabled(!converting);
    addFolderButton_->setEnabled(!converting);
    removeButton_->setEnabled(!converting && !list_->selectedItems().isEmpty());
    clearButton_->setEnabled(!converting && !rows.empty());
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    const int selectedRow = selected.size() == 1 ? list_->indexOfTopLevelItem(selected.front()) : -1;
    moveUpButton_->setEnabled(!converting && selectedRow > 0);
    moveDownButton_->setEnabled(!converting && selectedRow >= 0 && selectedRow + 1 < static_cast<int>(rows.size()));
    gaplessToggle_->setChecked(state_.gapless);
    gaplessToggle_->setEnabled(!converting);
    list_->setDragEnabled(!converting);
    destinationSection_->render(state_.settings);
    destinationSection_->setEnabled(!converting);
    qualitySection_->render(state_.settings, !converting);
    qualitySection_->setEnabled(!converting);
    saveFolderLabel_->setText(state_.saveFolder ? QDir::toNativeSeparators(state_.saveFolder->toLocalFile())
                                                : QStringLiteral("The folder of the first file added"));
    setSecondaryStyle(saveFolderLabel_, !state_.saveFolder || state_.saveNextToSource);
    saveFolderLabel_->setEnabled(!state_.saveNextToSource);
    chooseFolderButton_->setEnabled(!converting && !state_.saveNextToSource);
    nextToSourceToggle_->setChecked(state_.saveNextToSource);
    nextToSourceToggle_->setEnabled(!converting);

    progress_->setVisible(converting);
    progressText_->setVisible(converting);
    summary_->setVisible(!converting && (clashes.sentence || album.reason || state_.summary));
    if (converting) {
        const BatchRunProgress progress = runProgress(state_, run_.elapsedSeconds());
        progress_->setValue(static_cast<int>(progress.fraction * 1000));
        progressText_->setText(progress.text);
    } else if (clashes.sentence) {
        summary_->setText(*clashes.sentence);
    } else if (album.reason) {
        summary_->setText(*album.reason);
    } else if (state_.summary) {
        summary_->setText(*state_.summary);
    }
    convertButton_->setText(converting ? QStringLiteral("Cancel") : QStringLiteral("Convert All"));
    convertButton_->setEnabled(converting || canConvertAll(state_, clashes));
    emit stateChanged();
}

bool BatchView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != list_->viewport()) return QWidget::eventFilter(watched, event);
    const auto type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    auto* drop = static_cast<QDropEvent*>(event);
    // The list's own drag carries its rows, not files.
    const bool rowDrag = !drop->mimeData()->hasUrls()
        && drop->mimeData()->hasFormat(QStringLiteral("application/x-qabstractitemmodeldatalist"));
    if (!rowDrag) {
        // Files dropped on the list are the window's.
        if (type == QEvent::Drop) {
            dropEvent(drop);
        } else {
            dragMoveEvent(static_cast<QDragMoveEvent*>(event));
        }
        return true;
    }
    if (type != QEvent::Drop) {
        if (state_.isConverting) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        return false; // the list draws where the row would go
    }
    // The row goes where it is dropped: before the row under the pointer, or after it in its lower half.
    const QPoint at = drop->position().toPoint();
    const QModelIndex target = list_->indexAt(at);
    const int from = list_->indexOfTopLevelItem(list_->currentItem());
    int to = target.isValid() ? target.row() + (at.y() > list_->visualRect(target).center().y() ? 1 : 0)
                              : static_cast<int>(state_.rows.size());
    if (to > from) --to;
    if (from >= 0 && !state_.isConverting) moveSelectedTo(from, to);
    drop->setDropAction(Qt::IgnoreAction); // the list keeps its items; render() redraws them from the state
    drop->accept();
    return true;
}

void BatchView::keyPressEvent(QKeyEvent* event)
{
    const bool removes = event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
    if (removes && !state_.isConverting && !list_->selectedItems().isEmpty()) {
        removeSelected();
    } else if (event->key() == Qt::Key_Escape && state_.isConverting) {
        cancel();
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void BatchView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls() && !state_.isConverting) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void BatchView::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls() && !state_.isConverting) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void BatchView::dropEvent(QDropEvent* event)
{
    if (!event->mimeData()->hasUrls() || state_.isConverting) {
        event->ignore();
        return;
    }
    addUrls(event->mimeData()->urls());
    event->acceptProposedAction();
}

} // namespace fennick
