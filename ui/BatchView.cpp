#include "BatchView.h"

#include "ConversionRun.h"
#include "DestinationSection.h"
#include "FileChoosers.h"
#include "FilterPlot.h"
#include "LocaleFormat.h"
#include "QualitySection.h"
#include "SourceFile.h"
#include "TextStyles.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <map>

namespace fennick {

namespace {

using Status = BatchRow::Status;

// The runnable rows (unreadable ones are left out) and the outputs they map to; nothing while
// there is nowhere to save.
struct RowPlan {
    std::vector<std::size_t> rows;
    BatchPlan plan;
};

std::optional<RowPlan> planRows(const BatchState& state)
{
    if (!state.saveNextToSource && !state.saveFolder) return std::nullopt;
    RowPlan planned;
    std::vector<BatchSource> sources;
    for (std::size_t i = 0; i < state.rows.size(); ++i) {
        if (state.rows[i].status == Status::unreadable) continue;
        planned.rows.push_back(i);
        sources.push_back({localPath(state.rows[i].source), state.rows[i].subfolder});
    }
    const BatchDestination destination{
        state.saveFolder ? localPath(*state.saveFolder) : std::filesystem::path(), state.saveNextToSource};
    planned.plan = planBatch(sources, destination, state.settings);
    return planned;
}

// The deepest folder both files are in.
std::filesystem::path commonFolder(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const std::filesystem::path aFolder = a.parent_path(), bFolder = b.parent_path();
    std::filesystem::path common;
    for (auto i = aFolder.begin(), j = bFolder.begin(); i != aFolder.end() && j != bFolder.end() && *i == *j;
         ++i, ++j) {
        common /= *i;
    }
    return common;
}

// A path as short as it can be said: below `base`, relative to it, as the list names its files.
QString shortPath(const std::filesystem::path& path, const std::filesystem::path& base)
{
    const std::filesystem::path relative = path.lexically_relative(base);
    const bool below = !relative.empty() && *relative.begin() != "..";
    return QDir::toNativeSeparators(QFile::decodeName((below ? relative : path).c_str()));
}

QString clockQText(double seconds) { return QString::fromStdString(clockText(seconds)); }

QString statusText(const BatchRow& row)
{
    switch (row.status) {
    case Status::ready: return {};
    case Status::unreadable: return QStringLiteral("Could not read file: ") + row.reason;
    case Status::waiting: return QStringLiteral("Waiting");
    case Status::converting: return percentageText(row.progress);
    case Status::saved: {
        const QString saved = QStringLiteral("Saved ") + row.output->fileName();
        return row.warning ? saved + QStringLiteral(" \u2014 ") + *row.warning : saved;
    }
    case Status::skipped: return QStringLiteral("Skipped: ") + row.output->fileName() + QStringLiteral(" exists");
    case Status::cancelled: return QStringLiteral("Cancelled");
    case Status::failed: return QStringLiteral("Failed: ") + row.reason;
    }
    return {};
}

bool isRunnable(const BatchRow& row) { return row.status != Status::unreadable; }

} // namespace

ExistingOutputsAnswer askAboutExistingOutputs(QWidget* parent, const QStringList& outputs)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Convert Several Files"),
        outputs.size() == 1 ? QStringLiteral("1 output file exists already.")
                            : QStringLiteral("%1 output files exist already.").arg(outputs.size()),
        QMessageBox::NoButton, parent);
    box.setInformativeText(QStringLiteral("Replace them, or skip those files?"));
    box.setDetailedText(outputs.join(QLatin1Char('\n')));
    QPushButton* replace = box.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
    QPushButton* skip = box.addButton(QStringLiteral("Skip"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(skip);
    box.exec();
    if (box.clickedButton() == replace) return ExistingOutputsAnswer::replace;
    if (box.clickedButton() == skip) return ExistingOutputsAnswer::skip;
    return ExistingOutputsAnswer::cancel;
}

BatchView::BatchView(QWidget* parent)
    : QWidget(parent), maxJobs_(std::max(1, QThread::idealThreadCount())), run_(runHandlers())
{
    setObjectName(QStringLiteral("batchView"));
    setAcceptDrops(true);
    setMinimumSize(900, 640);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("fileList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Sample rate"), QStringLiteral("Format"),
        QStringLiteral("Length"), QStringLiteral("Status")});
    list_->header()->setStretchLastSection(true);
    list_->header()->setSectionResizeMode(fileColumn, QHeaderView::Interactive);
    list_->setColumnWidth(fileColumn, 240);
    list_->setColumnWidth(sampleRateColumn, 90);
    list_->setColumnWidth(formatColumn, 120);
    list_->setColumnWidth(lengthColumn, 70);
    list_->setAcceptDrops(false); // the window takes drops anywhere, the list included
    // What to do with an empty list, where the files will be.
    emptyHint_
        = new QLabel(QStringLiteral("Drop audio files or folders here, or use Add Files\u2026 and Add Folder\u2026"));
    setSecondaryStyle(emptyHint_);
    auto* hintLayout = new QVBoxLayout(list_->viewport());
    hintLayout->addWidget(emptyHint_, 0, Qt::AlignCenter);

    addFilesButton_ = new QPushButton(QStringLiteral("Add Files\u2026"), this);
    addFolderButton_ = new QPushButton(QStringLiteral("Add Folder\u2026"), this);
    removeButton_ = new QPushButton(QStringLiteral("Remove"), this);
    clearButton_ = new QPushButton(QStringLiteral("Clear"), this);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(addFilesButton_);
    listButtons->addWidget(addFolderButton_);
    listButtons->addStretch(1);
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
    chooseFolderButton_ = new QPushButton(QStringLiteral("Choose\u2026"), saveBox);
    auto* folderRow = new QWidget(saveBox);
    auto* folderLayout = new QHBoxLayout(folderRow);
    folderLayout->setContentsMargins(0, 0, 0, 0);
    folderLayout->addWidget(saveFolderLabel_, 1);
    folderLayout->addWidget(chooseFolderButton_);
    addLabelledRow(saveForm, QStringLiteral("Save into:"), folderRow, chooseFolderButton_);
    nextToSourceToggle_ = new QCheckBox(QStringLiteral("Next to each source file"), saveBox);
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
    progressText_->setFont(calloutFont(font()));
    setSecondaryStyle(progressText_);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("summary"));
    summary_->setFont(calloutFont(font()));
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

    auto* content = new QVBoxLayout;
    content->setContentsMargins(16, 12, 16, 12);
    content->setSpacing(10);
    content->addWidget(list_, 1);
    content->addLayout(listButtons);
    content->addLayout(settings);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(content, 1);
    layout->addWidget(divider);
    layout->addLayout(bottom);

    connect(addFilesButton_, &QPushButton::clicked, this, [this] { addUrls(chooseFilesToAdd(this)); });
    connect(addFolderButton_, &QPushButton::clicked, this, [this] {
        if (const auto folder = chooseFolder(this, QStringLiteral("Add Folder"))) addUrls({*folder});
    });
    connect(removeButton_, &QPushButton::clicked, this, &BatchView::removeSelected);
    connect(clearButton_, &QPushButton::clicked, this, &BatchView::clear);
    connect(chooseFolderButton_, &QPushButton::clicked, this, [this] {
        if (const auto folder = chooseFolder(this, QStringLiteral("Save Into"), state_.saveFolder.value_or(QUrl()))) {
            setSaveFolder(*folder);
        }
    });
    connect(nextToSourceToggle_, &QCheckBox::toggled, this, &BatchView::setSaveNextToSource);
    connect(convertButton_, &QPushButton::clicked, this, [this] { state_.isConverting ? cancel() : convertAll(); });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &BatchView::render);
    connect(list_, &QTreeWidget::itemDoubleClicked, this,
        [this](QTreeWidgetItem* item) { revealOutput(list_->indexOfTopLevelItem(item)); });
    const auto editSettings = [this](const ConversionSettings& settings) {
        state_.settings = settings;
        render();
    };
    connect(destinationSection_, &DestinationSection::settingsEdited, this, editSettings);
    connect(qualitySection_, &QualitySection::settingsEdited, this, editSettings);

    render();
    alignLabelColumns({static_cast<QFormLayout*>(destinationSection_->layout()), saveForm});
}

