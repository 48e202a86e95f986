// Step 1 as a user meets it: drops, the open dialog's answers, drag hover, and what the window
// shows about the file.

#include "DropHighlight.h"
#include "OtherRateDialog.h"
#include "UiTestSupport.h"

#include <QTimer>

namespace fennick::test {
namespace {

const QString kReadError = QStringLiteral("!Could not read file: ");

TEST(SourceStep, DropsTakeTheFirstWavAndAnUnreadableOneShowsWhy)
{
    ViewFixture f;
    EXPECT_EQ(screen(*f.view), "No file selected (dimmed) ||  || (Convert…)");
    EXPECT_FALSE(f.view->destinationSection()->isEnabled() || f.view->qualitySection()->isEnabled());
    saveScreenshot(*f.view, "content-no-file.png");

    // A text file first and the extension in capitals: the WAV is taken all the same.
    const QUrl take = f.audioFile("Take.WAV", {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24});
    EXPECT_TRUE(drop(*f.view, {f.textFile("notes.txt"), take, f.audioFile("other.wav")}));
    EXPECT_EQ(f.view->state().sourceURL, take);
    EXPECT_EQ(screen(*f.view), "Take.WAV | 48 kHz | 24-bit integer | None ||  || Convert…");

    // The border is drawn while a file drag hovers, and a refused drop ends the hover too.
    const auto highlighted = [&] {
        const QPoint onBorder(static_cast<int>(DropHighlight::kInset) + 1, f.view->height() / 2);
        const QColor drawn = f.view->grab().toImage().pixelColor(onBorder * f.view->devicePixelRatioF());
        EXPECT_EQ(drawn == f.view->dropHighlight()->borderColor(), f.view->state().isDropTargeted);
        return f.view->state().isDropTargeted;
    };
    EXPECT_TRUE(dragEnter(*f.view, {f.url("notes.txt")}) && highlighted());
    QDragLeaveEvent leave;
    QApplication::sendEvent(f.view.get(), &leave);
    EXPECT_FALSE(highlighted());
    EXPECT_TRUE(dragEnter(*f.view, {f.url("notes.txt")}) && highlighted());
    EXPECT_FALSE(drop(*f.view, {f.url("notes.txt")}) || highlighted());

    // No audio file among them, or nothing at all: refused, and nothing changes, an error line included.
    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenFailed{"Folder unavailable."}; });
    f.view->chooseSourceFile();
    const ContentState before = f.view->state();
    EXPECT_FALSE(drop(
        *f.view, {f.audioFile("a.wave"), f.audioFile("b.aiff.mp4", {44100, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_16})}));
    EXPECT_FALSE(drop(*f.view, {}));
    EXPECT_EQ(before, f.view->state());
    EXPECT_EQ(screen(*f.view), "Take.WAV | 48 kHz | 24-bit integer | None || !Folder unavailable. || Convert…");

    // A .wav that is not audio is taken, and replaces the loaded file with the reason.
    EXPECT_TRUE(drop(*f.view, {f.textFile("broken.wav")}));
    EXPECT_FALSE(f.view->state().sampleRate || f.view->state().sourceFormat);
    EXPECT_TRUE(screen(*f.view).startsWith("broken.wav (dimmed) || " + kReadError)) << screen(*f.view).toStdString();
    EXPECT_FALSE(f.view->destinationSection()->isEnabled() || f.view->qualitySection()->isEnabled());
}

