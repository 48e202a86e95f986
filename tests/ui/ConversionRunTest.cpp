// The conversion run through the window with the real engine and libsoxr: Convert…, the save
// dialog, progress on the main thread, the result line, and windows that go away or run side
// by side.

#include "BottomBar.h"
#include "ConversionRun.h"
#include "DestinationSection.h"
#include "LocaleFormat.h"
#include "MessageLabel.h"
#include "SourceSection.h"
#include "TextStyles.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace fennick::test {
namespace {

constexpr std::int64_t kBlock = 65536;

const QString kVersion = QStringLiteral("libsoxr-0.1.3");

int index(auto value) { return static_cast<int>(ordinal(value)); }

// What the window showed at each redraw during a run.
struct Observation {
    double progress;
    bool onMainThread;
    bool barVisible;
    int barValue;
    QString percentage;
};

std::vector<Observation> observeRun(ContentView& view)
{
    auto observations = std::make_shared<std::vector<Observation>>();
    const auto connection = QObject::connect(&view, &ContentView::stateChanged, &view, [&view, observations] {
        if (!view.isConverting()) return;
        BottomBar* bar = view.bottomBar();
        observations->push_back({view.state().conversionProgress, QThread::currentThread() == qApp->thread(),
            bar->progressBar()->isVisible() && bar->percentageLabel()->isVisible(), bar->progressBar()->value(),
            bar->percentageLabel()->text()});
    });
    view.startConversion();
    EXPECT_TRUE(waitUntil([&view] { return !view.isConverting(); }));
    QObject::disconnect(connection);
    return *observations;
}

// Every report the engine makes for a source of `frames` frames: min(65536 i, N) / N.
std::vector<double> expectedReports(std::int64_t frames)
{
    std::vector<double> reports{0.0};
    for (std::int64_t read = kBlock;; read += kBlock) {
        reports.push_back(static_cast<double>(std::min(read, frames)) / static_cast<double>(frames));
        if (read >= frames) break;
    }
    return reports;
}

struct RunCase {
    TargetSampleRate rate;
    OutputFormat format;
    int subtype;
    const char* suggestedName;
};

class ConversionRunEndToEnd : public testing::TestWithParam<RunCase> {};

TEST_P(ConversionRunEndToEnd, ConvertsAndReportsSaved)
{
    ViewFixture f;
    constexpr std::int64_t frames = 3 * kBlock + 1234;
    f.view->loadSourceFile(f.audioFile("take.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, frames));
    choose(f.view->destinationSection()->sampleRatePicker(), index(GetParam().rate));
    choose(f.view->destinationSection()->formatPicker(), index(GetParam().format));

    QString suggested;
    f.view->setSaveFileChooser([&](QWidget*, const QString& name) {
        suggested = name;
        return std::optional<QUrl>(f.url("chosen name.wav"));
    });
    click(f.view->bottomBar()->convertButton());
    EXPECT_TRUE(f.view->isConverting());
    EXPECT_FALSE(f.view->bottomBar()->convertButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));
    EXPECT_EQ(suggested, QString::fromUtf8(GetParam().suggestedName));

    const ContentState& state = f.view->state();
    EXPECT_EQ(state.conversionMessage, QStringLiteral("Saved chosen name.wav (") + kVersion + QStringLiteral(")"));
    EXPECT_FALSE(state.errorMessage);
    MessageLabel* line = f.view->bottomBar()->messageLine();
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(line->text(), *state.conversionMessage);
    EXPECT_EQ(textColor(line), secondaryTextColor(line));
    EXPECT_FALSE(f.view->bottomBar()->progressBar()->isVisible());
    EXPECT_TRUE(f.view->bottomBar()->convertButton()->isEnabled());

    const AudioData written = readAudioFile(f.dir / "chosen name.wav");
    const double rate = rawValue(GetParam().rate);
    EXPECT_EQ(written.info.samplerate, static_cast<int>(rate));
    EXPECT_EQ(written.info.channels, 2);
    EXPECT_EQ(written.info.format, SF_FORMAT_WAV | GetParam().subtype);
    EXPECT_NEAR(static_cast<double>(written.frames()), std::round(frames * rate / 44100.0), 1.0);
}

INSTANTIATE_TEST_SUITE_P(RatesAndFormats, ConversionRunEndToEnd,
    testing::Values(RunCase{TargetSampleRate::r44100, OutputFormat::int16, SF_FORMAT_PCM_16, "take_44100-16.wav"},
        RunCase{TargetSampleRate::r96000, OutputFormat::float32, SF_FORMAT_FLOAT, "take_96000-32f.wav"},
        RunCase{TargetSampleRate::r48000, OutputFormat::int24, SF_FORMAT_PCM_24, "take_48000-24.wav"}),
    [](const testing::TestParamInfo<RunCase>& info) {
        return QString::fromUtf8(info.param.suggestedName).section(QLatin1Char('_'), 1).section(QLatin1Char('.'), 0, 0)
            .replace(QLatin1Char('-'), QLatin1Char('_')).prepend(QStringLiteral("r")).toStdString();
    });

TEST(ConversionRun, SuggestedNames)
{
    const auto name = [](const char* file, TargetSampleRate rate, OutputFormat format) {
        return defaultOutputFileName(QUrl::fromLocalFile(QString::fromUtf8(file)), rate, format);
    };
    EXPECT_EQ(name("/a/take 3.wav", TargetSampleRate::r96000, OutputFormat::float32), "take 3_96000-32f.wav");
    EXPECT_EQ(name("/a/mix.final.wav", TargetSampleRate::r44100, OutputFormat::int24), "mix.final_44100-24.wav");
    EXPECT_EQ(name("/a/drums", TargetSampleRate::r48000, OutputFormat::int16), "drums_48000-16.wav");
    EXPECT_EQ(name("/a.dir/name.WAV", TargetSampleRate::r176400, OutputFormat::int16), "name_176400-16.wav");
    EXPECT_EQ(percentageText(0.999), "99%");
    EXPECT_EQ(percentageText(1.0), "100%");
    EXPECT_EQ(percentageText(0.0), "0%");
    EXPECT_EQ(percentageText(0.427), "42%");
}

TEST(ConversionRun, EveryProgressReportArrivesOnTheMainThreadAndIsShown)
{
    ViewFixture f;
    constexpr std::int64_t frames = 5 * kBlock - 17;
    f.view->loadSourceFile(f.audioFile("long.wav", {48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, frames));
    f.view->setSaveFileChooser([&](QWidget*, const QString&) { return std::optional<QUrl>(f.url("out.wav")); });

    const std::vector<Observation> seen = observeRun(*f.view);

    std::vector<double> progress;
    for (const Observation& each : seen) {
        EXPECT_TRUE(each.onMainThread);
        EXPECT_TRUE(each.barVisible);
        EXPECT_EQ(each.percentage, percentageText(each.progress));
        EXPECT_EQ(each.barValue, static_cast<int>(each.progress * BottomBar::kProgressSteps));
        progress.push_back(each.progress);
    }
    EXPECT_EQ(progress, expectedReports(frames));
    EXPECT_EQ(seen.back().percentage, QStringLiteral("100%"));
}

TEST(ConversionRun, AFailedRunShowsItsErrorThenASuccessReplacesIt)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("take.wav"));
    convertTo(*f.view, f.url("no such folder/out.wav"));

    const ContentState& state = f.view->state();
    EXPECT_EQ(state.errorMessage, QStringLiteral("Conversion failed: No such file or directory"));
    EXPECT_FALSE(state.conversionMessage);
    MessageLabel* errorLine = f.view->bottomBar()->errorLine();
    EXPECT_TRUE(errorLine->isVisible());
    EXPECT_EQ(errorLine->text(), *state.errorMessage);
    EXPECT_EQ(textColor(errorLine), errorTextColor());
    EXPECT_TRUE(f.view->bottomBar()->convertButton()->isEnabled());

    convertTo(*f.view, f.url("out.wav"));
    EXPECT_FALSE(state.errorMessage);
    EXPECT_EQ(state.conversionMessage, QStringLiteral("Saved out.wav (") + kVersion + QStringLiteral(")"));
    EXPECT_FALSE(errorLine->isVisible());
    EXPECT_TRUE(f.view->bottomBar()->messageLine()->isVisible());
}

TEST(ConversionRun, ACancelledSaveDialogChangesNothing)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("take.wav"));
    for (const char* destination : {"out.wav", "missing/out.wav"}) {
        convertTo(*f.view, f.url(destination)); // leaves a success line, then an error line
        const ContentState before = f.view->state();
        const BottomBar::Status shown = f.view->bottomBar()->status();
        int asked = 0;
        f.view->setSaveFileChooser([&](QWidget*, const QString&) {
            ++asked;
            return std::optional<QUrl>();
        });
        click(f.view->bottomBar()->convertButton());
        EXPECT_EQ(asked, 1);
        expectSameState(before, f.view->state());
        EXPECT_EQ(f.view->bottomBar()->status(), shown);
    }
}

