// Step 1 as a user meets it: drops, the open dialog's answers, drag hover, and what the window
// shows about the file.

#include "BottomBar.h"
#include "DestinationSection.h"
#include "DropHighlight.h"
#include "MessageLabel.h"
#include "QualitySection.h"
#include "SourceSection.h"
#include "TextStyles.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

namespace fennick::test {
namespace {

QLabel* label(const ContentView& view, const char* name) { return view.findChild<QLabel*>(QString::fromLatin1(name)); }

// The row of `field` in step 1's form is shown.
bool rowShown(const ContentView& view, const char* field)
{
    auto* form = static_cast<QFormLayout*>(view.sourceSection()->layout());
    QFormLayout::ItemRole role{};
    int row = -1;
    form->getWidgetPosition(label(view, field), &row, &role);
    return row >= 0 && form->isRowVisible(row);
}

void expectLoaded(const ContentView& view, const QUrl& url, const QString& rate, const QString& format)
{
    const ContentState& state = view.state();
    EXPECT_EQ(state.sourceURL, url);
    EXPECT_EQ(state.fileName, url.fileName());
    EXPECT_EQ(state.sourceFormat, format);
    EXPECT_EQ(label(view, "fileName")->text(), url.fileName());
    EXPECT_NE(textColor(label(view, "fileName")), secondaryTextColor(label(view, "fileName")));
    EXPECT_TRUE(rowShown(view, "sampleRateValue"));
    EXPECT_EQ(label(view, "sampleRateValue")->text(), rate);
    EXPECT_TRUE(rowShown(view, "formatValue"));
    EXPECT_EQ(label(view, "formatValue")->text(), format);
    EXPECT_TRUE(view.destinationSection()->isEnabled());
    EXPECT_TRUE(view.qualitySection()->isEnabled());
    EXPECT_TRUE(view.bottomBar()->convertButton()->isEnabled());
}

// Read failed or nothing chosen: dimmed name, no rate or format rows, steps 2 and 3 off.
void expectNoSource(const ContentView& view, const QString& shownName)
{
    EXPECT_FALSE(view.state().hasSource());
    EXPECT_EQ(label(view, "fileName")->text(), shownName);
    EXPECT_EQ(textColor(label(view, "fileName")), secondaryTextColor(label(view, "fileName")));
    EXPECT_FALSE(rowShown(view, "sampleRateValue"));
    EXPECT_FALSE(rowShown(view, "formatValue"));
    EXPECT_FALSE(view.destinationSection()->isEnabled());
    EXPECT_FALSE(view.qualitySection()->isEnabled());
    EXPECT_FALSE(view.bottomBar()->convertButton()->isEnabled());
}

TEST(SourceStep, StartsWithNoFileSelected)
{
    ViewFixture f;
    expectNoSource(*f.view, QStringLiteral("No file selected"));
    EXPECT_EQ(f.view->sourceSection()->title(), QStringLiteral("Step 1 — Source file"));
    EXPECT_EQ(label(*f.view, "sourceFooter")->text(), QStringLiteral("You can also drop a WAV file anywhere in this window."));
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::empty);
}

TEST(SourceStep, MixedDropLoadsTheFirstWavWhateverItsCase)
{
    ViewFixture f;
    const QUrl notes = f.textFile("notes.txt");
    const QUrl take = f.audioFile("Take.WAV", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24});
    const QUrl other = f.audioFile("other.wav");

    EXPECT_TRUE(drop(*f.view, {notes, take, other}));
    EXPECT_FALSE(f.view->state().errorMessage);
    expectLoaded(*f.view, take, QStringLiteral("48 kHz"), QStringLiteral("24-bit integer"));
}

TEST(SourceStep, DropWithoutWavIsRefusedAndChangesNothing)
{
    ViewFixture f;
    const QList<QUrl> refused{f.audioFile("a.wave"), f.audioFile("b.aiff", {44100, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_16})};

    const ContentState initial = f.view->state();
    EXPECT_FALSE(drop(*f.view, refused));
    expectSameState(initial, f.view->state());

    // Also with a file loaded and an error line showing: neither goes away.
    const QUrl loaded = f.audioFile("loaded.wav");
    f.view->loadSourceFile(loaded);
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenFailed{QStringLiteral("Folder unavailable.")}; });
    f.view->chooseSourceFile();
    const ContentState before = f.view->state();
    EXPECT_FALSE(drop(*f.view, refused));
    EXPECT_FALSE(drop(*f.view, {}));
    expectSameState(before, f.view->state());
    EXPECT_EQ(f.view->bottomBar()->errorLine()->text(), QStringLiteral("Folder unavailable."));
}

