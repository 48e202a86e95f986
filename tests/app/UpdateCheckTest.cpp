// The update check end to end against an HTTP server on loopback: fetch, parse, compare, and what the
// user is shown.

#include "Updater.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace fennick {
namespace {

// Answers every complete request with `status` and `body`, or never when there is no status.
void serve(QTcpServer& server, const char* status, const QByteArray& body, int& requests)
{
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost)) << server.errorString().toStdString();
    const QByteArray response = QByteArray("HTTP/1.1 ") + status
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    QObject::connect(&server, &QTcpServer::newConnection, [&server, status, response, &requests] {
        while (QTcpSocket* socket = server.nextPendingConnection())
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, status, response, &requests] {
                if (!socket->peek(socket->bytesAvailable()).contains("\r\n\r\n"))
                    return; // the request is not complete yet
                socket->readAll();
                ++requests;
                if (status) {
                    socket->write(response);
                    socket->disconnectFromHost();
                }
            });
    });
}

QByteArray appcast(const QByteArray& items)
{
    return R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)" + items
        + "</channel></rss>";
}

// What the user would be shown, as one line.
QString shownFor(const UpdateCheckOutcome& outcome)
{
    switch (outcome.kind) {
    case UpdateCheckOutcome::Kind::updateAvailable:
        return "update " + outcome.versionText + ' ' + outcome.releaseNotesLink.toString() + ' '
            + outcome.downloadLink.toString();
    case UpdateCheckOutcome::Kind::upToDate: return QStringLiteral("up to date");
    case UpdateCheckOutcome::Kind::failed: break;
    }
    return "failed: " + outcome.reason;
}

struct ServedCase {
    const char* name;
    const char* status; // null: the server never answers
    QByteArray body;
    const char* shown; // how the shown line begins
    bool listening = true;
    friend void PrintTo(const ServedCase& c, std::ostream* out) { *out << c.name; }
};

class UpdateCheckAgainstServer : public testing::TestWithParam<ServedCase> { };

TEST_P(UpdateCheckAgainstServer, ShowsWhatTheServerSays)
{
    const ServedCase& served = GetParam();
    QTcpServer server;
    int requests = 0;
    serve(server, served.status, served.body, requests);
    const QUrl feed(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server.serverPort()));
    if (!served.listening) server.close();
    Updater updater(feed, "1.2.0");
    QStringList shown;
    QObject::connect(
        &updater, &Updater::checkFinished, [&](const UpdateCheckOutcome& outcome) { shown << shownFor(outcome); });
    if (!served.status && served.listening) updater.setTimeout(std::chrono::milliseconds(300));
    updater.start();
    std::vector<bool> seen;
    QObject::connect(
        &updater, &Updater::canCheckForUpdatesChanged, [&] { seen.push_back(updater.canCheckForUpdates()); });

    updater.checkForUpdates();
    updater.checkForUpdates(); // ignored: one check at a time
    while (shown.isEmpty()) // the updater's own time-out ends every check
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith(served.shown)) << shown[0].toStdString();
    EXPECT_EQ(seen, (std::vector<bool>{false, true})) << "not disabled exactly while the check ran";
    EXPECT_EQ(requests, served.listening ? 1 : 0);
}

// 1.9.0 as elements, 1.10.0 on the enclosure: the newest is found by number, not by text or order.
const QByteArray newer = appcast(R"(
<item><sparkle:shortVersionString>1.9.0</sparkle:shortVersionString><link>https://example.org/1.9</link></item>
<item><sparkle:releaseNotesLink>https://example.org/notes/1.10.html</sparkle:releaseNotesLink>
  <enclosure url="https://example.org/fennick-1.10.0.tar.gz" sparkle:version="110"
             sparkle:shortVersionString="1.10.0"/></item>
<item><sparkle:version>0.9</sparkle:version><link>https://example.org/0.9</link></item>)");

INSTANTIATE_TEST_SUITE_P(Feeds, UpdateCheckAgainstServer,
    testing::Values(ServedCase{"newer", "200 OK", newer,
                        "update 1.10.0 https://example.org/notes/1.10.html https://example.org/fennick-1.10.0.tar.gz"},
        ServedCase{"same", "200 OK",
            appcast("<item><sparkle:version>1.2.0.0</sparkle:version><link>https://example.org/d</link></item>"),
            "up to date"},
        ServedCase{"malformed", "200 OK", "<rss><channel><item>", "failed: The update feed is not valid XML"},
        // Neither a numeric version nor a web download link makes a release.
        ServedCase{"noUsableRelease", "200 OK",
            appcast("<item><sparkle:version>1.3 beta</sparkle:version><link>https://example.org/d</link></item>"
                    "<item><sparkle:version>1.4</sparkle:version><link>file:///etc/passwd</link></item>"),
            "failed: The update feed lists no release"},
        ServedCase{
            "notFound", "404 Not Found", "gone", "failed: The update server answered with an error (404 Not Found)."},
        ServedCase{"silent", nullptr, {}, "failed: The update server did not answer in time."},
        ServedCase{"absent", nullptr, {}, "failed: Fennick could not reach the update server: ", false}),
    [](const testing::TestParamInfo<ServedCase>& info) { return std::string(info.param.name); });

TEST(UpdateCheck, IsNeverPossibleWithoutAFeed)
{
    Updater updater(QUrl(), "1.2.0");
    updater.start();
    EXPECT_FALSE(updater.canCheckForUpdates());
}

} // namespace
} // namespace fennick