BatchRun::Handlers BatchView::runHandlers()
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
            render();
        },
        [this](std::size_t row, const QString& description) {
            state_.rows[row].status = Status::failed;
            state_.rows[row].reason = description;
            render();
        },
        [this] {
            endRun();
            render();
        },
    };
}

void BatchView::addFile(const QUrl& url, const std::filesystem::path& subfolder)
{
    const auto same = [&url](const BatchRow& row) { return row.source == url; };
    if (std::any_of(state_.rows.begin(), state_.rows.end(), same)) return;
    BatchRow row;
    row.source = url;
    row.subfolder = subfolder;
    try {
        const SourceFileInfo info = readSourceFileInfo(localPath(url));
        row.sampleRate = info.sampleRate;
        row.sourceFormat = QString::fromStdString(info.sampleFormat);
        row.seconds = info.sampleRate > 0 ? static_cast<double>(info.frames) / info.sampleRate : 0;
    } catch (const std::exception& error) {
        row.status = Status::unreadable;
        row.reason = QString::fromUtf8(error.what());
    }
    if (!state_.saveFolder) {
        state_.saveFolder = QUrl::fromLocalFile(QFileInfo(url.toLocalFile()).absolutePath());
    }
    state_.rows.push_back(std::move(row));
}

void BatchView::addUrls(const QList<QUrl>& urls)
{
    if (state_.isConverting) return;
    std::vector<std::filesystem::path> named;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) named.push_back(localPath(url));
    }
    // The outputs go beside the first folder's files, its subfolders mirrored onto themselves, or
    // beside the first file.
    std::error_code error;
    if (!state_.saveFolder && !named.empty() && std::filesystem::is_directory(named.front(), error)) {
        state_.saveFolder = QUrl::fromLocalFile(QFile::decodeName(named.front().c_str()));
    }
    for (const BatchSource& source : findBatchSources(named)) {
        addFile(QUrl::fromLocalFile(QFile::decodeName(source.file.c_str())), source.subfolder);
    }
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

