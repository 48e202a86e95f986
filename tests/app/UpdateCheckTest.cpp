// The update check end to end against an HTTP server on loopback: fetch, parse, compare, and what the
// user is shown.

#include "Updater.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

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
        bool listening = true;
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
        {nullptr, {}, "failed: The update server did not answer in time."},
        {nullptr, {}, "failed: Fennick could not reach the update server: ", false}};
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
        if (!served.listening) server.close();

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
        EXPECT_EQ(requests, served.listening ? 1 : 0);
    }
    Updater withoutFeed(QUrl(), "1.2.0");
    withoutFeed.start();
    EXPECT_FALSE(withoutFeed.canCheckForUpdates());
}

} // namespace
} // namespace fennick
