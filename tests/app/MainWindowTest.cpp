// The application's windows as a user meets them: size, menus, and windows that do not share state.

#include "MainWindow.h"
#include "BatchView.h"
#include "BatchWindow.h"
#include "ContentView.h"
#include "ConversionJob.h"
#include "FennickApp.h"
#include "TestAudio.h"
#include "WindowMenus.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

namespace fennick {
namespace {

// Each menu as one line: "&File: New Window Ctrl+N | … | Quit Ctrl+Q", separators as "---".
QStringList menusOf(const QMainWindow& window)
{
    QStringList menus;
    for (const QAction* menu : window.menuBar()->actions()) {
        QStringList items;
        for (const QAction* action : menu->menu()->actions())
            items << (action->isSeparator() ? "---" : (action->text() + ' ' + action->shortcut().toString()).trimmed());
        menus << menu->text() + ": " + items.join(" | ");
    }
    return menus;
}

// Triggers a menu item as a click on it would.
void triggerItem(const QMainWindow& window, const QString& text)
{
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == text) action->trigger();
}

// The first window, and New Window's: each with its own content, closing alone. For the window's
// life, the save dialog opens where its last successful conversion went, else beside the source.
TEST(MainWindow, OpensAtTheDefaultContentSizeWithTheFennickMenusAndNewWindowsOfItsOwn)
{
    test::TempDir folder;
    std::filesystem::create_directory(folder / "out");
    test::writeAudioFile(folder / "take.wav", {}, 4410, test::sine(440, 44100));
    const auto path = [&](const char* name) { return (folder / name).string(); };
    const auto url = [&](const char* name) { return QUrl::fromLocalFile(QString::fromStdString(path(name))); };
    // The user's own settings stay out of it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(folder / "settings"));
    FennickApp app;
    QPointer<MainWindow> first = app.newWindow();
    EXPECT_EQ(first->windowTitle(), "Fennick");
    // The default size, on this 800×600 screen no taller than the room it leaves.
    EXPECT_EQ(first->centralWidget()->width(), 560);
    EXPECT_LE(first->height(), first->screen()->availableSize().height() - kTitleBarAllowance);
    EXPECT_FALSE(QApplication::windowIcon().isNull()) << "the SVG icon did not load";
    EXPECT_EQ(menusOf(*first),
        QStringList(
            {QStringLiteral(
                 "&File: Open\u2026 Ctrl+O | New Window Ctrl+N | Convert Several Files\u2026 Ctrl+Shift+N | Close "
                 "Window Ctrl+W | --- | Quit Ctrl+Q"),
                QStringLiteral("&Help: About Fennick | Check for Updates\u2026")}));

    // Convert Several Files… opens a batch window with the same menus, whose own New Window opens a
    // main window.
    triggerItem(*first, QStringLiteral("Convert Several Files\u2026"));
    QPointer<BatchWindow> batch;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<BatchWindow*>(widget)) batch = window;
    ASSERT_TRUE(batch && batch->isVisible());
    EXPECT_EQ(batch->windowTitle(), "Convert Several Files — Fennick");
    EXPECT_EQ(batch->centralWidget(), &batch->batchView());
    EXPECT_LE(batch->height(), batch->screen()->availableSize().height() - kTitleBarAllowance);
    // Both fit a 1024×600 screen, title bar included.
    for (const QMainWindow* window : {static_cast<QMainWindow*>(first), static_cast<QMainWindow*>(batch)}) {
        const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize());
        EXPECT_TRUE(least.width() <= 1024 && least.height() <= 600 - kTitleBarAllowance)
            << least.width() << "x" << least.height();
    }
    EXPECT_EQ(menusOf(*batch).join('\n'), menusOf(*first).join('\n').remove("Open\u2026 Ctrl+O | "));
    triggerItem(*batch, "Close Window");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(batch);

    // Kept for the next window, and the batch window opened from this one starts from them.
    ConversionSettings chosen{96000, OutputFormat::float32, {}};
    chosen.options.phase = ConversionOptions::Phase::minimum;
    first->contentView().setSettings(chosen);
    triggerItem(*first, QStringLiteral("Convert Several Files\u2026"));
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<BatchWindow*>(widget)) {
            EXPECT_EQ(window->batchView().state().settings, chosen);
        }
    }
    triggerItem(*first, "New Window");
    QPointer<MainWindow> second;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<MainWindow*>(widget); window && window != first) second = window;
    ASSERT_TRUE(second && second->isVisible());
    EXPECT_EQ(second->contentView().state().settings, chosen);
    first->contentView().setSettings({});
    // Ctrl+O is the open dialog.
    first->contentView().setOpenFileChooser([&](QWidget*) -> OpenResult { return url("take.wav"); });
    first->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(first));
    QTest::keyClick(first, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(first->windowTitle(), "take.wav — Fennick");
    // The open dialog starts beside the source, and in a window without one beside the last source.
    for (const MainWindow* window : {first.data(), second.data()})
        EXPECT_EQ(window->openDialogFolder().toStdString(), folder.path().string());
    EXPECT_TRUE(first->contentView().state().hasSource() && !second->contentView().state().hasSource());
    triggerItem(*second, "Close Window");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(second);
    EXPECT_TRUE(first && first->isVisible());

    std::vector<std::string> asked;
    first->setSaveDialog([&](QWidget*, const QString& suggested) {
        asked.push_back(suggested.toStdString());
        return url(asked.size() == 2 ? "missing/b.wav" : "out/a.wav");
    });
    for (int run = 0; run < 3; ++run) { // saved, failed, saved
        first->contentView().startConversion();
        conversionPool().waitForDone();
        QCoreApplication::sendPostedEvents(); // the run's reports
    }
    // A source from another folder: beside it, not where the other folder's outputs went.
    std::filesystem::create_directory(folder / "b");
    test::writeAudioFile(folder / "b/song.wav", {}, 4410, test::sine(440, 44100));
    first->contentView().loadSourceFile(url("b/song.wav"));
    first->contentView().startConversion();
    conversionPool().waitForDone();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(asked,
        std::vector({path("take_44100-16.wav"), path("out/take_44100-16.wav"), path("out/take_44100-16.wav"),
            path("b/song_44100-16.wav")}));
}

} // namespace
} // namespace fennick
