// Pictures of the window at its default size for review: without a file, with a file loaded,
// and after a finished run. Written to <build>/screenshots.

#include "UiTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>

#include <gtest/gtest.h>

namespace fennick::test {
namespace {

void save(ContentView& view, const char* name)
{
    QDir().mkpath(QStringLiteral(FENNICK_SCREENSHOT_DIR));
    const QString path = QStringLiteral(FENNICK_SCREENSHOT_DIR "/") + QString::fromLatin1(name);
    // Let the layout settle first, as it has by the time anyone looks at a real window.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    const QPixmap picture = view.grab();
    EXPECT_EQ(picture.size() / picture.devicePixelRatio(), QSize(560, 880));
    EXPECT_TRUE(picture.save(path)) << path.toStdString();
}

TEST(Screenshot, DefaultSizeWithoutAFileWithAFileAndAfterARun)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ViewFixture f;
    save(*f.view, "content-no-file.png");
    f.view->loadSourceFile(f.audioFile("Field Recording 07.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 96000));
    save(*f.view, "content-file-loaded.png");
    convertTo(*f.view, f.url("Field Recording 07_44100-16.wav"));
    save(*f.view, "content-finished.png");
}

TEST(Screenshot, DuringARun)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    GatedLibsoxr libsoxr;
    ASSERT_TRUE(libsoxr.loaded());
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("Field Recording 07.wav", {44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24}, 300000));
    f.view->setSaveFileChooser([&](QWidget*, const QString&) { return std::optional<QUrl>(f.url("out.wav")); });
    // Hold the run at its first block, with the bar showing.
    libsoxr.shut();
    f.view->startConversion();
    save(*f.view, "content-converting.png");
    libsoxr.open();
    ASSERT_TRUE(waitUntil([&] { return !f.view->isConverting(); }));
}

} // namespace
} // namespace fennick::test
