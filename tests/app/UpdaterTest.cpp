// The update check end to end against an HTTP server on loopback (fetch, parse, compare, what the
// user is shown), and the "Check for Updates…" command and its model: values cross from any thread
// to the main thread by posts, and only the posts decide what the menu shows.

#include "Updater.h"
#include "CheckForUpdatesView.h"
#include "UpdaterViewModel.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace fennick {
namespace {

QByteArray appcast(const QByteArray& items)
{
    return R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)" + items
        + "</channel></rss>";
}

// 1.9.0 as elements, 1.10.0 on the enclosure: the newest is found by number, not by text or order.
const QByteArray kNewer = appcast(R"(
<item><sparkle:shortVersionString>1.9.0</sparkle:shortVersionString><link>https://example.org/1.9</link></item>
<item><sparkle:releaseNotesLink>https://example.org/notes/1.10.html</sparkle:releaseNotesLink>
  <enclosure url="https://example.org/fennick-1.10.0.tar.gz" sparkle:version="110"
             sparkle:shortVersionString="1.10.0"/></item>
<item><sparkle:version>0.9</sparkle:version><link>https://example.org/0.9</link></item>)");

TEST(UpdateCheck, ShowsWhatTheServerSaysAndIsDisabledExactlyWhileItRuns)
{
    struct Served {
        const char* status; // null: the server never answers
        QByteArray body;
        const char* shown; // how the outcome begins
    };
    const Served cases[] = {
        {"200 OK", kNewer,
            "update 1.10.0 https://example.org/notes/1.10.html https://example.org/fennick-1.10.0.tar.gz"},
        {"200 OK", appcast("<item><sparkle:version>1.2.0.0</sparkle:version><link>https://example.org/d</link></item>"),
            "up to date"},
        {"200 OK", "<rss><channel><item>", "failed: The update feed is not valid XML"},
        // Neither a numeric version nor a web download link makes a release.
        {"200 OK",
            appcast("<item><sparkle:version>1.3 beta</sparkle:version><link>https://example.org/d</link></item>"
                    "<item><sparkle:version>1.4</sparkle:version><link>file:///etc/passwd</link></item>"),
            "failed: The update feed lists no release"},
        {"404 Not Found", "gone", "failed: The update server answered with an error (404 Not Found)."},
        {nullptr, {}, "failed: The update server did not answer in time."}};
    for (const Served& served : cases) {
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        int requests = 0;
        const QByteArray response = QByteArray("HTTP/1.1 ") + served.status + "\r\nContent-Length: "
            + QByteArray::number(served.body.size()) + "\r\nConnection: close\r\n\r\n" + served.body;
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                    if (!socket->peek(socket->bytesAvailable()).contains("\r\n\r\n")) return; // not complete yet
                    socket->readAll();
                    ++requests;
                    if (served.status) socket->write(response), socket->disconnectFromHost();
                });
            }
        });
        const QUrl feed(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server.serverPort()));

        Updater updater(feed, "1.2.0");
        if (!served.status) updater.setTimeout(std::chrono::milliseconds(300));
        QStringList shown;
        QObject::connect(&updater, &Updater::checkFinished, [&](const UpdateCheckOutcome& o) {
            using Kind = UpdateCheckOutcome::Kind;
            shown << (o.kind == Kind::updateAvailable
                    ? "update " + o.versionText + ' ' + o.releaseNotesLink.toString() + ' ' + o.downloadLink.toString()
                    : o.kind == Kind::upToDate ? QStringLiteral("up to date")
                                               : "failed: " + o.reason);
        });
        std::vector<bool> seen;
        QObject::connect(
            &updater, &Updater::canCheckForUpdatesChanged, [&] { seen.push_back(updater.canCheckForUpdates()); });
        updater.start();
        updater.checkForUpdates();
        updater.checkForUpdates(); // ignored: one check at a time
        while (shown.isEmpty()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); // a time-out ends it

        ASSERT_EQ(shown.size(), 1);
        EXPECT_TRUE(shown[0].startsWith(served.shown)) << shown[0].toStdString();
        EXPECT_EQ(seen, (std::vector<bool>{true, false, true})) << served.shown;
        EXPECT_EQ(requests, 1);
    }
    Updater withoutFeed(QUrl(), "1.2.0");
    withoutFeed.start();
    EXPECT_FALSE(withoutFeed.canCheckForUpdates());
}

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
