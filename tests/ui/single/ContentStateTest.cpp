// The main window's state without widgets: which line the bottom bar shows and when Convert can be
// pressed. What a run's end leaves behind is seen on screen in ConversionRunTest.

#include "ContentState.h"

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

} // namespace
} // namespace fennick