TEST(SourceStep, InvalidWavIsTakenWithTheReadError)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("good.wav"));
    const QUrl broken = f.textFile("broken.wav");

    EXPECT_TRUE(drop(*f.view, {broken}));

    const ContentState& state = f.view->state();
    EXPECT_EQ(state.fileName, QStringLiteral("broken.wav"));
    EXPECT_FALSE(state.sampleRate);
    EXPECT_FALSE(state.sourceFormat);
    ASSERT_TRUE(state.errorMessage);
    EXPECT_TRUE(state.errorMessage->startsWith(QStringLiteral("Could not read file: ")));
    EXPECT_GT(state.errorMessage->size(), QStringLiteral("Could not read file: ").size());
    expectNoSource(*f.view, QStringLiteral("broken.wav"));

    MessageLabel* errorLine = f.view->bottomBar()->errorLine();
    EXPECT_TRUE(errorLine->isVisible());
    EXPECT_EQ(errorLine->text(), *state.errorMessage);
    EXPECT_EQ(textColor(errorLine), errorTextColor());
}

TEST(SourceStep, MissingFileAndDirectoryGiveTheSystemsWords)
{
    ViewFixture f;
    f.view->loadSourceFile(f.url("gone.wav"));
    EXPECT_EQ(f.view->state().errorMessage, QStringLiteral("Could not read file: No such file or directory"));
    std::filesystem::create_directory(f.dir / "folder.wav");
    EXPECT_TRUE(drop(*f.view, {f.url("folder.wav")}));
    EXPECT_EQ(f.view->state().errorMessage, QStringLiteral("Could not read file: Is a directory"));
}

TEST(SourceStep, LoadingAValidFileAfterAFailureClearsBothLines)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("first.wav", {44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}));
    convertTo(*f.view, f.url("out.wav"));
    ASSERT_TRUE(f.view->state().conversionMessage);

    // A failed read keeps the earlier run's line, but the error line is what the bar shows.
    f.view->loadSourceFile(f.textFile("broken.wav"));
    EXPECT_TRUE(f.view->state().conversionMessage);
    EXPECT_TRUE(f.view->state().errorMessage);
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::error);
    EXPECT_FALSE(f.view->bottomBar()->messageLine()->isVisible());

    const QUrl good = f.audioFile("good.wav", {96000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16});
    f.view->loadSourceFile(good);
    EXPECT_FALSE(f.view->state().conversionMessage);
    EXPECT_FALSE(f.view->state().errorMessage);
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::empty);
    expectLoaded(*f.view, good, QStringLiteral("96 kHz"), QStringLiteral("16-bit integer"));
}

TEST(SourceStep, OpenDialogAnswers)
{
    ViewFixture f;
    const QUrl chosen = f.audioFile("chosen.wav");
    bool presentedWhileOpen = false;
    f.view->setOpenFileChooser([&](QWidget* parent) -> OpenResult {
        presentedWhileOpen = f.view->state().isImporterPresented && parent == f.view.get();
        return chosen;
    });
    click(f.view->sourceSection()->chooseButton());
    EXPECT_TRUE(presentedWhileOpen);
    EXPECT_FALSE(f.view->state().isImporterPresented);
    expectLoaded(*f.view, chosen, QStringLiteral("44.1 kHz"), QStringLiteral("24-bit integer"));

    // Cancelled: nothing changes.
    const ContentState loaded = f.view->state();
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenCancelled{}; });
    click(f.view->sourceSection()->chooseButton());
    expectSameState(loaded, f.view->state());

    // The dialog's own failure: its words alone, and the loaded file stays.
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenFailed{QStringLiteral("The volume was ejected.")}; });
    click(f.view->sourceSection()->chooseButton());
    ContentState expected = loaded;
    expected.errorMessage = QStringLiteral("The volume was ejected.");
    expectSameState(expected, f.view->state());
    EXPECT_EQ(f.view->bottomBar()->errorLine()->text(), QStringLiteral("The volume was ejected."));
    expectLoaded(*f.view, chosen, QStringLiteral("44.1 kHz"), QStringLiteral("24-bit integer"));
}

