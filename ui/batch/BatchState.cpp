#include "BatchState.h"

#include "LevelText.h"
#include "LocaleFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <exception>

namespace fennick {

namespace {

using Status = BatchRow::Status;

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

QUrl fileUrl(const std::filesystem::path& path) { return QUrl::fromLocalFile(QFile::decodeName(path.c_str())); }

void addFile(BatchState& state, const QUrl& url, const std::filesystem::path& subfolder)
{
    const auto same = [&url](const BatchRow& row) { return row.source == url; };
    if (std::any_of(state.rows.begin(), state.rows.end(), same)) return;
    BatchRow row;
    row.source = url;
    row.subfolder = subfolder;
    try {
        const SourceFileInfo info = readSourceFileInfo(localPath(url));
        row.sampleRate = info.sampleRate;
        row.channels = info.channelCount;
        row.sourceFormat = QString::fromStdString(info.sampleFormat);
        row.seconds = info.sampleRate > 0 ? static_cast<double>(info.frames) / info.sampleRate : 0;
    } catch (const std::exception& error) {
        row.status = Status::unreadable;
        row.reason = QString::fromUtf8(error.what());
    }
    if (!state.saveFolder) {
        state.saveFolder = QUrl::fromLocalFile(QFileInfo(url.toLocalFile()).absolutePath());
    }
    state.rows.push_back(std::move(row));
}

} // namespace

void addSources(BatchState& state, const QList<QUrl>& urls)
{
    std::vector<std::filesystem::path> named;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) named.push_back(localPath(url));
    }
    // The outputs go beside the first folder's files, its subfolders mirrored onto themselves, or
    // beside the first file.
    std::error_code error;
    if (!state.saveFolder && !named.empty() && std::filesystem::is_directory(named.front(), error)) {
        state.saveFolder = fileUrl(named.front());
    }
    // An album's folder comes in track order: track 2 before track 10.
    for (const BatchSource& source : state.gapless ? findAlbumSources(named) : findBatchSources(named)) {
        addFile(state, fileUrl(source.file), source.subfolder);
    }
}

