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
#include <set>

namespace fennick {

namespace {

using Status = BatchRow::Status;

// "3:07", "1:02:09"
QString clockText(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    const auto twoDigits = [](long long value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    if (whole < 3600) return QStringLiteral("%1:%2").arg(whole / 60).arg(twoDigits(whole % 60));
    return QStringLiteral("%1:%2:%3").arg(whole / 3600).arg(twoDigits(whole / 60 % 60), twoDigits(whole % 60));
}

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

QString batchSummary(const std::vector<BatchRow>& rows, const QString& version)
{
    const auto count = [&rows](Status status) {
        return std::count_if(rows.begin(), rows.end(), [status](const BatchRow& row) { return row.status == status; });
    };
    const auto saved = count(Status::saved);
    QString text = QStringLiteral("Saved %1 %2").arg(saved).arg(saved == 1 ? "file" : "files");
    for (const auto& [status, word] : {std::pair{Status::failed, "failed"}, std::pair{Status::cancelled, "cancelled"},
             std::pair{Status::skipped, "skipped"}}) {
        if (const auto n = count(status); n > 0) text += QStringLiteral(", %1 %2").arg(n).arg(QLatin1String(word));
    }
    return text + QStringLiteral(" (") + version + QLatin1Char(')');
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
        [this](std::size_t row, const ClipReport& clips) {
            state_.rows[row].status = Status::saved;
            state_.rows[row].warning = clipWarning(clips);
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
    std::set<std::filesystem::path> visited;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) continue;
        const std::filesystem::path path = localPath(url);
        std::error_code error;
        if (!std::filesystem::is_directory(path, error)) {
            addFile(url, {});
            continue;
        }
        // A folder's outputs go beside its files, its subfolders mirrored onto themselves.
        if (!state_.saveFolder) state_.saveFolder = url;
        for (const FoundAudioFile& found : findAudioFiles(path, visited)) {
            addFile(QUrl::fromLocalFile(QFile::decodeName(found.file.c_str())), found.subfolder);
        }
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

std::optional<QUrl> BatchView::outputOf(const BatchRow& row) const
{
    const QString name = defaultOutputFileName(row.source, state_.settings);
    if (state_.saveNextToSource) return QUrl::fromLocalFile(QFileInfo(row.source.toLocalFile()).dir().filePath(name));
    if (!state_.saveFolder) return std::nullopt;
    const QString subfolder = QFile::decodeName(row.subfolder.c_str());
    const QString relative = subfolder.isEmpty() ? name : subfolder + QLatin1Char('/') + name;
    return QUrl::fromLocalFile(QDir::cleanPath(QDir(state_.saveFolder->toLocalFile()).filePath(relative)));
}

void BatchView::convertAll()
{
    if (state_.isConverting) return;
    std::vector<std::size_t> rows;
    QStringList existing;
    std::map<QString, std::size_t> ownerOf; // output path, first row written there
    for (std::size_t i = 0; i < state_.rows.size(); ++i) {
        BatchRow& row = state_.rows[i];
        if (!isRunnable(row)) continue;
        row.output = outputOf(row);
        if (!row.output) return;
        rows.push_back(i);
        const QString path = row.output->toLocalFile();
        if (QFileInfo::exists(path) && !existing.contains(path)) existing.append(path);
    }
    if (rows.empty()) return;
    ExistingOutputsAnswer answer = ExistingOutputsAnswer::replace;
    if (!existing.isEmpty()) answer = question_(this, existing);
    if (answer == ExistingOutputsAnswer::cancel) return;

    std::vector<BatchJob> jobs;
    for (const std::size_t i : rows) {
        BatchRow& row = state_.rows[i];
        row.progress = 0;
        row.warning.reset();
        row.reason.clear();
        const QString path = row.output->toLocalFile();
        if (const auto [owner, added] = ownerOf.emplace(path, i); !added) {
            row.status = Status::failed;
            row.reason
                = QStringLiteral("another file in the list is saved as ") + row.output->fileName() + QLatin1Char('.');
            continue;
        }
        const bool exists = existing.contains(path);
        if (exists && answer == ExistingOutputsAnswer::skip) {
            row.status = Status::skipped;
            continue;
        }
        row.status = Status::waiting;
        // The settings as the run starts: later edits in the window only reach the next run.
        jobs.push_back({i, {row.source, *row.output, state_.settings, exists}});
    }
    state_.summary.reset();
    state_.isConverting = true;
    run_.start(std::move(jobs), maxJobs_);
    if (!run_.isRunning()) endRun(); // every file skipped or failed before it started
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
    state_.summary = batchSummary(state_.rows, QString::fromUtf8(soxrVersionText()));
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
    double totalSeconds = 0, doneSeconds = 0;
    int filesDone = 0, filesInRun = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BatchRow& row = rows[i];
        QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(i));
        const QString name = QDir::cleanPath(QFile::decodeName(row.subfolder.c_str()) + '/' + row.source.fileName());
        item->setText(fileColumn, name.startsWith('/') ? name.mid(1) : name);
        item->setToolTip(fileColumn, row.source.toLocalFile());
        const bool readable = row.status != Status::unreadable;
        item->setText(sampleRateColumn, readable ? sampleRateText(row.sampleRate) : QString());
        item->setText(formatColumn, readable ? row.sourceFormat : QString());
        item->setText(lengthColumn, readable ? clockText(row.seconds) : QString());
        item->setTextAlignment(lengthColumn, Qt::AlignRight | Qt::AlignVCenter);
        const QString status = statusText(row);
        item->setText(statusColumn, status);
        item->setToolTip(statusColumn, status);
        const bool bad = row.status == Status::failed || row.status == Status::unreadable;
        item->setForeground(statusColumn,
            bad                                              ? QBrush(errorTextColor())
                : row.warning && row.status == Status::saved ? QBrush(warningTextColor())
                : row.status == Status::cancelled || row.status == Status::skipped
                ? QBrush(secondaryTextColor(list_))
                : QBrush(palette().color(QPalette::Text)));
        if (row.status != Status::ready && row.status != Status::unreadable && row.status != Status::skipped) {
            ++filesInRun;
            totalSeconds += row.seconds;
            if (row.status == Status::converting) doneSeconds += row.progress * row.seconds;
            if (row.status == Status::saved || row.status == Status::failed || row.status == Status::cancelled) {
                ++filesDone;
                doneSeconds += row.seconds;
            }
        }
    }

    const bool converting = state_.isConverting;
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
    summary_->setVisible(!converting && state_.summary.has_value());
    if (converting) {
        // Files done, and the time left at the pace so far once there is a pace to go by.
        const double fraction = totalSeconds > 0 ? doneSeconds / totalSeconds : 0.0;
        progress_->setValue(static_cast<int>(fraction * 1000));
        QString text = QStringLiteral("%1 of %2 files").arg(filesDone).arg(filesInRun);
        const double elapsed = run_.elapsedSeconds();
        if (fraction > 0.0 && fraction < 1.0 && elapsed >= 1.0) {
            text += QStringLiteral(" \u00b7 ") + clockText(elapsed * (1.0 - fraction) / fraction)
                + QStringLiteral(" left");
        }
        progressText_->setText(text);
    } else if (state_.summary) {
        summary_->setText(*state_.summary);
    }
    convertButton_->setText(converting ? QStringLiteral("Cancel") : QStringLiteral("Convert All"));
    convertButton_->setEnabled(converting || (anyRunnable && hasDestination));
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