TEST(SourceStep, HighlightOnlyWhileADragHovers)
{
    ViewFixture f;
    DropHighlight* highlight = f.view->dropHighlight();
    const QPoint onBorder(static_cast<int>(DropHighlight::kInset) + 1, f.view->height() / 2);
    const auto borderDrawn = [&] {
        return f.view->grab().toImage().pixelColor(onBorder * f.view->devicePixelRatioF()) == highlight->borderColor();
    };
    EXPECT_FALSE(highlight->isVisible());
    EXPECT_FALSE(borderDrawn());

    const QUrl take = f.audioFile("take.wav");
    EXPECT_TRUE(dragEnter(*f.view, {take}));
    EXPECT_TRUE(f.view->state().isDropTargeted);
    EXPECT_TRUE(highlight->isVisible());
    EXPECT_EQ(highlight->geometry(), f.view->rect());
    EXPECT_TRUE(borderDrawn());

    dragLeave(*f.view);
    EXPECT_FALSE(f.view->state().isDropTargeted);
    EXPECT_FALSE(highlight->isVisible());
    EXPECT_FALSE(borderDrawn());

    // A refused drop ends the hover too.
    EXPECT_TRUE(dragEnter(*f.view, {f.url("notes.txt")}));
    EXPECT_FALSE(drop(*f.view, {f.url("notes.txt")}));
    EXPECT_FALSE(f.view->state().isDropTargeted);
    EXPECT_FALSE(highlight->isVisible());

    // Dragged text that is no file does not light the window up.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    EXPECT_FALSE(f.view->state().isDropTargeted);
}

struct FormatCase {
    int subtype;
    const char* text;
};

class SourceFormatText : public testing::TestWithParam<FormatCase> {};

TEST_P(SourceFormatText, ShowsBitsAndKind)
{
    ViewFixture f;
    const QUrl url = f.audioFile("source.wav", {44100, 2, SF_FORMAT_WAV | GetParam().subtype});
    f.view->loadSourceFile(url);
    EXPECT_FALSE(f.view->state().errorMessage);
    expectLoaded(*f.view, url, QStringLiteral("44.1 kHz"), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Encodings, SourceFormatText,
    testing::Values(FormatCase{SF_FORMAT_PCM_U8, "8-bit integer"}, FormatCase{SF_FORMAT_PCM_16, "16-bit integer"},
        FormatCase{SF_FORMAT_PCM_24, "24-bit integer"}, FormatCase{SF_FORMAT_PCM_32, "32-bit integer"},
        FormatCase{SF_FORMAT_FLOAT, "32-bit float"}, FormatCase{SF_FORMAT_DOUBLE, "64-bit float"}),
    [](const testing::TestParamInfo<FormatCase>& info) {
        return QString::fromLatin1(info.param.text).replace(QLatin1Char('-'), QLatin1Char('_')).remove(QLatin1Char(' ')).toStdString();
    });

struct RateCase {
    int hertz;
    const char* english;
    const char* decimalComma;
};

class SourceRateText : public testing::TestWithParam<RateCase> {};

TEST_P(SourceRateText, FollowsTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("source.wav", {GetParam().hertz, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 100));
    EXPECT_EQ(f.view->state().sampleRate, GetParam().hertz);
    EXPECT_EQ(label(*f.view, "sampleRateValue")->text(), QString::fromUtf8(GetParam().english));

    // The user switches to German: the window follows without reloading.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QEvent change(QEvent::LocaleChange);
    QApplication::sendEvent(f.view.get(), &change);
    EXPECT_EQ(label(*f.view, "sampleRateValue")->text(), QString::fromUtf8(GetParam().decimalComma));
}

INSTANTIATE_TEST_SUITE_P(Rates, SourceRateText,
    testing::Values(RateCase{44100, "44.1 kHz", "44,1 kHz"}, RateCase{48000, "48 kHz", "48 kHz"},
        RateCase{88200, "88.2 kHz", "88,2 kHz"}, RateCase{96000, "96 kHz", "96 kHz"},
        RateCase{176400, "176.4 kHz", "176,4 kHz"}, RateCase{192000, "192 kHz", "192 kHz"},
        RateCase{8000, "8 kHz", "8 kHz"}, RateCase{22050, "22.05 kHz", "22,05 kHz"},
        RateCase{11025, "11.025 kHz", "11,025 kHz"}, RateCase{352800, "352.8 kHz", "352,8 kHz"}),
    [](const testing::TestParamInfo<RateCase>& info) { return "hz" + std::to_string(info.param.hertz); });

} // namespace
} // namespace fennick::test
