// Step 1 as a user meets it: drops, the open dialog's answers, drag hover, and what the window
// shows about the file.

#include "DropHighlight.h"
#include "UiTestSupport.h"

#include <QFormLayout>
#include <QMimeData>

namespace fennick::test {
namespace {

QLabel* label(const ContentView& view, const char* name) { return view.findChild<QLabel*>(QString::fromLatin1(name)); }

// Step 1 as one line: the file name, "(dimmed)" in the secondary style, then the rate and
// format rows that are shown.
QString stepOne(const ContentView& view)
{
    QLabel* name = label(view, "fileName");
    QStringList shown{name->text() + (textColor(name) == secondaryTextColor(name) ? " (dimmed)" : "")};
    auto* form = static_cast<QFormLayout*>(view.sourceSection()->layout());
    for (const char* field : {"sampleRateValue", "formatValue"}) {
        int row = -1;
        QFormLayout::ItemRole role{};
        form->getWidgetPosition(label(view, field), &row, &role);
        if (form->isRowVisible(row)) shown << label(view, field)->text();
    }
    return shown.join(" | ");
}

TEST(SourceStep, StartsWithNoFileSelected)
{
    ViewFixture f;
    EXPECT_EQ(stepOne(*f.view), "No file selected (dimmed)");
    EXPECT_EQ(f.view->sourceSection()->title(), "Step 1 — Source file");
    EXPECT_EQ(label(*f.view, "sourceFooter")->text(), "You can also drop a WAV file anywhere in this window.");
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::empty);
}

TEST(SourceStep, MixedDropLoadsTheFirstWavWhateverItsCase)
{
    ViewFixture f;
    const QUrl take = f.audioFile("Take.WAV", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24});
    EXPECT_TRUE(drop(*f.view, {f.textFile("notes.txt"), take, f.audioFile("other.wav")}));
    EXPECT_EQ(f.view->state().sourceURL, take);
    EXPECT_FALSE(f.view->state().errorMessage);
    EXPECT_EQ(stepOne(*f.view), "Take.WAV | 48 kHz | 24-bit integer");
}

TEST(SourceStep, DropWithoutWavIsRefusedAndChangesNothing)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("loaded.wav"));
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenFailed{"Folder unavailable."}; });
    f.view->chooseSourceFile();
    const ContentState before = f.view->state();
    const QUrl aiff = f.audioFile("b.aiff", {44100, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_16});
    EXPECT_FALSE(drop(*f.view, {f.audioFile("a.wave"), aiff}));
    EXPECT_FALSE(drop(*f.view, {}));
    EXPECT_TRUE(sameState(before, f.view->state()));
    EXPECT_EQ(stepOne(*f.view), "loaded.wav | 44.1 kHz | 24-bit integer");
    EXPECT_EQ(f.view->bottomBar()->errorLine()->text(), "Folder unavailable.");
}

TEST(SourceStep, InvalidWavIsTakenWithTheReadError)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("good.wav"));
    EXPECT_TRUE(drop(*f.view, {f.textFile("broken.wav")}));
    const ContentState& state = f.view->state();
    EXPECT_FALSE(state.hasSource() || state.sampleRate || state.sourceFormat);
    EXPECT_EQ(state.fileName, "broken.wav");
    EXPECT_EQ(stepOne(*f.view), "broken.wav (dimmed)");
    ASSERT_TRUE(state.errorMessage);
    EXPECT_TRUE(state.errorMessage->startsWith("Could not read file: ")); // then libsndfile's own words
    MessageLabel* errorLine = f.view->bottomBar()->errorLine();
    EXPECT_TRUE(errorLine->isVisible());
    EXPECT_EQ(errorLine->text(), *state.errorMessage);
    EXPECT_EQ(textColor(errorLine), errorTextColor());
}

TEST(SourceStep, AFailedReadKeepsTheLastRunsLineAndAGoodOneClearsBoth)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("first.wav", {44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}));
    convertTo(*f.view, f.url("out.wav"));
    f.view->loadSourceFile(f.textFile("broken.wav"));
    EXPECT_TRUE(f.view->state().conversionMessage);
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::error);

    f.view->loadSourceFile(f.audioFile("good.wav", {96000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16}));
    EXPECT_FALSE(f.view->state().conversionMessage || f.view->state().errorMessage);
    EXPECT_EQ(f.view->bottomBar()->status(), BottomBar::Status::empty);
    EXPECT_EQ(stepOne(*f.view), "good.wav | 96 kHz | 16-bit integer");
}

