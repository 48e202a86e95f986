// The conversion run through the window with the real engine: Convert…, the save dialog, progress
// on the main thread, the result line, and windows that go away or run side by side.

#include "ConversionJob.h"
#include "UiTestSupport.h"

#include <QProgressBar>
#include <QThread>

#include <fstream>

namespace fennick::test {
namespace {

constexpr std::int64_t kBlock = 65536; // the engine reports progress once per block read

// Every value the window must show for a source of `frames` frames: 0, then min(65536 i, N) / N.
std::vector<double> expectedReports(std::int64_t frames)
{
    std::vector<double> reports{0.0};
    for (std::int64_t read = kBlock; read < frames + kBlock; read += kBlock) {
        reports.push_back(static_cast<double>(std::min(read, frames)) / static_cast<double>(frames));
    }
    return reports;
}

// Records each progress value as it is drawn, checking it there: on the main thread, with the bar
// and the truncated percentage agreeing.
void watchProgress(ContentView& view, std::vector<double>& shown)
{
    QObject::connect(&view, &ContentView::stateChanged, &view, [&view, &shown] {
        if (!view.isConverting()) return;
        const double progress = view.state().conversionProgress;
        if (!shown.empty() && shown.back() == progress) return; // a redraw for the filter plot
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        EXPECT_EQ(view.bottomBar()->progressBar()->value(), static_cast<int>(progress * BottomBar::kProgressSteps));
        EXPECT_EQ(view.bottomBar()->percentageLabel()->text(), QString::number(static_cast<int>(progress * 100)) + '%');
        shown.push_back(progress);
    });
}

TEST(ConversionRun, ReturnConvertsWithEveryReportShownAndTheFileAsChosenAfterAFailedRun)
{
    ViewFixture f;
    QString suggested;
    std::optional<QUrl> answer; // the save dialog's
    f.view->setSaveFileChooser([&](QWidget*, const QString& name) {
        suggested = name;
        return answer;
    });
    // Return presses Convert… whatever has focus, and only while it is enabled.
    QWidget* focused = f.view->sourceSection()->chooseButton();
    QTest::keyClick(focused, Qt::Key_Return);
    EXPECT_TRUE(suggested.isEmpty());

    constexpr std::int64_t frames = 3 * kBlock + 1234;
    // The suggested name drops only the last extension.
    f.view->loadSourceFile(f.audioFile("mix.final.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, frames));
    // A failed run, then a cancelled dialog, which changes nothing; the runs below clear the failure.
    answer = f.url("no such folder/out.wav");
    QTest::keyClick(focused, Qt::Key_Return);
    ASSERT_TRUE(runEnded(*f.view));
    const QString failed = "mix.final.wav | 44.1 kHz | 24-bit integer | None || !Conversion failed: No such file or "
                           "directory || Convert…";
    EXPECT_EQ(screen(*f.view), failed);
    answer.reset();
    const ContentState before = f.view->state();
    QTest::keyClick(focused, Qt::Key_Return);
    EXPECT_EQ(before, f.view->state());
    EXPECT_EQ(screen(*f.view), failed);

    answer = f.url("chosen name.wav");
    std::vector<double> shown;
    watchProgress(*f.view, shown);
    for (const auto& [rate, format, subtype, name] :
        {std::tuple{TargetSampleRate::r96000, OutputFormat::float32, SF_FORMAT_FLOAT, "mix.final_96000-32f.wav"},
            std::tuple{TargetSampleRate::r48000, OutputFormat::int24, SF_FORMAT_PCM_24, "mix.final_48000-24.wav"}}) {
        choose(f.view->destinationSection()->sampleRatePicker(), rate);
        choose(f.view->destinationSection()->formatPicker(), format);
        shown.clear();
        QTest::keyClick(focused, Qt::Key_Return);
        EXPECT_FALSE(f.view->bottomBar()->convertButton()->isEnabled());
        QTest::keyClick(f.view->destinationSection()->formatPicker(), Qt::Key_Enter); // ignored meanwhile
        ASSERT_TRUE(runEnded(*f.view));
        EXPECT_EQ(suggested, name);
        EXPECT_EQ(shown, expectedReports(frames));
        EXPECT_EQ(screen(*f.view),
            "mix.final.wav | 44.1 kHz | 24-bit integer | None || Saved chosen name.wav (gated-libsoxr) (dimmed) || "
            "Convert…");

        const AudioData written = readAudioFile(f.dir / "chosen name.wav");
        EXPECT_EQ(written.info.samplerate, hertz(rate));
        EXPECT_EQ(written.info.format, SF_FORMAT_WAVEX | subtype); // more than 16 bits

        EXPECT_NEAR(written.frames(), frames * hertz(rate) / 44100.0, 1.0);
    }
    saveScreenshot(*f.view, "content-finished.png");
}

TEST(ConversionRun, TheWindowStaysLiveDuringARunAndNothingDoneThereReachesItsFile)
{
    ViewFixture f;
    LibsoxrGate gate;
    f.view->loadSourceFile(
        f.audioFile("Field Recording 07.wav", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 2 * kBlock));
    startRun(*f.view, f.url("out.wav"));
    EXPECT_EQ(screen(*f.view), "Field Recording 07.wav | 48 kHz | 24-bit integer | None || 0% (dimmed) || (Convert…)");
    saveScreenshot(*f.view, "content-converting.png");

    // Settings and a failed load during the run: shown at once, but the file is made as started.
    choose(f.view->destinationSection()->sampleRatePicker(), TargetSampleRate::r96000);
    choose(f.view->destinationSection()->formatPicker(), OutputFormat::float32);
    EXPECT_EQ(f.view->state().settings.format, OutputFormat::float32);
    EXPECT_TRUE(drop(*f.view, {f.textFile("broken.wav")}));
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::progress);
    gate.open();
    ASSERT_TRUE(runEnded(*f.view));

    // The failed load stays in front of the run's success line.
    EXPECT_EQ(f.view->state().conversionMessage, "Saved out.wav (gated-libsoxr)");
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::error);
    EXPECT_FALSE(f.view->bottomBar()->convertButton()->isEnabled());
    const AudioData written = readAudioFile(f.dir / "out.wav");
    EXPECT_EQ(written.info.samplerate, 44100);
    EXPECT_EQ(written.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_NEAR(written.frames(), 2.0 * kBlock * 44100 / 48000, 1.0);
}

TEST(ConversionRun, TwoWindowsConvertSideBySideAndClosingOneStopsItsRunAlone)
{
    ViewFixture a;
    ViewFixture b;
    // Mono, so that each run is one resampler that reports after every call.
    a.view->loadSourceFile(a.audioFile("a.wav", {44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 4 * kBlock));
    b.view->loadSourceFile(b.audioFile("b.wav", {44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 5 * kBlock));
    choose(b.view->destinationSection()->sampleRatePicker(), TargetSampleRate::r96000);
    std::vector<double> shownB;
    watchProgress(*b.view, shownB);
    settleFilterPlot(); // its measurements go through libsoxr too
    {
        LibsoxrGate gate; // both runs wait until a's window is gone: its reports find no window
        startRun(*a.view, a.url("a-out.wav"));
        startRun(*b.view, b.url("b-out.wav"));
        ASSERT_TRUE(gate.holds(2));
        a.view.reset();
    }
    ASSERT_TRUE(runEnded(*b.view));
    conversionPool().waitForDone();
    QCoreApplication::processEvents();

    EXPECT_EQ(shownB, expectedReports(5 * kBlock));
    EXPECT_EQ(b.view->state().conversionMessage, "Saved b-out.wav (gated-libsoxr)");
    EXPECT_EQ(readAudioFile(b.dir / "b-out.wav").info.samplerate, 96000);
    EXPECT_EQ(folderEntries(a.dir.path()), std::vector<std::string>{"a.wav"}); // nothing written, nothing left
}

TEST(ConversionRun, CancelAndEscapeStopTheRunAtOnceAndLeaveTheEarlierFileAlone)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("take.wav", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 3 * kBlock));
    std::ofstream(f.dir / "out.wav") << "the take the user already had";
    for (const bool escape : {false, true}) {
        LibsoxrGate gate;
        startRun(*f.view, f.url("out.wav"));
        escape ? QTest::keyClick(f.view->qualitySection()->qualityPicker(), Qt::Key_Escape)
               : click(f.view->bottomBar()->cancelButton());
        const QString cancelled
            = "take.wav | 48 kHz | 24-bit integer | None || Conversion cancelled. (dimmed) || Convert…";
        EXPECT_EQ(screen(*f.view), cancelled);
        EXPECT_EQ(f.view->state().settings.options, ConversionOptions{});
        gate.open();
        conversionPool().waitForDone();
        QCoreApplication::processEvents(); // nothing the stopped run posts may reach the window
        EXPECT_EQ(screen(*f.view), cancelled);
        EXPECT_EQ(fileBytes(f.dir / "out.wav"), "the take the user already had");
        EXPECT_EQ(folderEntries(f.dir.path()), (std::vector<std::string>{"out.wav", "take.wav"}));
    }
}

// A quiet source's run has no such line: every other case's screen shows none.
TEST(ConversionRun, ClippingIsToldUnderTheSavedLine)
{
    ViewFixture f;
    writeAudioFile(f.dir / "master.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, 44100, square(1000, 44100));
    f.view->loadSourceFile(f.url("master.wav"));
    choose(f.view->destinationSection()->sampleRatePicker(), TargetSampleRate::r48000);
    choose(f.view->destinationSection()->formatPicker(), OutputFormat::int24);
    convertTo(*f.view, f.url("out.wav"));
    const ConversionReport report
        = convertWav(f.dir / "master.wav", f.dir / "engine.wav", {48000.0, OutputFormat::int24, {}});
    EXPECT_EQ(screen(*f.view),
        "master.wav | 44.1 kHz | 32-bit float | None || Saved out.wav (gated-libsoxr) (dimmed) / "
            + runWarning(report).value() + " (amber) || Convert…");
    saveScreenshot(*f.view, "content-clipped.png");
}

// Every warning of a run in one line, clipping first.
TEST(ConversionRun, RunWarningsInTheUsersLocale)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates), german(QLocale::German, QLocale::Germany);
    const SourceDamage sound{48000, 48000, 48000, false, 0};
    const std::tuple<ConversionReport, QLocale, std::optional<QString>> cases[] = {
        {{{1379, 0, 0.3104}, sound}, english, "1,379 samples clipped (peak +0.31 dBFS)."},
        {{{1379, 0, -0.8}, sound}, german, "1.379 samples clipped (peak -0,8 dBFS)."},
        {{{0, 0, -1.0}, {48000, 48000, 24000, false, 2500}}, german,
            "2.500 samples in the source were not numbers and were replaced by silence. The source ended after "
            "0:00.500 of its stated 0:01.000; the rest was missing."},
        {{{0, 0, -1.0}, sound}, english, std::nullopt},
    };
    for (const auto& [report, locale, text] : cases) EXPECT_EQ(runWarning(report, locale), text);
}

} // namespace
} // namespace fennick::test
