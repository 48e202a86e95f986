// The batch window with the real engine behind a gated libsoxr: files and a folder added, a run held
// with one file half-way, per-row states, the question about existing outputs, cancel, the summary.

#include "BatchView.h"
#include "ConversionJob.h"
#include "LevelText.h"
#include "UiTestSupport.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QMimeData>
#include <QTreeWidget>

#include <fstream>

namespace fennick::test {
namespace {

struct BatchFixture : ViewFixture {
    BatchFixture()
    {
        batch = std::make_unique<BatchView>();
        batch->resize(960, 860);
        batch->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(batch.get()));
        batch->setExistingOutputsQuestion([this](QWidget*, const QStringList& outputs) {
            asked.append(outputs);
            return answer;
        });
    }
    // A row as "File | Sample rate | Format | Length | Status".
    QString row(int i) const
    {
        QStringList columns;
        for (int c : {0, 1, 2, 3, int(BatchView::statusColumn)})
            columns.append(batch->list()->topLevelItem(i)->text(c));
        return columns.join(" | ");
    }
    QString status(int row) const { return batch->list()->topLevelItem(row)->text(BatchView::statusColumn); }
    void startHeld()
    {
        click(batch->convertButton());
        ASSERT_TRUE(waitUntil([this] { return status(0) == "0%"; }));
    }
    std::unique_ptr<BatchView> batch;
    QStringList asked;
    ExistingOutputsAnswer answer = ExistingOutputsAnswer::replace;
};

TEST(BatchWindow, RunsAListOneFileHeldHalfWayAndSumsItUp)
{
    BatchFixture f;
    saveScreenshot(*f.batch, "batch-empty.png");
    const int rates[] = {44100, 48000, 96000, 88200, 192000, 22050, 32000, 176400, 44100, 48000};
    std::filesystem::create_directories(f.dir / "album/disc 2");
    for (int i = 0; i < 10; ++i) {
        f.audioFile((i < 5 ? "album/" : "album/disc 2/") + std::to_string(i) + ".wav", {rates[i], 2}, 2205 * (i + 1));
    }
    f.textFile("album/broken.wav");
    std::filesystem::create_directories(f.dir / "other");
    f.batch->setFilesChooser([&f](QWidget*) {
        return QList<QUrl>{f.audioFile("take.wav", {44100, 1}), f.audioFile("other/take.wav", {48000, 1})};
    });
    click(f.batch->addFilesButton());
    EXPECT_TRUE(drop(*f.batch, {f.url("album")}));
    ASSERT_EQ(f.batch->list()->topLevelItemCount(), 13);
    EXPECT_EQ(f.row(0), "take.wav | 44.1 kHz | 24-bit integer | 0:00 | Same output as other/take.wav");
    EXPECT_EQ(f.row(9), "disc 2/6.wav | 32 kHz | 24-bit integer | 0:00 | ");
    EXPECT_EQ(f.row(7), "broken.wav |  |  |  | Could not read file: Format not recognised.");
    EXPECT_EQ(f.batch->state().saveFolder->toLocalFile(), f.dir.path().c_str());
    saveScreenshot(*f.batch, "batch-loaded.png");
    f.batch->resize(1024, 530); // a 1024×600 screen less title and menu bars: the bottom bar stays whole
    for (int pass = 0; pass < 3; ++pass) QCoreApplication::processEvents(); // the wrapped texts' heights
    saveScreenshot(*f.batch, "batch-1024x600.png");
    const QWidget* convert = f.batch->convertButton();
    EXPECT_TRUE(f.batch->rect().contains(QRect(convert->mapTo(f.batch.get(), QPoint()), convert->size())));
    f.batch->resize(960, 860);

    std::filesystem::create_directories(f.dir / "out");
    std::ofstream(f.dir / "out/take_48000-24.wav") << "an earlier take";
    QStringList folderDialogs;
    f.batch->setFolderChooser([&](QWidget*, const QString& title, const QUrl& start) {
        folderDialogs << title + ' ' + QDir(start.toLocalFile()).dirName();
        return std::optional(f.url("out"));
    });
    click(f.batch->chooseFolderButton());
    EXPECT_EQ(folderDialogs, QStringList("Save Into " + QDir(f.dir.path().c_str()).dirName()));
    choose(f.batch->destinationSection()->sampleRatePicker(), TargetSampleRate::r48000);
    choose(f.batch->destinationSection()->formatPicker(), OutputFormat::int24);
    f.batch->setMaxJobs(1);
    // The two takes would both be saved as out/take_48000-24.wav: both rows say so, and nothing
    // runs until one of them goes.
    EXPECT_EQ(f.status(0), "Same output as other/take.wav");
    EXPECT_EQ(f.status(1), "Same output as take.wav");
    EXPECT_EQ(
        f.batch->summaryLabel()->text(), "take.wav and other/take.wav would both be written to out/take_48000-24.wav");
    choose(f.batch->destinationSection()->typePicker(), OutputType::aiff); // the outputs take its extension
    EXPECT_TRUE(f.batch->summaryLabel()->text().endsWith("out/take_48000-24.aiff"));
    choose(f.batch->destinationSection()->typePicker(), OutputType::wav);
    EXPECT_FALSE(f.batch->convertButton()->isEnabled());
    f.batch->convertAll();
    EXPECT_TRUE(f.asked.isEmpty());
    EXPECT_EQ(f.status(2), "");
    f.batch->list()->topLevelItem(1)->setSelected(true);
    click(f.batch->removeButton());
    EXPECT_EQ(f.status(0), "");
    {
        LibsoxrGate gate;
        f.startHeld();
        EXPECT_EQ(f.asked, QStringList{(f.dir / "out/take_48000-24.wav").c_str()});
        EXPECT_EQ(f.batch->convertButton()->text(), "Cancel");
        EXPECT_EQ(f.batch->progressLabel()->text(), "0 of 11 files");
        saveScreenshot(*f.batch, "batch-halfway.png");
        // Nothing that would change the run is editable; a press on Cancel let go after the run
        // ended does not start another.
        for (QWidget* control : QList<QWidget*>{f.batch->destinationSection(), f.batch->qualitySection(),
                 f.batch->chooseFolderButton(), f.batch->addFilesButton()})
            EXPECT_FALSE(control->isEnabled());
        f.batch->list()->topLevelItem(3)->setSelected(true);
        QTest::keyClick(f.batch->list(), Qt::Key_Delete);
        EXPECT_EQ(f.batch->list()->topLevelItemCount(), 12);
        QTest::mousePress(f.batch->convertButton(), Qt::LeftButton);
    }
    ASSERT_TRUE(waitUntil([&f] { return !f.batch->state().isConverting; }));
    QTest::mouseRelease(f.batch->convertButton(), Qt::LeftButton);
    EXPECT_FALSE(f.batch->state().isConverting);
    EXPECT_EQ(f.status(0), "Saved take_48000-24.wav");
    EXPECT_EQ(f.status(8), "Saved 6_48000-24.wav");
    EXPECT_TRUE(f.batch->summaryLabel()->text().startsWith("Saved 11 files (gated-libsoxr) \u00b7 Album loudness "));
    EXPECT_EQ(readAudioFile(f.dir / "out/take_48000-24.wav").info.samplerate, 48000);
    EXPECT_NEAR(readAudioFile(f.dir / "out/disc 2/6_48000-24.wav").frames(), 2205 * 7 * 48000 / 32000, 1);
    saveScreenshot(*f.batch, "batch-finished.png");

    // Again: Cancel in the question changes nothing; Skip leaves every existing output alone; a
    // cancelled run leaves the earlier files whole.
    f.answer = ExistingOutputsAnswer::cancel;
    click(f.batch->convertButton());
    EXPECT_EQ(f.status(0), "Saved take_48000-24.wav");
    f.answer = ExistingOutputsAnswer::skip;
    click(f.batch->convertButton());
    ASSERT_TRUE(waitUntil([&f] { return !f.batch->state().isConverting; }));
    EXPECT_EQ(f.status(0), "Skipped: take_48000-24.wav exists");
    EXPECT_EQ(f.batch->summaryLabel()->text(), "Saved 0 files, 11 skipped (gated-libsoxr)");
    const std::string before = fileBytes(f.dir / "out/take_48000-24.wav");
    f.answer = ExistingOutputsAnswer::replace;
    LibsoxrGate gate;
    f.startHeld();
    QTest::keyClick(f.batch->list(), Qt::Key_Escape);
    gate.open();
    conversionPool().waitForDone();
    EXPECT_EQ(f.status(0), "Cancelled");
    EXPECT_EQ(f.batch->summaryLabel()->text(), "Saved 0 files, 11 cancelled (gated-libsoxr)");
    EXPECT_EQ(fileBytes(f.dir / "out/take_48000-24.wav"), before);
    EXPECT_EQ(folderEntries(f.dir / "out").size(), 7u); // six files and "disc 2", no temporaries

    // Closed during a run: the run stops and the earlier file stays.
    LibsoxrGate again;
    f.startHeld();
    f.batch.reset();
    again.open();
    conversionPool().waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(fileBytes(f.dir / "out/take_48000-24.wav"), before);

    // Closed with a finished file's reports still queued (no events are processed while the pool
    // drains): they find no window.
    f.batch = std::make_unique<BatchView>();
    f.batch->addUrls({f.url("take.wav")});
    f.batch->setSaveFolder(f.url("late"));
    f.batch->convertAll();
    conversionPool().waitForDone();
    f.batch.reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(std::filesystem::exists(f.dir / "late/take_44100-16.wav"));
}

// Removing rows (Delete, Backspace, Remove) changes the selection, whose handler redraws the list: the redraw must not
// run while rows are being taken out (it deleted the same items again and crashed).
TEST(BatchWindow, RemovesTheLastRowsAllRowsAndClearsWithARowSelected)
{
    BatchFixture f;
    for (int i = 0; i < 10; ++i) f.batch->addUrls({f.audioFile(std::to_string(i) + ".wav", {44100, 1}, 10)});
    QTreeWidget* list = f.batch->list();
    list->topLevelItem(8)->setSelected(true);
    list->topLevelItem(9)->setSelected(true);
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_EQ(list->topLevelItemCount(), 8);
    EXPECT_EQ(f.row(7), "7.wav | 44.1 kHz | 24-bit integer | 0:00 | ");
    EXPECT_TRUE(list->selectedItems().isEmpty());
    list->topLevelItem(2)->setSelected(true);
    list->topLevelItem(5)->setSelected(true);
    QTest::keyClick(list, Qt::Key_Backspace);
    ASSERT_EQ(list->topLevelItemCount(), 6);
    EXPECT_EQ(f.row(2), "3.wav | 44.1 kHz | 24-bit integer | 0:00 | ");
    EXPECT_EQ(f.row(4), "6.wav | 44.1 kHz | 24-bit integer | 0:00 | ");
    list->selectAll();
    click(f.batch->removeButton());
    EXPECT_EQ(list->topLevelItemCount(), 0);
    for (int i = 0; i < 3; ++i) f.batch->addUrls({f.url(std::to_string(i) + ".wav")});
    list->topLevelItem(2)->setSelected(true);
    click(f.batch->clearButton());
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_FALSE(f.batch->removeButton()->isEnabled());
}

// A gapless album: rows put in order by Move Up/Move Down and by dragging, one that does not match
// the first file marked with Convert All waiting, then the files converted in list order as one stream.
TEST(BatchWindow, GaplessAlbumIsConvertedInListOrderAfterReordering)
{
    BatchFixture f;
    for (const auto name : {"1.wav", "2.wav", "3.wav"}) f.batch->addUrls({f.audioFile(name, {44100, 2}, 3001)});
    f.batch->addUrls({f.audioFile("mono.wav", {44100, 1}, 100)});
    f.batch->gaplessToggle()->click();
    EXPECT_EQ(f.status(3), "Not the album's sample rate and channels");
    EXPECT_EQ(f.batch->summaryLabel()->text(),
        "mono.wav has 44100 Hz, 1 channel; the album's first file has 44100 Hz, 2 channels.");
    EXPECT_FALSE(f.batch->convertButton()->isEnabled());
    QTreeWidget* list = f.batch->list();
    list->topLevelItem(3)->setSelected(true);
    click(f.batch->moveUpButton());
    EXPECT_TRUE(f.row(2).startsWith("mono.wav"));
    saveScreenshot(*f.batch, "batch-gapless.png");
    click(f.batch->removeButton());
    // 1.wav dragged below 3.wav: 2, 3, 1.
    list->setCurrentItem(list->topLevelItem(0));
    const QRect last = list->visualItemRect(list->topLevelItem(2));
    QMimeData rows;
    rows.setData("application/x-qabstractitemmodeldatalist", "row");
    const QPoint below(last.center().x(), last.bottom() - 1);
    QDragEnterEvent enter(below, Qt::MoveAction, &rows, Qt::LeftButton, {});
    QCoreApplication::sendEvent(list->viewport(), &enter);
    QDropEvent drop(below, Qt::MoveAction, &rows, Qt::LeftButton, {});
    QCoreApplication::sendEvent(list->viewport(), &drop);
    EXPECT_EQ(
        QStringList({f.row(0).left(5), f.row(1).left(5), f.row(2).left(5)}), QStringList({"2.wav", "3.wav", "1.wav"}));
    EXPECT_TRUE(f.batch->convertButton()->isEnabled());

    f.batch->setSaveFolder(f.url("out"));
    choose(f.batch->destinationSection()->sampleRatePicker(), TargetSampleRate::r48000);
    click(f.batch->convertButton());
    ASSERT_TRUE(waitUntil([&f] { return !f.batch->state().isConverting; }));
    // Three tracks of 68 ms are too short to be gated: their loudness is unknown.
    EXPECT_EQ(f.batch->summaryLabel()->text(),
        "Saved 3 files (" + QString::fromStdString(soxrVersionText()) + ") \u00b7 Album loudness \u2212\u221e LUFS");
    // Cut at round(3001 × k × 48000 / 44100): 3266, 6533, 9799.
    std::int64_t frames[3];
    for (int k = 0; k < 3; ++k)
        frames[k] = readAudioFile(f.dir / "out" / (std::to_string((k + 1) % 3 + 1) + "_48000-16.wav")).frames();
    EXPECT_EQ(std::vector<std::int64_t>(frames, frames + 3), (std::vector<std::int64_t>{3266, 3267, 3266}));
}

// Each saved file's loudness and true peak in its row, and the files heard together in the summary:
// two equally long files 6 dB apart are, together, the mean of their powers.
TEST(BatchWindow, RowsGiveEachOutputsLevelAndTheSummaryTheAlbumLoudness)
{
    BatchFixture f;
    for (const auto& [name, amplitude] : {std::pair{"loud.wav", 0.5}, std::pair{"quiet.wav", 0.25}}) {
        writeAudioFile(f.dir / name, {}, 88200, sine(997.0, 44100, amplitude));
        f.batch->addUrls({f.url(name)});
    }
    ConversionSettings settings;
    settings.format = OutputFormat::float32;
    f.batch->setSettings(settings);
    click(f.batch->convertButton());
    ASSERT_TRUE(waitUntil([&f] { return !f.batch->state().isConverting; }));
    double power = 0;
    for (int row = 0; row < 2; ++row) {
        const LevelFigures level = analyzeFile(f.batch->state().rows[row].output->toLocalFile().toStdString());
        power += std::pow(10.0, level.integratedLufs / 10.0) / 2;
        const QTreeWidgetItem* item = f.batch->list()->topLevelItem(row);
        EXPECT_EQ(item->text(BatchView::loudnessColumn), levelWithUnit(level.integratedLufs, "LUFS"));
        EXPECT_EQ(item->text(BatchView::truePeakColumn), levelWithUnit(level.truePeakDbtp, "dBTP"));
    }
    const QString summary = f.batch->summaryLabel()->text();
    const QString album = summary.section(" \u00b7 Album loudness \u2212", 1).section(' ', 0, 0);
    EXPECT_NEAR(-album.toDouble(), 10 * std::log10(power), 0.06) << summary.toStdString();
    saveScreenshot(*f.batch, "batch-levels.png");
}

} // namespace
} // namespace fennick::test
