// The levels the main window shows: the source's in step 1, measured in the background while the
// window goes on, and the saved output's under the result line, with the gain the run applied.

#include "LevelControls.h"
#include "LevelText.h"
#include "UiTestSupport.h"

namespace fennick::test {
namespace {

TEST(LevelLines, StepOneMeasuresTheNewestSourceAndTheResultGivesTheOutputsLevelAndGain)
{
    ViewFixture f;
    writeAudioFile(f.dir / "loud.wav", {}, 88200, sine(997.0, 44100, 0.5));
    writeAudioFile(f.dir / "quiet.wav", {}, 88200, sine(997.0, 44100, 0.1));
    const QLabel* level = f.view->sourceSection()->levelValue();
    // A newer choice wins: what the older measurement would have said never shows.
    f.view->loadSourceFile(f.url("quiet.wav"));
    f.view->loadSourceFile(f.url("loud.wav"));
    EXPECT_EQ(level->text(), "Measuring\u2026");
    ASSERT_TRUE(waitUntil([level] { return level->text() != "Measuring\u2026"; }));
    EXPECT_EQ(level->text(), levelLine(analyzeFile(f.dir / "loud.wav")));

    // +6 dB would take the −6 dBTP sine over the ceiling: the run lowers it and says so.
    ConversionSettings settings;
    settings.format = OutputFormat::float32;
    settings.gainDb = 6.0;
    settings.ceiling = PeakCeiling{};
    f.view->setSettings(settings);
    saveScreenshot(*f.view, "level-controls.png");
    convertTo(*f.view, f.url("out.wav"));
    const MessageLabel* line = f.view->bottomBar()->levelLine();
    ASSERT_TRUE(line->isVisible());
    const QStringList lines = line->text().split(QChar::LineSeparator);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], levelLine(analyzeFile(f.dir / "out.wav")));
    EXPECT_TRUE(lines[1].startsWith("Gain +")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(" dB to keep true peak below \u22121.0 dBTP.")) << lines[1].toStdString();
    saveScreenshot(*f.view, "level-result.png");

    // Without a level setting there is no gain to tell of; a cancelled run has no level.
    f.view->setSettings(withDefaultLevel(settings));
    convertTo(*f.view, f.url("plain.wav"));
    EXPECT_EQ(line->text(), levelLine(analyzeFile(f.dir / "plain.wav")));
    // A run started while the source is measured has both cores to itself: the measurement waits
    // for the run to end, here by cancelling, and then comes back.
    f.view->loadSourceFile(f.url("quiet.wav"));
    LibsoxrGate gate;
    startRun(*f.view, f.url("held.wav"));
    QTest::qWait(300);
    EXPECT_EQ(level->text(), "Measuring…");
    f.view->cancelConversion();
    EXPECT_FALSE(line->isVisible());
    ASSERT_TRUE(waitUntil([level] { return level->text() != "Measuring…"; }));
    EXPECT_EQ(level->text(), levelLine(analyzeFile(f.dir / "quiet.wav")));
}

} // namespace
} // namespace fennick::test
