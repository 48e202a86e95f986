#pragma once

// Everything a batch window knows, in plain values: its list of files with each one's state, the
// settings they are converted with, and where the outputs go; and what the window's commands and
// its run's reports do to it, and what is shown of it. Only the main thread reads or writes it.

#include "ConversionJob.h"
#include "FennickEngine.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace fennick {

struct BatchRow {
    enum class Status { ready, unreadable, waiting, converting, saved, skipped, cancelled, failed };

    QUrl source;
    std::filesystem::path subfolder; // below the folder it was added with, mirrored under "Save into"
    double sampleRate = 0; // hertz
    std::uint32_t channels = 0;
    QString sourceFormat;
    double seconds = 0;
    Status status = Status::ready;
    double progress = 0; // fraction of the source read while converting
    QString reason; // why it could not be read, or why it failed
    std::optional<QString> warning; // what clipped
    std::optional<QUrl> output; // where it was, or is being, saved
    std::optional<LevelFigures> level; // of the saved output, when it was measured
    std::shared_ptr<const LevelMeter> meter; // the saved output's, for the run's album loudness
};

struct BatchState {
    std::vector<BatchRow> rows;
    ConversionSettings settings; // edited and shown by the main window's destination and quality sections
    std::optional<QUrl> saveFolder; // the first folder added, or the first file's, until chosen
    bool saveNextToSource = false;
    bool gapless = false; // the rows, in their order, converted as one continuous recording
    bool isConverting = false;
    std::optional<QString> summary; // the last run's
};

// Adds the audio files named (folders stand for the files under them), each once, read for the
// list. The first folder, or else the first file's folder, becomes the save folder until one is chosen.
void addSources(BatchState& state, const QList<QUrl>& urls);

// The runnable rows (unreadable ones are left out) and the outputs they map to.
struct BatchRowPlan {
    std::vector<std::size_t> rows;
    BatchPlan plan;
};
// Nothing while there is nowhere to save.
std::optional<BatchRowPlan> planRows(const BatchState& state);

// Rows that would be saved as one file, each naming the other's source as short as their common
// folder allows, and the sentence for the first pair; nothing during a run.
struct BatchClashes {
    std::map<std::size_t, QString> otherSource; // row, the other row's source
    std::optional<QString> sentence;
};
BatchClashes findClashes(const BatchState& state);

// Moves row `from` so that it becomes row `to`; nothing during a run or out of range.
void moveRow(BatchState& state, std::size_t from, std::size_t to);

// A gapless album's rows that do not have the first row's rate and channel count, and why Convert
// All waits: the first of them, or a row that cannot be read (the album cannot go on without it).
// Nothing when the list is not a gapless album.
struct AlbumCheck {
    std::vector<std::size_t> misfits;
    std::optional<QString> reason;
};
AlbumCheck checkAlbum(const BatchState& state);

// One file of a run: its row in the list and what converting it takes.
struct BatchJob {
    std::size_t row;
    ConversionRequest request;
};

// Starts a run over the planned rows: each gets its output and is waiting, or skipped when its
// output exists (`existing`, indices into the plan) and `skipExisting`. Returns the files to
// convert, with the settings as they are now; later edits only reach the next run.
std::vector<BatchJob> startRun(
    BatchState& state, const BatchRowPlan& planned, const std::vector<std::size_t>& existing, bool skipExisting);

// The files still waiting or converting are cancelled.
void cancelRun(BatchState& state);

// The run is over; the summary counts how its files ended, and gives the saved files' loudness
// heard together.
void endRun(BatchState& state);

// A row's status column: "Waiting", "42 %", "Saved NAME — WARNING", "Failed: WHY", …
QString statusText(const BatchRow& row);

// The run under way: the part done, by length, and "2 of 3 files · 0:04 left" once there is a pace.
struct BatchRunProgress {
    double fraction = 0;
    QString text;
};
BatchRunProgress runProgress(const BatchState& state, double elapsedSeconds);

// Convert All can start: a file that can be read, somewhere to save, no two rows saved as one, and
// for a gapless album, every row read and matching the first.
bool canConvertAll(const BatchState& state, const BatchClashes& clashes);

} // namespace fennick