TEST(ConversionRun, ReturnStartsARunOnlyWhileConvertIsEnabled)
{
    ViewFixture f;
    int asked = 0;
    f.view->setSaveFileChooser([&](QWidget*, const QString&) {
        ++asked;
        return std::optional<QUrl>(f.url("out.wav"));
    });
    QWidget* focused = f.view->sourceSection()->chooseButton();
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult {
        ADD_FAILURE() << "Return opened the open dialog";
        return OpenCancelled{};
    });

    QTest::keyClick(focused, Qt::Key_Return);
    EXPECT_EQ(asked, 0);

    f.view->loadSourceFile(f.audioFile("take.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 3 * kBlock));
    QTest::keyClick(focused, Qt::Key_Return);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(f.view->isConverting());
    QTest::keyClick(f.view->destinationSection()->formatPicker(), Qt::Key_Enter);
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));

    QTest::keyClick(f.view->destinationSection()->formatPicker(), Qt::Key_Enter);
    EXPECT_EQ(asked, 2);
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));
}

TEST(ConversionRun, SettingsChangedDuringARunOnlyAffectTheNextOne)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("take.wav", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 2 * kBlock));
    f.view->setSaveFileChooser([&](QWidget*, const QString&) { return std::optional<QUrl>(f.url("first.wav")); });
    f.view->startConversion();
    ASSERT_TRUE(f.view->isConverting());

    DestinationSection* step2 = f.view->destinationSection();
    EXPECT_TRUE(step2->isEnabled());
    choose(step2->sampleRatePicker(), index(TargetSampleRate::r96000));
    choose(step2->formatPicker(), index(OutputFormat::float32));
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));

    const AudioData first = readAudioFile(f.dir / "first.wav");
    EXPECT_EQ(first.info.samplerate, 44100);
    EXPECT_EQ(first.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);

    QString suggested;
    f.view->setSaveFileChooser([&](QWidget*, const QString& name) {
        suggested = name;
        return std::optional<QUrl>(f.url("second.wav"));
    });
    f.view->startConversion();
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));
    EXPECT_EQ(suggested, QStringLiteral("take_96000-32f.wav"));
    const AudioData second = readAudioFile(f.dir / "second.wav");
    EXPECT_EQ(second.info.samplerate, 96000);
    EXPECT_EQ(second.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
}