TEST(SourceStep, OpenDialogAnswersAndWhatAReadLeavesOfEarlierLines)
{
    ViewFixture f;
    bool parentedToWindow = false;
    f.view->setOpenFileChooser([&](QWidget* parent) -> OpenResult {
        parentedToWindow = parent == f.view.get();
        return f.audioFile("chosen.wav");
    });
    click(f.view->sourceSection()->chooseButton());
    EXPECT_TRUE(parentedToWindow);
    settleFilterPlot();
    // The source's level comes back in the background: the state to keep is the one after it.
    ASSERT_TRUE(waitUntil([&] { return f.view->state().sourceLevel != QStringLiteral("Measuring\u2026"); }));
    const ContentState loaded = f.view->state();
    EXPECT_EQ(screen(*f.view), "chosen.wav | 44.1 kHz | 24-bit integer | None ||  || Convert…");
    saveScreenshot(*f.view, "content-file-loaded.png");

    f.view->setOpenFileChooser([](QWidget*) -> OpenResult { return OpenCancelled{}; });
    click(f.view->sourceSection()->chooseButton());
    EXPECT_EQ(loaded, f.view->state());

    // The dialog's own failure: its words alone, and the loaded file stays. A long text is cut to two
    // lines, clear of the Convert button.
    QString longText = QStringLiteral("The volume was ejected.");
    for (int i = 0; i < 40; ++i) longText += QStringLiteral(" word%1").arg(i);
    f.view->setOpenFileChooser([&](QWidget*) -> OpenResult { return OpenFailed{longText}; });
    click(f.view->sourceSection()->chooseButton());
    ContentState expected = loaded;
    expected.errorMessage = longText;
    EXPECT_EQ(expected, f.view->state());
    MessageLabel* line = f.view->bottomBar()->errorLine();
    const QStringList lines = line->displayedLines();
    EXPECT_TRUE(lines.size() == 2 && lines[1].endsWith(QChar(0x2026))) << lines.join('|').toStdString();
    EXPECT_EQ(line->height(), 2 * QFontMetrics(line->font()).lineSpacing());
    EXPECT_LE(line->geometry().right(), f.view->bottomBar()->convertButton()->geometry().left());

    // A failed read keeps the last run's line; a good one clears both.
    convertTo(*f.view, f.url("out.wav"));
    f.view->loadSourceFile(f.textFile("broken.wav"));
    EXPECT_TRUE(f.view->state().conversionMessage);
    EXPECT_TRUE(screen(*f.view).contains(kReadError));

    // A Broadcast WAV with iXML: the Metadata row names what a conversion carries across.
    const QUrl good = f.audioFile("good.wav", {96000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16});
    insertChunks(
        good.toLocalFile().toStdString(), riffChunk("bext", std::string(602, 'b')) + riffChunk("iXML", "<X/>"));
    f.view->loadSourceFile(good);
    EXPECT_FALSE(f.view->state().conversionMessage || f.view->state().errorMessage);
    EXPECT_EQ(screen(*f.view), "good.wav | 96 kHz | 16-bit integer | Broadcast WAV, iXML ||  || Convert…");
    saveScreenshot(*f.view, "content-metadata.png");
}

// A recording cut short is told under its format when chosen, and again under the Saved line.
TEST(SourceStep, ADamagedFileIsToldOnChoosingAndAfterConverting)
{
    ViewFixture f;
    const QUrl cut = f.audioFile("cut.wav", {48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}, 48000);
    damageWav(f.dir / "cut.wav", std::nullopt, 48000);
    f.view->loadSourceFile(cut);
    const QString said = "The source ended after 0:00.500 of its stated 0:01.000; the rest was missing.";
    EXPECT_EQ(screen(*f.view), "cut.wav | 48 kHz | 16-bit integer | " + said + " (dimmed) | None ||  || Convert…");
    convertTo(*f.view, f.url("out.wav"));
    EXPECT_EQ(screen(*f.view),
        "cut.wav | 48 kHz | 16-bit integer | " + said + " (dimmed) | None || Saved out.wav (gated-libsoxr) (dimmed) / "
            + said + " (amber) || Convert…");
    saveScreenshot(*f.view, "content-damaged.png");
}

