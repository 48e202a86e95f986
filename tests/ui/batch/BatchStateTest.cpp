// The batch window's state without widgets: what each row says, which rows a run's progress counts,
// the summary, two rows saved as one file, and when Convert All can start.

#include "BatchState.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

using Status = BatchRow::Status;

BatchRow row(Status status, double seconds = 1, double progress = 0)
{
    BatchRow made;
    made.source = QUrl::fromLocalFile("/music/take.wav");
    made.output = QUrl::fromLocalFile("/out/take_48000-24.wav");
    made.status = status;
    made.seconds = seconds;
    made.progress = progress;
    made.reason = "Disk full.";
    return made;
}

TEST(BatchState, EachStatusAsTheListShowsIt)
{
    BatchRow clipped = row(Status::saved);
    clipped.warning = "3 samples clipped (peak +0.5 dBFS).";
    const std::pair<BatchRow, QString> cases[] = {
        {row(Status::ready), ""},
        {row(Status::unreadable), "Could not read file: Disk full."},
        {row(Status::waiting), "Waiting"},
        {row(Status::converting, 1, 0.42), "42%"},
        {row(Status::saved), "Saved take_48000-24.wav"},
        {clipped, "Saved take_48000-24.wav \u2014 3 samples clipped (peak +0.5 dBFS)."},
        {row(Status::skipped), "Skipped: take_48000-24.wav exists"},
        {row(Status::cancelled), "Cancelled"},
        {row(Status::failed), "Failed: Disk full."},
    };
    for (const auto& [shown, text] : cases) EXPECT_EQ(statusText(shown), text);
}

// Skipped and unreadable files are not part of the run; the rest count by length.
TEST(BatchState, ProgressCountsTheRunsFilesByLengthAndTheSummaryHowTheyEnded)
{
    BatchState state;
    state.rows = {row(Status::saved, 1), row(Status::converting, 3, 0.5), row(Status::skipped, 100),
        row(Status::unreadable, 100), row(Status::waiting, 4), row(Status::failed, 0)};
    state.isConverting = true;
    const std::tuple<double, double, QString> cases[] = {
        {0.5, 2.5 / 8, "2 of 4 files"},
        {10, 2.5 / 8, "2 of 4 files \u00b7 0:22 left"},
    };
    for (const auto& [elapsed, fraction, text] : cases) {
        const BatchRunProgress progress = runProgress(state, elapsed);
        EXPECT_DOUBLE_EQ(progress.fraction, fraction);
        EXPECT_EQ(progress.text, text);
    }
    cancelRun(state);
    endRun(state);
    EXPECT_FALSE(state.isConverting);
    EXPECT_EQ(state.rows[4].status, Status::cancelled);
    EXPECT_TRUE(state.summary->startsWith("Saved 1 file, 1 failed, 2 cancelled, 1 skipped ("))
        << state.summary->toStdString();
}

TEST(BatchState, TwoRowsSavedAsOneFileNameEachOtherAndConvertAllWaits)
{
    BatchState state;
    state.rows = {row(Status::ready), row(Status::ready), row(Status::unreadable)};
    state.rows[0].source = QUrl::fromLocalFile("/music/a/take.wav");
    state.rows[1].source = QUrl::fromLocalFile("/music/b/take.wav");
    state.rows[2].source = QUrl::fromLocalFile("/music/c/take.wav");
    EXPECT_FALSE(canConvertAll(state, findClashes(state))) << "nowhere to save";
    state.saveFolder = QUrl::fromLocalFile("/out");
    BatchClashes clashes = findClashes(state);
    EXPECT_EQ(clashes.otherSource, (std::map<std::size_t, QString>{{0, "b/take.wav"}, {1, "a/take.wav"}}));
    EXPECT_EQ(clashes.sentence, "a/take.wav and b/take.wav would both be written to /out/take_44100-16.wav");
    EXPECT_FALSE(canConvertAll(state, clashes));
    state.saveNextToSource = true;
    clashes = findClashes(state);
    EXPECT_TRUE(clashes.otherSource.empty() && !clashes.sentence);
    EXPECT_TRUE(canConvertAll(state, clashes));
    state.rows.erase(state.rows.begin(), state.rows.begin() + 2);
    EXPECT_FALSE(canConvertAll(state, findClashes(state))) << "only an unreadable file";
}

} // namespace
} // namespace fennick
