// The "Check for Updates…" command and its model: values cross from any thread to the main thread by
// posts, and only the posts decide what the menu shows.

#include "CheckForUpdatesView.h"
#include "Updater.h"
#include "UpdaterViewModel.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace fennick {
namespace {

// The real updater changes its flag only when a check starts or ends; this one lets a test change it on
// demand, from any thread.
class ScriptedUpdater final : public Updater {
public:
    using Updater::setCanCheckForUpdates;
    void checkForUpdates() override { ++checks; }
    bool isObserved() const
    {
        return isSignalConnected(QMetaMethod::fromSignal(&Updater::canCheckForUpdatesChanged));
    }
    int checks = 0;
};

void runPostedTasks()
{
    QCoreApplication::sendPostedEvents();
}

TEST(CheckForUpdatesView, IsDisabledUntilTheFirstPostedValueArrives)
{
    ScriptedUpdater updater;
    updater.setCanCheckForUpdates(true);
    CheckForUpdatesView command(updater);
    EXPECT_EQ(command.text(), QStringLiteral("Check for Updates\u2026"));
    EXPECT_FALSE(command.isEnabled());
    EXPECT_FALSE(command.model().canCheckForUpdates());

    runPostedTasks();
    EXPECT_TRUE(command.isEnabled());
    command.trigger();
    EXPECT_EQ(updater.checks, 1);
}

struct Sequence {
    const char* name;
    std::vector<bool> values;
    bool postsRunAfterEachValue;
    bool fromAnotherThread;
    friend void PrintTo(const Sequence& c, std::ostream* out) { *out << c.name; }
};

class CheckForUpdatesViewFollows : public testing::TestWithParam<Sequence> {};

TEST_P(CheckForUpdatesViewFollows, TheLastValueSetOnTheUpdater)
{
    const Sequence& sequence = GetParam();
    ScriptedUpdater updater;
    CheckForUpdatesView command(updater);
    runPostedTasks();
    std::vector<QThread*> writers;
    QObject::connect(&command.model(), &UpdaterViewModel::canCheckForUpdatesChanged,
        [&writers](bool) { writers.push_back(QThread::currentThread()); });

    for (bool value : sequence.values) {
        if (sequence.fromAnotherThread) {
            const bool before = command.model().canCheckForUpdates();
            std::thread([&updater, value] { updater.setCanCheckForUpdates(value); }).join();
            // Nothing reaches the model except through the main thread's queue.
            EXPECT_EQ(command.model().canCheckForUpdates(), before);
        } else {
            updater.setCanCheckForUpdates(value);
        }
        if (sequence.postsRunAfterEachValue) {
            runPostedTasks();
            EXPECT_EQ(command.isEnabled(), value);
        }
    }
    runPostedTasks();
    EXPECT_EQ(command.model().canCheckForUpdates(), sequence.values.back());
    EXPECT_EQ(command.isEnabled(), sequence.values.back());
    for (QThread* writer : writers)
        EXPECT_EQ(writer, QCoreApplication::instance()->thread());
}

INSTANTIATE_TEST_SUITE_P(Sequences, CheckForUpdatesViewFollows,
    testing::Values(Sequence{"oneByOne", {true, false, true, false}, true, false},
        Sequence{"trueThenFalseAtOnce", {true, false}, false, false},
        Sequence{"oneByOneFromAnotherThread", {true, false, true}, true, true},
        Sequence{"trueThenFalseAtOnceFromAnotherThread", {true, false}, false, true}),
    [](const testing::TestParamInfo<Sequence>& info) { return std::string(info.param.name); });

TEST(UpdaterViewModel, DeliveringTheValueItHoldsChangesNothingVisible)
{
    ScriptedUpdater updater;
    updater.setCanCheckForUpdates(true);
    CheckForUpdatesView command(updater);
    runPostedTasks();
    ASSERT_TRUE(command.isEnabled());

    int modelChanges = 0;
    int commandChanges = 0;
    QObject::connect(&command.model(), &UpdaterViewModel::canCheckForUpdatesChanged, [&](bool) { ++modelChanges; });
    QObject::connect(&command, &QAction::changed, [&] { ++commandChanges; });
    // The same value notified twice, as an observation may do.
    emit updater.canCheckForUpdatesChanged();
    emit updater.canCheckForUpdatesChanged();
    runPostedTasks();

    EXPECT_EQ(modelChanges, 0);
    EXPECT_EQ(commandChanges, 0);
    EXPECT_TRUE(command.isEnabled());
}

TEST(UpdaterViewModel, NotificationsAfterTheModelIsGoneAreDropped)
{
    ScriptedUpdater updater;
    auto model = std::make_unique<UpdaterViewModel>(updater);
    updater.setCanCheckForUpdates(true); // posted, still queued when the model goes
    model.reset();
    std::thread([&updater] { updater.setCanCheckForUpdates(false); }).join();
    runPostedTasks();

    // The observation ended with the model: the updater has no one left to notify.
    EXPECT_FALSE(updater.isObserved());
}

} // namespace
} // namespace fennick