// Channels with their layout, duration and size, the whole path in the tooltip, a long name cut in
// the middle; step 2's estimate of the output; a rate from "Other…", the real dialog included.
TEST(SourceStep, DetailsOfTheSourceAndTheOutputAndAnyOtherRate)
{
    ViewFixture f;
    // 16 and 24 bits and 32-bit float are on other screens.
    const std::tuple<int, int, int, QString, QString> cases[]
        = {{SF_FORMAT_PCM_U8, 11025, 1, "11.025 kHz | 8-bit integer", "1 · mono | About 88.3 kB"},
            {SF_FORMAT_PCM_32, 22050, 2, "22.05 kHz | 32-bit integer", "2 · stereo | About 176.5 kB"},
            {SF_FORMAT_DOUBLE, 176400, 6, "176.4 kHz | 64-bit float", "6 · 5.1 | About 529.3 kB"}};
    for (const auto& [subtype, hertz, channels, shown, details] : cases) {
        switchLocale(*f.view, QLocale(QLocale::English, QLocale::UnitedStates));
        f.view->loadSourceFile(f.audioFile("source.wav", {hertz, channels, SF_FORMAT_WAVEX | subtype}, hertz));
        EXPECT_EQ(screen(*f.view), "source.wav | " + shown + " | None ||  || Convert…");
        EXPECT_EQ(f.view->findChild<QLabel*>("channelsValue")->text() + " | "
                + f.view->findChild<QLabel*>("estimateValue")->text(),
            details);
        EXPECT_EQ(f.view->findChild<QLabel*>("durationValue")->text(), "0:01");
        // The user switches to German: the window follows without reloading.
        switchLocale(*f.view, QLocale(QLocale::German, QLocale::Germany));
        EXPECT_EQ(screen(*f.view), "source.wav | " + QString(shown).replace('.', ',') + " | None ||  || Convert…");
    }
    switchLocale(*f.view, QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(f.view->findChild<QLabel*>("sizeValue")->text(),
        QLocale().formattedDataSize(std::filesystem::file_size(f.dir / "source.wav"), 1, QLocale::DataSizeSIFormat));
    saveScreenshot(*f.view, "source-5.1.png");
    const QString name = "A very long name of a field recording made on the first day of the session.wav";
    f.view->loadSourceFile(f.audioFile(name.toStdString()));
    const auto* label = f.view->findChild<QLabel*>("fileName");
    EXPECT_TRUE(label->text().startsWith("A very") && label->text().contains("…") && label->text().endsWith(".wav"))
        << label->text().toStdString();
    EXPECT_EQ(label->toolTip(), QString::fromStdString(f.dir / name.toStdString()));

    // "Other…": what the dialog answers is the rate; a cancelled one leaves the rate as it was.
    QComboBox* rates = f.view->destinationSection()->sampleRatePicker();
    std::optional<double> answer = 22050;
    f.view->destinationSection()->setOtherRateDialog([&answer](QWidget*, double) { return answer; });
    for (const auto& [given, rate] : {std::pair{answer, 22050.0}, std::pair{std::optional<double>(), 22050.0}}) {
        answer = given;
        rates->setCurrentIndex(rates->count() - 1);
        emit rates->activated(rates->count() - 1);
        EXPECT_EQ(f.view->state().settings.targetRate, rate);
        EXPECT_EQ(rates->currentText(), "22.05 kHz");
    }
    const QStringList types = audioNameFilters();
    EXPECT_TRUE(types.first().startsWith("All audio files (") && types.first().contains("*.wav *.WAV")
        && types.first().contains("*.flac *.FLAC") && types.first().contains("*.aif *.AIF"))
        << types.join('\n').toStdString();
    EXPECT_EQ(parseKilohertz("384"), 384000.0);
    EXPECT_EQ(parseKilohertz("11.025 kHz"), 11025.0);
    for (const char* refused : {"0.5", "769", "44.1001", "fast"}) EXPECT_FALSE(parseKilohertz(refused)) << refused;
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) return;
        saveScreenshot(*dialog, "other-rate-dialog.png");
        dialog->close();
    });
    EXPECT_FALSE(askForOtherRate(f.view.get(), 22050));
}

} // namespace
} // namespace fennick::test
