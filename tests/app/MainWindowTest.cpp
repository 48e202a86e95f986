// The application's windows as a user meets them: size, menus, and windows that do not share state.

#include "CheckForUpdatesView.h"
#include "ContentView.h"
#include "FennickApp.h"
#include "MainWindow.h"
#include "TestAudio.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

#include <gtest/gtest.h>

namespace fennick {
namespace {

struct MenuItem {
    QString text;
    QKeySequence shortcut;
    bool operator==(const MenuItem&) const = default;
};

void PrintTo(const MenuItem& item, std::ostream* out)
{
    *out << '"' << item.text.toStdString() << "\" " << item.shortcut.toString().toStdString();
}

std::vector<MenuItem> itemsOf(const QAction* menuAction)
{
    std::vector<MenuItem> items;
    for (const QAction* action : menuAction->menu()->actions())
        items.push_back({action->isSeparator() ? QStringLiteral("---") : action->text(), action->shortcut()});
    return items;
}

QAction* itemNamed(const MainWindow& window, const QString& text)
{
    for (QAction* menu : window.menuBar()->actions())
        for (QAction* action : menu->menu()->actions())
            if (action->text() == text)
                return action;
    return nullptr;
}

bool showsText(const QWidget& widget, const QString& text)
{
    for (const QLabel* label : widget.findChildren<QLabel*>())
        if (label->isVisibleTo(&widget) && label->text() == text)
            return true;
    return false;
}

void runPostedTasks()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MainWindow, OpensAtTheDefaultContentSizeWithTheFennickMenus)
{
    FennickApp app;
    MainWindow* window = app.newWindow();
    runPostedTasks();

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Fennick"));
    EXPECT_EQ(window->centralWidget(), &window->contentView());
    EXPECT_EQ(window->centralWidget()->size(), QSize(560, 880));
    EXPECT_FALSE(QApplication::windowIcon().isNull()) << "the SVG icon did not load";

    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(itemsOf(menus[0]), (std::vector<MenuItem>{{"New Window", QKeySequence("Ctrl+N")},
                                     {"Close Window", QKeySequence("Ctrl+W")}, {"---", {}},
                                     {"Quit", QKeySequence("Ctrl+Q")}}));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("&Help"));
    EXPECT_EQ(itemsOf(menus[1]),
        (std::vector<MenuItem>{{"About Fennick", {}}, {QStringLiteral("Check for Updates\u2026"), {}}}));

    // This build has no update feed unless one was configured; the command follows the updater.
    const auto* command = qobject_cast<CheckForUpdatesView*>(menus[1]->menu()->actions().at(1));
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->isEnabled(), app.updaterController().updater().canCheckForUpdates());
}

TEST(MainWindow, NewWindowHasItsOwnContentAndClosesAlone)
{
    test::TempDir folder;
    test::writeAudioFile(folder / "take.wav", {}, 4410, test::sine(440, 44100));

    FennickApp app;
    QPointer<MainWindow> first = app.newWindow();
    itemNamed(*first, "New Window")->trigger();
    QPointer<MainWindow> second;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<MainWindow*>(widget); window && window != first)
            second = window;
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->isVisible());
    EXPECT_NE(&second->contentView(), &first->contentView());

    first->contentView().loadSourceFile(QUrl::fromLocalFile(QString::fromStdString((folder / "take.wav").string())));
    runPostedTasks();
    EXPECT_TRUE(showsText(first->contentView(), "take.wav"));
    EXPECT_FALSE(showsText(second->contentView(), "take.wav"));

    itemNamed(*second, "Close Window")->trigger();
    runPostedTasks();
    EXPECT_FALSE(second);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
}

} // namespace
} // namespace fennick