std::optional<BatchRowPlan> planRows(const BatchState& state)
{
    if (!state.saveNextToSource && !state.saveFolder) return std::nullopt;
    BatchRowPlan planned;
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

BatchClashes findClashes(const BatchState& state)
{
    BatchClashes clashes;
    const auto planned = state.isConverting ? std::nullopt : planRows(state);
    if (!planned) return clashes;
    for (const auto& [first, second] : planned->plan.clashes) {
        const PlannedOutput &a = planned->plan.outputs[first], &b = planned->plan.outputs[second];
        const std::filesystem::path base = commonFolder(a.source, b.source);
        const QString aName = shortPath(a.source, base), bName = shortPath(b.source, base);
        clashes.otherSource.emplace(planned->rows[first], bName);
        clashes.otherSource.emplace(planned->rows[second], aName);
        if (!clashes.sentence) {
            clashes.sentence = QString::fromStdString(
                clashSentence(aName.toStdString(), bName.toStdString(), shortPath(b.output, base).toStdString()));
        }
    }
    return clashes;
}

void moveRow(BatchState& state, std::size_t from, std::size_t to)
{
    if (state.isConverting || from >= state.rows.size() || to >= state.rows.size() || from == to) return;
    BatchRow row = std::move(state.rows[from]);
    state.rows.erase(state.rows.begin() + static_cast<std::ptrdiff_t>(from));
    state.rows.insert(state.rows.begin() + static_cast<std::ptrdiff_t>(to), std::move(row));
}

AlbumCheck checkAlbum(const BatchState& state)
{
    AlbumCheck check;
    if (!state.gapless || state.rows.empty()) return check;
    const BatchRow& first = state.rows.front();
    const auto name = [](const BatchRow& row) { return row.source.fileName(); };
    for (std::size_t i = 0; i < state.rows.size(); ++i) {
        const BatchRow& row = state.rows[i];
        if (row.status == Status::unreadable) {
            check.misfits.push_back(i);
            if (!check.reason) {
                check.reason = QStringLiteral("A gapless album cannot go on without ") + name(row)
                    + QStringLiteral(", which cannot be read.");
            }
        } else if (first.status != Status::unreadable
            && (row.sampleRate != first.sampleRate || row.channels != first.channels)) {
            check.misfits.push_back(i);
            if (!check.reason) {
                SourceFileInfo info, album;
                info.sampleRate = row.sampleRate;
                info.channelCount = row.channels;
                album.sampleRate = first.sampleRate;
                album.channelCount = first.channels;
                QLocale locale; // rates as the header states them: 44100, not 44,100
                locale.setNumberOptions(QLocale::OmitGroupSeparator);
                check.reason = QString::fromStdString(
                    albumMismatchSentence(name(row).toStdString(), info, album, localeNumberText(locale)));
            }
        }
    }
    return check;
}

std::vector<BatchJob> startRun(
    BatchState& state, const BatchRowPlan& planned, const std::vector<std::size_t>& existing, bool skipExisting)
{
    std::vector<BatchJob> jobs;
    for (std::size_t k = 0; k < planned.rows.size(); ++k) {
        const std::size_t i = planned.rows[k];
        const bool exists = std::find(existing.begin(), existing.end(), k) != existing.end();
        BatchRow& row = state.rows[i];
        row.output = fileUrl(planned.plan.outputs[k].output);
        row.progress = 0;
        row.warning.reset();
        row.level.reset();
        row.meter.reset();
        row.reason.clear();
        if (exists && skipExisting) {
            row.status = Status::skipped;
            continue;
        }
        row.status = Status::waiting;
        jobs.push_back({i, {row.source, *row.output, state.settings, exists}});
    }
    state.summary.reset();
    state.isConverting = true;
    return jobs;
}

void cancelRun(BatchState& state)
{
    for (BatchRow& row : state.rows) {
        if (row.status == Status::waiting || row.status == Status::converting) row.status = Status::cancelled;
    }
}

void endRun(BatchState& state)
{
    state.isConverting = false;
    BatchCounts counts;
    std::vector<std::shared_ptr<const LevelMeter>> meters;
    for (const BatchRow& row : state.rows) {
        if (row.status == Status::saved && row.meter) meters.push_back(row.meter);
        if (row.status == Status::saved) ++counts.saved;
        if (row.status == Status::failed) ++counts.failed;
        if (row.status == Status::cancelled) ++counts.cancelled;
        if (row.status == Status::skipped) ++counts.skipped;
    }
    state.summary = QString::fromStdString(batchSummary(counts, soxrVersionText()));
    if (const auto album = albumLoudnessLine(meters)) *state.summary += QStringLiteral(" \u00b7 ") + *album;
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

BatchRunProgress runProgress(const BatchState& state, double elapsedSeconds)
{
    // The files of this run: the rows it started, skipped ones aside.
    std::vector<double> seconds;
    std::vector<const BatchRow*> rows;
    for (const BatchRow& row : state.rows) {
        if (row.status != Status::ready && row.status != Status::unreadable && row.status != Status::skipped) {
            seconds.push_back(row.seconds);
            rows.push_back(&row);
        }
    }
    // Files done, and the time left at the pace so far once there is a pace to go by.
    BatchProgress progress(std::move(seconds));
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const Status status = rows[k]->status;
        if (status == Status::converting) progress.progressed(k, rows[k]->progress);
        if (status == Status::saved || status == Status::failed || status == Status::cancelled) progress.finished(k);
    }
    QString text = QStringLiteral("%1 of %2 files").arg(progress.filesDone()).arg(progress.fileCount());
    if (const auto left = progress.secondsLeft(elapsedSeconds)) {
        text += QStringLiteral(" \u00b7 ") + QString::fromStdString(clockText(*left)) + QStringLiteral(" left");
    }
    return {progress.fraction(), text};
}

bool canConvertAll(const BatchState& state, const BatchClashes& clashes)
{
    const bool anyRunnable = std::any_of(
        state.rows.begin(), state.rows.end(), [](const BatchRow& row) { return row.status != Status::unreadable; });
    const bool hasDestination = state.saveNextToSource || state.saveFolder.has_value();
    return anyRunnable && hasDestination && !clashes.sentence && !checkAlbum(state).reason;
}

} // namespace fennick
