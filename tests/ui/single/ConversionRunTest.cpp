// The conversion run through the window with the real engine: Convert…, the save dialog, progress
// on the main thread, the result line, and windows that go away or run side by side.

#include "ConversionJob.h"
#include "FilterPlot.h"
#include "UiTestSupport.h"

#include <QCheckBox>
#include <QSlider>
#include <QTabBar>

#include <QAbstractItemView>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QThread>
#include <QTimer>

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
    // Return presses Convert… while it is enabled, unless another button has focus: that one is pressed.
    QWidget* focused = f.view->qualitySection()->qualityPicker();
    QTest::keyClick(focused, Qt::Key_Return);
    EXPECT_TRUE(suggested.isEmpty());

    constexpr std::int64_t frames = 3 * kBlock + 1234;
    // The suggested name drops only the last extension.
    f.view->loadSourceFile(f.audioFile("mix.final.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, frames));
    int opened = 0;
    f.view->setOpenFileChooser([&opened](QWidget*) -> OpenResult {
        ++opened;
        return OpenCancelled{};
    });
    focused->setFocus();
    QTest::keyClick(f.view->sourceSection()->chooseButton(), Qt::Key_Return);
    QTest::keyClick(f.view->qualitySection()->resetButton(), Qt::Key_Return);
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(suggested.isEmpty());
    // A failed run, then a cancelled dialog, which changes nothing; the runs below clear the failure.
    answer = f.url("no such folder/out.wav");
    QTest::keyClick(focused, Qt::Key_Return);
    ASSERT_TRUE(runEnded(*f.view));
    const QString failed = "mix.final.wav | 44.1 kHz | 24-bit integer | None || !Conversion failed: No such file or "
                           "directory || Convert…";
    EXPECT_EQ(screen(*f.view), failed);
    EXPECT_FALSE(f.view->bottomBar()->showInFolderButton()->isVisible());
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
    QUrl revealed;
    f.view->setFolderRevealer([&revealed](const QUrl& folder) { revealed = folder; });
    click(f.view->bottomBar()->showInFolderButton());
    EXPECT_EQ(revealed, QUrl::fromLocalFile(QString::fromStdString(f.dir.path())));
}

// The file type: float dimmed for FLAC with the engine's reason, giving way to 24 bits; step 1 tells
// what the type leaves out; the save dialog's name and filter follow the type, and a name typed
// with another type's extension takes the type with it.
TEST(ConversionRun, TheFileTypeLeadsTheFormatsTheSaveDialogAndTheFileWritten)
{
    ViewFixture f;
    const QUrl take = f.audioFile("take.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24});
    insertChunks(f.dir / "take.wav",
        riffChunk("bext", std::string(602, '\0'))
            + riffChunk("cue ",
                le32(2) + le32(1) + le32(0) + "data" + le32(0) + le32(0) + le32(10) + le32(2) + le32(0) + "data"
                    + le32(0) + le32(0) + le32(20)));
    f.view->loadSourceFile(take);
    DestinationSection& step2 = *f.view->destinationSection();
    const QLabel* notCarried = f.view->sourceSection()->notCarriedLabel();
    EXPECT_FALSE(notCarried->isVisibleTo(f.view.get()));
    choose(step2.formatPicker(), OutputFormat::float32);
    choose(step2.typePicker(), OutputType::flac);
    const QString reason = QString::fromStdString(cannotHoldSentence(OutputType::flac, OutputFormat::float32));
    const QStandardItem* float32 = static_cast<QStandardItemModel*>(step2.formatPicker()->model())->item(2);
    EXPECT_FALSE(float32->isEnabled());
    EXPECT_EQ(float32->toolTip(), reason);
    EXPECT_EQ(step2.formatPicker()->currentText(), "24-bit integer");
    EXPECT_EQ(step2.formatNote()->text(), reason + " 32-bit float was changed to 24-bit integer.");
    EXPECT_EQ(notCarried->text(), "Not carried into FLAC: Broadcast WAV (bext), 2 markers.");
    EXPECT_TRUE(notCarried->isVisibleTo(f.view.get()));
    saveScreenshot(*f.view, "step2-flac.png");
    step2.formatPicker()->showPopup();
    saveScreenshot(*step2.formatPicker()->view()->window(), "step2-flac-formats.png");
    step2.formatPicker()->hidePopup();

    // The real dialog: what it offers, then the name as suggested or as typed.
    QString typed;
    QStringList offered;
    f.view->setSaveFileChooser([&](QWidget* parent, const QString& name) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
            offered << field->text() + " | " + dialog->nameFilters().first() + " | " + dialog->selectedNameFilter();
            if (!typed.isEmpty()) { // typing leaves the file the list had selected behind
                dialog->findChild<QAbstractItemView*>("listView")->clearSelection();
                field->setText(typed);
            }
            QMetaObject::invokeMethod(dialog, "accept");
        });
        return chooseFileToSave(parent, QString::fromStdString(f.dir.path()) + "/" + name);
    });
    for (const auto& [name, type, magic] :
        {std::tuple{"take_44100-24.flac", OutputType::flac, "fLaC"}, {"take.aiff", OutputType::aiff, "FORM"}}) {
        typed = type == OutputType::flac ? "" : name;
        f.view->startConversion();
        ASSERT_TRUE(runEnded(*f.view));
        EXPECT_EQ(f.view->state().conversionMessage.value_or(QString()), QString("Saved %1 (gated-libsoxr)").arg(name));
        EXPECT_EQ(fileBytes(f.dir / name).substr(0, 4), magic);
        EXPECT_EQ(readAudioFile(f.dir / name).frames(), 4410);
        EXPECT_EQ(step2.typePicker()->currentText(), QString::fromUtf8(fileTypeName(type)));
    }
    EXPECT_EQ(offered,
        QStringList(2, QStringLiteral("take_44100-24.flac | FLAC audio (*.flac *.FLAC) | FLAC audio (*.flac *.FLAC)")));
    EXPECT_EQ(notCarried->text(), "Not carried into AIFF: Broadcast WAV (bext).");
}

