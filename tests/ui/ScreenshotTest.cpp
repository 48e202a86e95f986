// Pictures of the window at its default size for review, written to <build>/screenshots:
// without a file, with a file loaded, during a run and after it.

#include "UiTestSupport.h"

#include <QDir>
#include <QPixmap>

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

TEST(Screenshot, WithoutAFileWithAFileAndAfterARun)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ViewFixture f;
    save(*f.view, "content-no-file.png");
    f.view->loadSourceFile(f.audioFile("Field Recording 07.wav", {}, 96000));
    save(*f.view, "content-file-loaded.png");
    convertTo(*f.view, f.url("Field Recording 07_44100-16.wav"));
    save(*f.view, "content-finished.png");
}

TEST(Screenshot, DuringARun)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ViewFixture f;
    LibsoxrGate gate; // holds the run at its first block, with the bar showing
    f.view->loadSourceFile(f.audioFile("Field Recording 07.wav", {}, 300000));
    startRun(*f.view, f.url("out.wav"));
    save(*f.view, "content-converting.png");
    gate.open();
    ASSERT_TRUE(runEnded(*f.view));
}

} // namespace
} // namespace fennick::test