TEST(SourceStep, OpenDialogAnswers)
{
    ViewFixture f;
    bool presentedWhileOpen = false;
    f.view->setOpenFileChooser([&](QWidget* parent) -> OpenResult {
        presentedWhileOpen = f.view->state().isImporterPresented && parent == f.view.get();
        return f.audioFile("chosen.wav");
    });
    click(f.view->sourceSection()->chooseButton());
    EXPECT_TRUE(presentedWhileOpen);
    EXPECT_FALSE(f.view->state().isImporterPresented);
    EXPECT_EQ(stepOne(*f.view), "chosen.wav | 44.1 kHz | 24-bit integer");

    const ContentState loaded = f.view->state();
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenCancelled{}; });
    click(f.view->sourceSection()->chooseButton());
    EXPECT_TRUE(sameState(loaded, f.view->state()));

    // The dialog's own failure: its words alone, and the loaded file stays.
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenFailed{"The volume was ejected."}; });
    click(f.view->sourceSection()->chooseButton());
    ContentState expected = loaded;
    expected.errorMessage = QStringLiteral("The volume was ejected.");
    EXPECT_TRUE(sameState(expected, f.view->state()));
    EXPECT_EQ(f.view->bottomBar()->errorLine()->text(), "The volume was ejected.");
}

TEST(SourceStep, HighlightOnlyWhileADragHovers)
{
    ViewFixture f;
    // The hover flag, checked against the border drawn on screen.
    const auto highlighted = [&] {
        const QPoint onBorder(static_cast<int>(DropHighlight::kInset) + 1, f.view->height() / 2);
        const QColor drawn = f.view->grab().toImage().pixelColor(onBorder * f.view->devicePixelRatioF());
        EXPECT_EQ(drawn == f.view->dropHighlight()->borderColor(), f.view->state().isDropTargeted);
        return f.view->state().isDropTargeted;
    };
    EXPECT_FALSE(highlighted());
    EXPECT_TRUE(sendDrag<QDragEnterEvent>(*f.view, {f.audioFile("take.wav")}));
    EXPECT_TRUE(highlighted());
    QDragLeaveEvent leave;
    QApplication::sendEvent(f.view.get(), &leave);
    EXPECT_FALSE(highlighted());

    // A refused drop ends the hover too.
    EXPECT_TRUE(sendDrag<QDragEnterEvent>(*f.view, {f.url("notes.txt")}));
    EXPECT_FALSE(drop(*f.view, {f.url("notes.txt")}));
    EXPECT_FALSE(highlighted());

    // Dragged text that is no file does not light the window up.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    EXPECT_FALSE(highlighted());
}

TEST(SourceStep, FormatAndSampleRateTextsFollowTheFileAndTheLocale)
{
    ViewFixture f;
    const std::tuple<int, int, QString, QString, QString> cases[]
        = {{SF_FORMAT_PCM_U8, 11025, "8-bit integer", "11.025 kHz", "11,025 kHz"},
            {SF_FORMAT_PCM_16, 44100, "16-bit integer", "44.1 kHz", "44,1 kHz"},
            {SF_FORMAT_PCM_24, 48000, "24-bit integer", "48 kHz", "48 kHz"},
            {SF_FORMAT_PCM_32, 22050, "32-bit integer", "22.05 kHz", "22,05 kHz"},
            {SF_FORMAT_FLOAT, 96000, "32-bit float", "96 kHz", "96 kHz"},
            {SF_FORMAT_DOUBLE, 176400, "64-bit float", "176.4 kHz", "176,4 kHz"}};
    for (const auto& [subtype, hertz, format, english, decimalComma] : cases) {
        switchLocale(*f.view, QLocale(QLocale::English, QLocale::UnitedStates));
        f.view->loadSourceFile(f.audioFile("source.wav", {hertz, 1, SF_FORMAT_WAV | subtype}, 100));
        EXPECT_EQ(f.view->state().sourceFormat, format);
        EXPECT_EQ(stepOne(*f.view), "source.wav | " + english + " | " + format);
        // The user switches to German: the window follows without reloading.
        switchLocale(*f.view, QLocale(QLocale::German, QLocale::Germany));
        EXPECT_EQ(label(*f.view, "sampleRateValue")->text(), decimalComma);
    }
}

} // namespace
} // namespace fennick::test