TEST(ConversionRun, AFailedLoadDuringARunStaysInFrontOfTheSuccessLine)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("take.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 2 * kBlock));
    f.view->setSaveFileChooser([&](QWidget*, const QString&) { return std::optional<QUrl>(f.url("out.wav")); });
    f.view->startConversion();
    ASSERT_TRUE(f.view->isConverting());

    // Dropping works during a run; the bar keeps showing progress.
    EXPECT_TRUE(drop(*f.view, {f.textFile("broken.wav")}));
    EXPECT_TRUE(f.view->state().errorMessage);
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::progress);
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));

    const ContentState& state = f.view->state();
    EXPECT_EQ(state.conversionMessage, QStringLiteral("Saved out.wav (") + kVersion + QStringLiteral(")"));
    ASSERT_TRUE(state.errorMessage);
    EXPECT_TRUE(state.errorMessage->startsWith(QStringLiteral("Could not read file: ")));
    EXPECT_TRUE(f.view->bottomBar()->errorLine()->isVisible());
    EXPECT_FALSE(f.view->bottomBar()->messageLine()->isVisible());
    EXPECT_FALSE(f.view->bottomBar()->convertButton()->isEnabled());
    EXPECT_EQ(readAudioFile(f.dir / "out.wav").frames(), 2 * kBlock);
}