void BatchView::setSaveNextToSource(bool nextToSource)
{
    state_.saveNextToSource = nextToSource;
    render();
}

void BatchView::convertAll()
{
    if (state_.isConverting) return;
    const auto planned = planRows(state_);
    // Two rows saved as one file are refused before anything runs; both rows say so.
    if (!planned || planned->rows.empty() || !planned->plan.clashes.empty()) return;
    const std::vector<std::size_t> existingIndices = existingOutputs(planned->plan);
    std::vector<bool> exists(planned->rows.size(), false);
    QStringList existing;
    for (const std::size_t k : existingIndices) {
        exists[k] = true;
        existing.append(QFile::decodeName(planned->plan.outputs[k].output.c_str()));
    }
    ExistingOutputsAnswer answer = ExistingOutputsAnswer::replace;
    if (!existing.isEmpty()) answer = question_(this, existing);
    if (answer == ExistingOutputsAnswer::cancel) return;

    std::vector<BatchJob> jobs;
    for (std::size_t k = 0; k < planned->rows.size(); ++k) {
        const std::size_t i = planned->rows[k];
        BatchRow& row = state_.rows[i];
        row.output = QUrl::fromLocalFile(QFile::decodeName(planned->plan.outputs[k].output.c_str()));
        row.progress = 0;
        row.warning.reset();
        row.reason.clear();
        if (exists[k] && answer == ExistingOutputsAnswer::skip) {
            row.status = Status::skipped;
            continue;
        }
        row.status = Status::waiting;
        // The settings as the run starts: later edits in the window only reach the next run.
        jobs.push_back({i, {row.source, *row.output, state_.settings, exists[k]}});
    }
    state_.summary.reset();
    state_.isConverting = true;
    run_.start(std::move(jobs), maxJobs_);
    if (!run_.isRunning()) endRun(); // every file skipped
    render();
}

void BatchView::cancel()
{
    if (!state_.isConverting) return;
    run_.cancel();
    for (BatchRow& row : state_.rows) {
        if (row.status == Status::waiting || row.status == Status::converting) row.status = Status::cancelled;
    }
    endRun();
    render();
}

