// The "Check for Updates…" command and its model: values cross from any thread to the main thread
// by posts, and only the posts decide what the menu shows.

#include "UpdaterViewModel.h"
#include "CheckForUpdatesView.h"
#include "Updater.h"

#include <QCoreApplication>
#include <QMetaMethod>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace fennick {
namespace {

// The real updater changes its flag only when a check starts or ends; this one on demand.
class ScriptedUpdater final : public Updater {
public:
    ScriptedUpdater() : Updater(QUrl(), QStringLiteral("1.0")) { }
    void checkForUpdates() override { ++checks; }
    void setFromAnotherThread(bool value)
    {
        std::thread([this, value] { setCanCheckForUpdates(value); }).join();
    }
    bool isObserved() const { return isSignalConnected(QMetaMethod::fromSignal(&Updater::canCheckForUpdatesChanged)); }
    int checks = 0;
};

TEST(CheckForUpdatesView, FollowsTheUpdaterThroughMainThreadPostsOnly)
{
    ScriptedUpdater updater;
    updater.setFromAnotherThread(true);
    CheckForUpdatesView command(updater);
    EXPECT_FALSE(command.isEnabled()) << "enabled before the first posted value arrived";
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(command.isEnabled());
    command.trigger();
    EXPECT_EQ(updater.checks, 1);

    int changes = 0;
    QObject::connect(&command.model(), &UpdaterViewModel::canCheckForUpdatesChanged, [&] { ++changes; });
    emit updater.canCheckForUpdatesChanged(); // the value it holds, notified again
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(changes, 0);

    for (bool value : {false, true, false}) {
        updater.setFromAnotherThread(value);
        EXPECT_EQ(command.model().canCheckForUpdates(), !value) << "written before the main thread ran its posts";
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(command.isEnabled(), value);
    }
    // True then false before the posts run: the later value wins.
    updater.setFromAnotherThread(true);
    updater.setFromAnotherThread(false);
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(command.isEnabled());
}

TEST(UpdaterViewModel, NotificationsAfterTheModelIsGoneAreDropped)
{
    ScriptedUpdater updater;
    auto model = std::make_unique<UpdaterViewModel>(updater); // posts its first value, still queued below
    model.reset();
    updater.setFromAnotherThread(true);
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(updater.isObserved()) << "the observation outlived the model";
}

} // namespace
} // namespace fennick
