// The conversion run through the window with the real engine and libsoxr: Convert…, the save
// dialog, progress on the main thread, the result line, and windows that go away or run side
// by side.

#include "ConversionRun.h"
#include "LocaleFormat.h"
#include "UiTestSupport.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <cmath>

namespace fennick::test {
namespace {

constexpr std::int64_t kBlock = 65536; // the engine reports progress once per block read

QString saved(const QString& name, const QString& version = QStringLiteral("libsoxr-0.1.3"))
{
    return QStringLiteral("Saved %1 (%2)").arg(name, version);
}

// Every report the engine makes for a source of `frames` frames: min(65536 i, N) / N.
std::vector<double> expectedReports(std::int64_t frames)
{
    std::vector<double> reports{0.0};
    for (std::int64_t read = kBlock; read < frames + kBlock; read += kBlock) {
        reports.push_back(static_cast<double>(std::min(read, frames)) / static_cast<double>(frames));
    }
    return reports;
}

// Records each progress value the window shows, checking it as it is drawn: on the main
// thread, with the bar and the percentage agreeing.
void watchProgress(ContentView& view, std::vector<double>& shown)
{
    QObject::connect(&view, &ContentView::stateChanged, &view, [&view, &shown] {
        if (!view.isConverting()) return;
        const double progress = view.state().conversionProgress;
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        EXPECT_TRUE(view.bottomBar()->progressBar()->isVisible());
        EXPECT_EQ(view.bottomBar()->progressBar()->value(), static_cast<int>(progress * BottomBar::kProgressSteps));
        EXPECT_EQ(view.bottomBar()->percentageLabel()->text(), percentageText(progress));
        shown.push_back(progress);
    });
}

TEST(ConversionRun, SuggestedNamesAndTruncatedPercentages)
{
    const auto name = [](const char* file, TargetSampleRate rate, OutputFormat format) {
        return defaultOutputFileName(QUrl::fromLocalFile(QString::fromUtf8(file)), rate, format);
    };
    EXPECT_EQ(name("/a/mix.final.wav", TargetSampleRate::r44100, OutputFormat::int24), "mix.final_44100-24.wav");
    EXPECT_EQ(name("/a/drums", TargetSampleRate::r48000, OutputFormat::int16), "drums_48000-16.wav");
    EXPECT_EQ(name("/a.dir/name.WAV", TargetSampleRate::r176400, OutputFormat::int16), "name_176400-16.wav");
    EXPECT_EQ(percentageText(0.999), "99%");
    EXPECT_EQ(percentageText(1.0), "100%");
}

TEST(ConversionRun, FromReturnToTheSavedLineWithEveryReportShownAndTheFileWritten)
{
    ViewFixture f;
    int asked = 0;
    QString suggested;
    f.view->setSaveFileChooser([&](QWidget*, const QString& name) {
        ++asked;
        suggested = name;
        return std::optional(f.url("chosen name.wav"));
    });
    // Return presses Convert… whatever has focus, and only while it is enabled.
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenFailed{"Return pressed the focused button"}; });
    QWidget* focused = f.view->sourceSection()->chooseButton();
    QTest::keyClick(focused, Qt::Key_Return);
    EXPECT_EQ(asked, 0);