void BatchView::endRun()
{
    state_.isConverting = false;
    BatchCounts counts;
    for (const BatchRow& row : state_.rows) {
        if (row.status == Status::saved) ++counts.saved;
        if (row.status == Status::failed) ++counts.failed;
        if (row.status == Status::cancelled) ++counts.cancelled;
        if (row.status == Status::skipped) ++counts.skipped;
    }
    state_.summary = QString::fromStdString(batchSummary(counts, soxrVersionText()));
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
    std::map<std::size_t, QString> clashingWith; // row, the other row's source
    std::optional<QString> clash;
    if (const auto planned = converting ? std::nullopt : planRows(state_)) {
        for (const auto& [first, second] : planned->plan.clashes) {
            const PlannedOutput &a = planned->plan.outputs[first], &b = planned->plan.outputs[second];
            const std::filesystem::path base = commonFolder(a.source, b.source);
            const QString aName = shortPath(a.source, base), bName = shortPath(b.source, base);
            clashingWith.emplace(planned->rows[first], bName);
            clashingWith.emplace(planned->rows[second], aName);
            if (!clash) {
                clash = QString::fromStdString(
                    clashSentence(aName.toStdString(), bName.toStdString(), shortPath(b.output, base).toStdString()));
            }
        }
    }
    std::vector<double> runSeconds;
    std::vector<const BatchRow*> runRows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BatchRow& row = rows[i];
        QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(i));
        const QString name = QDir::cleanPath(QFile::decodeName(row.subfolder.c_str()) + '/' + row.source.fileName());
        item->setText(fileColumn, name.startsWith('/') ? name.mid(1) : name);
        item->setToolTip(fileColumn, row.source.toLocalFile());
        const bool readable = row.status != Status::unreadable;
        item->setText(sampleRateColumn, readable ? sampleRateText(row.sampleRate) : QString());
        item->setText(formatColumn, readable ? row.sourceFormat : QString());
        item->setText(lengthColumn, readable ? clockQText(row.seconds) : QString());
        item->setTextAlignment(lengthColumn, Qt::AlignRight | Qt::AlignVCenter);
        const auto other = clashingWith.find(i);
        const QString status
            = other == clashingWith.end() ? statusText(row) : QStringLiteral("Same output as ") + other->second;
        item->setText(statusColumn, status);
        item->setToolTip(statusColumn, status);
        const bool bad
            = row.status == Status::failed || row.status == Status::unreadable || other != clashingWith.end();
        item->setForeground(statusColumn,
            bad                                              ? QBrush(errorTextColor())
                : row.warning && row.status == Status::saved ? QBrush(warningTextColor())
                : row.status == Status::cancelled || row.status == Status::skipped
                ? QBrush(secondaryTextColor(list_))
                : QBrush(palette().color(QPalette::Text)));
        if (row.status != Status::ready && row.status != Status::unreadable && row.status != Status::skipped) {
            runSeconds.push_back(row.seconds);
            runRows.push_back(&row);
        }
    }

    const bool anyRunnable = std::any_of(rows.begin(), rows.end(), isRunnable);
    const bool hasDestination = state_.saveNextToSource || state_.saveFolder.has_value();
    emptyHint_->setVisible(rows.empty());
    addFilesButton_->setEnabled(!converting);
    addFolderButton_->setEnabled(!converting);
    removeButton_->setEnabled(!converting && !list_->selectedItems().isEmpty());
    clearButton_->setEnabled(!converting && !rows.empty());
    destinationSection_->render(state_.settings);
    qualitySection_->render(state_.settings);
    saveFolderLabel_->setText(state_.saveFolder ? QDir::toNativeSeparators(state_.saveFolder->toLocalFile())
                                                : QStringLiteral("The folder of the first file added"));
    setSecondaryStyle(saveFolderLabel_, !state_.saveFolder || state_.saveNextToSource);
    saveFolderLabel_->setEnabled(!state_.saveNextToSource);
    chooseFolderButton_->setEnabled(!converting && !state_.saveNextToSource);
    nextToSourceToggle_->setChecked(state_.saveNextToSource);
    nextToSourceToggle_->setEnabled(!converting);

    progress_->setVisible(converting);
    progressText_->setVisible(converting);
    summary_->setVisible(!converting && (clash || state_.summary));
    if (converting) {
        // Files done, and the time left at the pace so far once there is a pace to go by.
        BatchProgress progress(std::move(runSeconds));
        for (std::size_t k = 0; k < runRows.size(); ++k) {
            const Status status = runRows[k]->status;
            if (status == Status::converting) progress.progressed(k, runRows[k]->progress);
            if (status == Status::saved || status == Status::failed || status == Status::cancelled)
                progress.finished(k);
        }
        progress_->setValue(static_cast<int>(progress.fraction() * 1000));
        QString text = QStringLiteral("%1 of %2 files").arg(progress.filesDone()).arg(progress.fileCount());
        if (const auto left = progress.secondsLeft(run_.elapsedSeconds())) {
            text += QStringLiteral(" \u00b7 ") + clockQText(*left) + QStringLiteral(" left");
        }
        progressText_->setText(text);
    } else if (clash) {
        summary_->setText(*clash);
    } else if (state_.summary) {
        summary_->setText(*state_.summary);
    }
    convertButton_->setText(converting ? QStringLiteral("Cancel") : QStringLiteral("Convert All"));
    convertButton_->setEnabled(converting || (anyRunnable && hasDestination && !clash));
    emit stateChanged();
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
