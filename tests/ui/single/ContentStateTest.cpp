// The main window's state without widgets: which line the bottom bar shows, when Convert can be
// pressed, and what a run's end leaves behind.

#include "ContentState.h"
#include "ConversionJob.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

using RunLine = ContentState::RunLine;

TEST(ContentState, TheRunUnderWayThenAFailureThenTheLastOutcome)
{
    ContentState loaded;
    loaded.sourceURL = QUrl::fromLocalFile("/music/take.wav");
    ContentState failed = loaded, told = loaded, running = loaded;
    failed.errorMessage = "Could not read file: Format not recognised.";
    failed.conversionMessage = told.conversionMessage = "Saved take_44100-16.wav (0.1.3)";
    running.errorMessage = failed.errorMessage;
    running.isConverting = true;
    const std::tuple<ContentState, RunLine, bool> cases[] = {
        {ContentState(), RunLine::empty, false},
        {loaded, RunLine::empty, true},
        {told, RunLine::message, true},
        {failed, RunLine::error, true},
        {running, RunLine::progress, false},
    };
    for (const auto& [state, line, canConvert] : cases) {
        EXPECT_EQ(state.runLine(), line);
        EXPECT_EQ(state.canConvert(), canConvert);
    }
}

TEST(ContentState, ARunEndsSavedCancelledOrFailed)
{
    ContentState state;
    state.isConverting = true;
    state.errorMessage = "Could not read file: Format not recognised."; // a load during the run
    conversionSaved(state, QUrl::fromLocalFile("/out/take.wav"), {3, 0, 0.5});
    EXPECT_FALSE(state.isConverting);
    EXPECT_TRUE(state.conversionMessage->startsWith("Saved take.wav ("));
    EXPECT_EQ(state.conversionWarning, clipWarning({3, 0, 0.5}));
    EXPECT_EQ(state.lastSavedURL, QUrl::fromLocalFile("/out/take.wav"));
    EXPECT_EQ(state.runLine(), RunLine::error) << "the failed load stays in front";

    state.isConverting = true;
    conversionCancelled(state);
    EXPECT_EQ(state.conversionMessage, "Conversion cancelled.");
    EXPECT_FALSE(state.conversionWarning || state.isConverting);

    state.isConverting = true;
    conversionFailed(state, "Disk full.");
    EXPECT_EQ(state.errorMessage, "Conversion failed: Disk full.");
    EXPECT_FALSE(state.isConverting);
}

} // namespace
} // namespace fennick