    constexpr std::int64_t frames = 3 * kBlock + 1234;
    f.view->loadSourceFile(f.audioFile("take.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, frames));
    std::vector<double> shown;
    watchProgress(*f.view, shown);
    const std::tuple<TargetSampleRate, OutputFormat, int, QString> cases[]
        = {{TargetSampleRate::r44100, OutputFormat::int16, SF_FORMAT_PCM_16, "take_44100-16.wav"},
            {TargetSampleRate::r96000, OutputFormat::float32, SF_FORMAT_FLOAT, "take_96000-32f.wav"},
            {TargetSampleRate::r48000, OutputFormat::int24, SF_FORMAT_PCM_24, "take_48000-24.wav"}};
    for (const auto& [rate, format, subtype, name] : cases) {
        choose(f.view->destinationSection()->sampleRatePicker(), rate);
        choose(f.view->destinationSection()->formatPicker(), format);
        shown.clear();
        asked = 0;
        QTest::keyClick(focused, Qt::Key_Return);
        EXPECT_FALSE(f.view->bottomBar()->convertButton()->isEnabled());
        QTest::keyClick(f.view->destinationSection()->formatPicker(), Qt::Key_Enter);
        ASSERT_TRUE(runEnded(*f.view));
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(suggested, name);
        EXPECT_EQ(shown, expectedReports(frames));

        EXPECT_FALSE(f.view->state().errorMessage);
        EXPECT_EQ(f.view->state().conversionMessage, saved("chosen name.wav"));
        MessageLabel* line = f.view->bottomBar()->messageLine();
        EXPECT_TRUE(line->isVisible());
        EXPECT_EQ(line->text(), saved("chosen name.wav"));
        EXPECT_EQ(textColor(line), secondaryTextColor(line));
        EXPECT_FALSE(f.view->bottomBar()->progressBar()->isVisible());
        EXPECT_TRUE(f.view->bottomBar()->convertButton()->isEnabled());

        const AudioData written = readAudioFile(f.dir / "chosen name.wav");
        EXPECT_EQ(written.info.samplerate, hertz(rate));
        EXPECT_EQ(written.info.channels, 2);
        EXPECT_EQ(written.info.format, SF_FORMAT_WAV | subtype);
        EXPECT_NEAR(written.frames(), std::round(frames * hertz(rate) / 44100.0), 1.0);
    }
}

TEST(ConversionRun, AFailedRunGivesWayToASuccessAndACancelledDialogChangesNeither)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("take.wav"));
    const auto cancelChangesNothing = [&] {
        const ContentState before = f.view->state();
        const BottomBar::Status shown = f.view->bottomBar()->status();
        int asked = 0;
        f.view->setSaveFileChooser([&](QWidget*, const QString&) {
            ++asked;
            return std::optional<QUrl>();
        });
        click(f.view->bottomBar()->convertButton());
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(sameState(before, f.view->state()));
        EXPECT_EQ(f.view->bottomBar()->status(), shown);
    };
    convertTo(*f.view, f.url("no such folder/out.wav"));
    EXPECT_EQ(f.view->state().errorMessage, "Conversion failed: No such file or directory");
    EXPECT_FALSE(f.view->state().conversionMessage);
    MessageLabel* errorLine = f.view->bottomBar()->errorLine();
    EXPECT_TRUE(errorLine->isVisible());
    EXPECT_EQ(errorLine->text(), "Conversion failed: No such file or directory");
    EXPECT_EQ(textColor(errorLine), errorTextColor());
    EXPECT_TRUE(f.view->bottomBar()->convertButton()->isEnabled());
    cancelChangesNothing();

    convertTo(*f.view, f.url("out.wav"));
    EXPECT_FALSE(f.view->state().errorMessage);
    EXPECT_EQ(f.view->state().conversionMessage, saved("out.wav"));
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::message);
    cancelChangesNothing();
}

TEST(ConversionRun, TheWindowStaysLiveDuringARunAndNothingDoneThereReachesItsFile)
{
    ViewFixture f;
    LibsoxrGate gate; // holds the job at its first block until opened
    f.view->loadSourceFile(f.audioFile("take.wav", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 2 * kBlock));
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    f.view->bottomBar()->progressBar()->installEventFilter(&counter);
    startRun(*f.view, f.url("out.wav"));
    ASSERT_TRUE(f.view->isConverting());
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    EXPECT_TRUE(waitUntil([&] { return timerRan && counter.paints > 0; }));
    EXPECT_EQ(f.view->bottomBar()->percentageLabel()->text(), "0%");

    // Settings and a failed load during the run: shown at once, but the file is made as started.
    choose(f.view->destinationSection()->sampleRatePicker(), TargetSampleRate::r96000);
    choose(f.view->destinationSection()->formatPicker(), OutputFormat::float32);
    EXPECT_EQ(f.view->state().outputFormat, OutputFormat::float32);
    EXPECT_TRUE(drop(*f.view, {f.textFile("broken.wav")}));
    EXPECT_TRUE(f.view->state().errorMessage);
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::progress);
    gate.open();
    ASSERT_TRUE(runEnded(*f.view));

    EXPECT_EQ(f.view->state().conversionMessage, saved("out.wav", "gated-libsoxr")); // the bound library's version
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::error); // the failed load stays in front
    EXPECT_FALSE(f.view->bottomBar()->convertButton()->isEnabled());
    const AudioData written = readAudioFile(f.dir / "out.wav");
    EXPECT_EQ(written.info.samplerate, 44100);
    EXPECT_EQ(written.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_NEAR(written.frames(), 2.0 * kBlock * 44100 / 48000, 1.0);
}