TEST(ConversionRun, DuringARunNothingThatWouldChangeItCanBeEditedAndTheFileIsMadeAsStarted)
{
    ViewFixture f;
    LibsoxrGate gate;
    f.view->loadSourceFile(
        f.audioFile("Field Recording 07.wav", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 2 * kBlock));
    startRun(*f.view, f.url("out.wav"));
    EXPECT_EQ(screen(*f.view), "Field Recording 07.wav | 48 kHz | 24-bit integer | None || 0% (dimmed) || (Convert…)");
    saveScreenshot(*f.view, "content-converting.png");

    const DestinationSection* destination = f.view->destinationSection();
    const QualitySection* quality = f.view->qualitySection();
    const QList<QWidget*> settings{f.view->sourceSection()->chooseButton(), destination->sampleRatePicker(),
        destination->formatPicker(), destination->ditherPicker(), quality->resetButton(), quality->qualityPicker(),
        quality->phasePicker(), quality->rolloffPicker(), quality->bandwidthSlider(), quality->steepFilterToggle()};
    for (QWidget* control : settings) EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_TRUE(f.view->bottomBar()->cancelButton()->isEnabled());
    EXPECT_TRUE(quality->filterPlot()->viewPicker()->isEnabled());
    QTest::keyClick(destination->sampleRatePicker(), Qt::Key_Down);
    EXPECT_FALSE(drop(*f.view, {f.audioFile("other.wav")}));
    bool asked = false;
    f.view->setOpenFileChooser([&asked](QWidget*) -> OpenResult {
        asked = true;
        return OpenCancelled{};
    });
    f.view->chooseSourceFile();
    EXPECT_FALSE(asked);
    EXPECT_EQ(f.view->state().settings, ConversionSettings{});
    EXPECT_EQ(f.view->state().fileName, "Field Recording 07.wav");
    gate.open();
    ASSERT_TRUE(runEnded(*f.view));

    EXPECT_EQ(f.view->state().conversionMessage, "Saved out.wav (gated-libsoxr)");
    for (QWidget* control : settings) EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
    const AudioData written = readAudioFile(f.dir / "out.wav");
    EXPECT_EQ(written.info.samplerate, 44100);
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