TEST(ConversionRun, TheWindowKeepsWorkingWhileTheJobRuns)
{
    GatedLibsoxr libsoxr;
    ASSERT_TRUE(libsoxr.loaded());
    ViewFixture f;
    constexpr std::int64_t frames = 3 * kBlock;
    f.view->loadSourceFile(f.audioFile("take.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, frames));
    f.view->setSaveFileChooser([&](QWidget*, const QString&) { return std::optional<QUrl>(f.url("out.wav")); });

    int barPaints = 0;
    struct PaintCounter : QObject {
        int* count;
        explicit PaintCounter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint) ++*count;
            return false;
        }
    } counter(&barPaints);
    f.view->bottomBar()->progressBar()->installEventFilter(&counter);

    libsoxr.shut();
    f.view->startConversion();
    ASSERT_TRUE(f.view->isConverting());
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    EXPECT_TRUE(waitUntil([&] { return timerRan && barPaints > 0; }));
    EXPECT_TRUE(f.view->isConverting());
    EXPECT_TRUE(f.view->bottomBar()->percentageLabel()->isVisible());
    EXPECT_EQ(f.view->bottomBar()->percentageLabel()->text(), QStringLiteral("0%"));

    // Still usable: another file can be chosen and a setting changed.
    f.view->loadSourceFile(f.audioFile("next.wav"));
    choose(f.view->destinationSection()->formatPicker(), index(OutputFormat::int24));
    EXPECT_EQ(f.view->state().outputFormat, OutputFormat::int24);
    EXPECT_TRUE(f.view->isConverting());

    libsoxr.open();
    EXPECT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));
    // The version text is the bound library's.
    EXPECT_EQ(f.view->state().conversionMessage, QStringLiteral("Saved out.wav (gated-libsoxr)"));
    const AudioData written = readAudioFile(f.dir / "out.wav");
    EXPECT_EQ(written.frames(), frames);
    EXPECT_EQ(written.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

TEST(ConversionRun, TwoWindowsConvertSideBySideEachShowingItsOwnRun)
{
    ViewFixture a;
    ViewFixture b;
    constexpr std::int64_t framesA = 2 * kBlock + 5;
    constexpr std::int64_t framesB = 5 * kBlock;
    a.view->loadSourceFile(a.audioFile("a.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, framesA));
    b.view->loadSourceFile(b.audioFile("b.wav", {48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, framesB));
    choose(b.view->destinationSection()->sampleRatePicker(), index(TargetSampleRate::r96000));
    a.view->setSaveFileChooser([&](QWidget*, const QString&) { return std::optional<QUrl>(a.url("a-out.wav")); });
    b.view->setSaveFileChooser([&](QWidget*, const QString&) { return std::optional<QUrl>(b.url("b-out.wav")); });

    std::vector<double> progressA;
    std::vector<double> progressB;
    for (auto [view, progress] : {std::pair{a.view.get(), &progressA}, std::pair{b.view.get(), &progressB}}) {
        QObject::connect(view, &ContentView::stateChanged, view, [view, progress] {
            if (view->isConverting()) progress->push_back(view->state().conversionProgress);
        });
    }
    a.view->startConversion();
    b.view->startConversion();
    ASSERT_TRUE(a.view->isConverting() && b.view->isConverting());
    ASSERT_TRUE(waitUntil([&] { return !a.view->isConverting() && !b.view->isConverting(); }));

    EXPECT_EQ(progressA, expectedReports(framesA));
    EXPECT_EQ(progressB, expectedReports(framesB));
    EXPECT_EQ(a.view->state().conversionMessage, QStringLiteral("Saved a-out.wav (") + kVersion + QStringLiteral(")"));
    EXPECT_EQ(b.view->state().conversionMessage, QStringLiteral("Saved b-out.wav (") + kVersion + QStringLiteral(")"));
    EXPECT_EQ(readAudioFile(a.dir / "a-out.wav").info.samplerate, 44100);
    EXPECT_EQ(readAudioFile(b.dir / "b-out.wav").info.samplerate, 96000);
}

TEST(ConversionRun, AWindowClosedDuringItsRunLetsTheFileFinish)
{
    ViewFixture f;
    constexpr std::int64_t frames = 4 * kBlock;
    f.view->loadSourceFile(f.audioFile("take.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, frames));
    f.view->setSaveFileChooser([&](QWidget*, const QString&) { return std::optional<QUrl>(f.url("out.wav")); });
    f.view->startConversion();
    ASSERT_TRUE(f.view->isConverting());

    // Gone before any report of its job is delivered.
    f.view.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    const AudioData written = readAudioFile(f.dir / "out.wav");
    EXPECT_EQ(written.frames(), frames);
    EXPECT_EQ(written.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

TEST(ConversionRun, LongMessagesAreCutToTwoLines)
{
    ViewFixture f;
    QString longText;
    for (int i = 0; i < 40; ++i) longText += QStringLiteral("word%1 ").arg(i);
    f.view->setOpenFileChooser([&](QWidget*) -> OpenResult { return OpenFailed{longText.trimmed()}; });
    f.view->chooseSourceFile();

    MessageLabel* line = f.view->bottomBar()->errorLine();
    ASSERT_TRUE(line->isVisible());
    EXPECT_EQ(line->text(), longText.trimmed());
    const QStringList lines = line->displayedLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QChar(0x2026)));
    EXPECT_EQ(line->height(), 2 * QFontMetrics(line->font()).lineSpacing());
    EXPECT_LE(line->geometry().right(), f.view->bottomBar()->convertButton()->geometry().left());
}

// The real dialog: Qt's own, pre-filled, WAV only, Return takes the suggested name, and Qt
// asks before replacing a file.
TEST(ConversionRun, TheRealSaveDialogTakesTheSuggestedNameOnReturn)
{
    ViewFixture f;
    QDir::setCurrent(QString::fromStdString(f.dir.path().string()));
    f.view->loadSourceFile(f.audioFile("take.wav"));
    f.view->setSaveFileChooser(chooseFileToSave);

    QStringList seen;
    // Answers whatever modal dialog is up, as a user at the keyboard would.
    QTimer answerer;
    bool answering = false;     // an answer is queued and has not run yet
    QPointer<QWidget> answered; // each dialog is answered once
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (answering || !modal || modal == answered) return;
        answered = modal;
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
            EXPECT_EQ(dialog->nameFilters(), QStringList{kWavNameFilter});
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            seen << (name ? name->text() : QString());
            QWidget* target = name ? static_cast<QWidget*>(name) : dialog;
            // Later, from the event loop: the key may open a nested dialog, and a timer is not
            // re-entered while its handler runs.
            answering = true;
            QMetaObject::invokeMethod(target, [&answering, target] {
                answering = false;
                QTest::keyClick(target, Qt::Key_Return);
            }, Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << QStringLiteral("confirm");
            answering = true;
            QMetaObject::invokeMethod(box, [&answering, box] {
                answering = false;
                box->button(QMessageBox::Yes)->click();
            }, Qt::QueuedConnection);
        }
    });
    answerer.start(20);
    f.view->startConversion();
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));
    EXPECT_EQ(f.view->state().conversionMessage,
        QStringLiteral("Saved take_44100-16.wav (") + kVersion + QStringLiteral(")"));
    EXPECT_TRUE(std::filesystem::exists(f.dir / "take_44100-16.wav"));

    // Again: the file exists now, so Qt asks first.
    f.view->startConversion();
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting() && seen.size() >= 3; }));
    EXPECT_EQ(seen, QStringList({"take_44100-16.wav", "take_44100-16.wav", "confirm"}));
    EXPECT_EQ(readAudioFile(f.dir / "take_44100-16.wav").info.samplerate, 44100);
}

} // namespace
} // namespace fennick::test