TEST(ConversionRun, TwoWindowsConvertSideBySideAndOneClosedMidRunStillFinishesItsFile)
{
    ViewFixture a;
    ViewFixture b;
    a.view->loadSourceFile(a.audioFile("a.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 4 * kBlock));
    b.view->loadSourceFile(b.audioFile("b.wav", {44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 5 * kBlock));
    choose(b.view->destinationSection()->sampleRatePicker(), TargetSampleRate::r96000);
    std::vector<double> shownB;
    watchProgress(*b.view, shownB);
    startRun(*a.view, a.url("a-out.wav"));
    startRun(*b.view, b.url("b-out.wav"));
    ASSERT_TRUE(a.view->isConverting() && b.view->isConverting());

    // Gone before any report of its job is delivered; those reports then find no window.
    a.view.reset();
    ASSERT_TRUE(runEnded(*b.view));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();

    EXPECT_EQ(shownB, expectedReports(5 * kBlock));
    EXPECT_EQ(b.view->state().conversionMessage, saved("b-out.wav"));
    EXPECT_EQ(readAudioFile(b.dir / "b-out.wav").info.samplerate, 96000);
    const AudioData written = readAudioFile(a.dir / "a-out.wav");
    EXPECT_EQ(written.frames(), 4 * kBlock);
    EXPECT_EQ(written.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

TEST(ConversionRun, LongMessagesAreCutToTwoLines)
{
    ViewFixture f;
    QString longText;
    for (int i = 0; i < 40; ++i) longText += QStringLiteral(" word%1").arg(i);
    f.view->setOpenFileChooser([&](QWidget*) -> OpenResult { return OpenFailed{longText}; });
    f.view->chooseSourceFile();

    MessageLabel* line = f.view->bottomBar()->errorLine();
    ASSERT_TRUE(line->isVisible());
    EXPECT_EQ(line->text(), longText);
    const QStringList lines = line->displayedLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QChar(0x2026)));
    EXPECT_EQ(line->height(), 2 * QFontMetrics(line->font()).lineSpacing());
    EXPECT_LE(line->geometry().right(), f.view->bottomBar()->convertButton()->geometry().left());
}

// Qt's own dialog (the end-to-end script drives it too): WAV only, pre-filled, Return takes the
// suggested name, and Qt asks before it replaces a file.
TEST(ConversionRun, TheRealSaveDialogAsksBeforeReplacingAFile)
{
    ViewFixture f;
    QDir::setCurrent(QString::fromStdString(f.dir.path().string()));
    f.view->loadSourceFile(f.audioFile("take.wav", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}));
    f.textFile("take_44100-16.wav");
    f.view->setSaveFileChooser(chooseFileToSave);
    // Answers each modal dialog once, from the event loop, as a user at the keyboard would.
    QStringList seen;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->property("answered").toBool()) return;
        modal->setProperty("answered", true);
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            EXPECT_EQ(dialog->nameFilters(), QStringList{kWavNameFilter});
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            seen << name->text();
            QMetaObject::invokeMethod(
                name, [name] { QTest::keyClick(name, Qt::Key_Return); }, Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << QStringLiteral("confirm");
            QMetaObject::invokeMethod(
                box, [box] { box->button(QMessageBox::Yes)->click(); }, Qt::QueuedConnection);
        }
    });
    answerer.start(20);
    f.view->startConversion();
    ASSERT_TRUE(runEnded(*f.view));
    EXPECT_EQ(seen, QStringList({"take_44100-16.wav", "confirm"}));
    EXPECT_EQ(f.view->state().conversionMessage, saved("take_44100-16.wav"));
    EXPECT_EQ(readAudioFile(f.dir / "take_44100-16.wav").info.samplerate, 44100);
}

} // namespace
} // namespace fennick::test
