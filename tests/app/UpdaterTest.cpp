// One update check end to end, from the window's "Check for Updates…" command through an HTTP server
// on loopback to the outcome; what the feed itself says is AppcastTest's.

#include "Updater.h"
#include "MainWindow.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace fennick {
namespace {

QAction* checkForUpdatesCommand(const MainWindow& window)
{
    for (QAction* action : window.findChildren<QAction*>())
        if (action->text() == QStringLiteral("Check for Updates\u2026")) return action;
    return nullptr;
}

TEST(Updater, FetchesTheFeedOnceAndDisablesTheCommandExactlyWhileItRuns)
{
    struct Served {
        const char* status; // null: the server never answers
        QByteArray body;
        const char* concluded; // how the outcome begins
    };
    const Served cases[]
        = {{"200 OK",
               R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item>
                 <sparkle:version>1.10</sparkle:version><link>https://example.org/d</link></item></channel></rss>)",
               "update 1.10 https://example.org/d"},
            {"404 Not Found", "gone", "failed: The update server answered with an error (404 Not Found)."},
            {nullptr, {}, "failed: The update server did not answer in time."}};

    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const Served* served = nullptr;
    int requests = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                if (!socket->peek(socket->bytesAvailable()).contains("\r\n\r\n")) return; // not complete yet
                socket->readAll();
                ++requests;
                if (!served->status) return;
                socket->write(QByteArray("HTTP/1.1 ") + served->status + "\r\nContent-Length: "
                    + QByteArray::number(served->body.size()) + "\r\nConnection: close\r\n\r\n" + served->body);
                socket->disconnectFromHost();
            });
        }
    });
    Updater updater(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server.serverPort())), "1.2.0");
    QStringList concluded;
    QObject::connect(&updater, &Updater::checkFinished, [&](const UpdateCheckOutcome& o) {
        concluded << (o.kind == UpdateCheckOutcome::Kind::updateAvailable
                ? "update " + o.versionText + ' ' + o.downloadLink.toString()
                : "failed: " + o.reason);
    });
    MainWindow window(updater);
    QAction* command = checkForUpdatesCommand(window);
    ASSERT_TRUE(command);
    EXPECT_FALSE(command->isEnabled()) << "enabled before the updater started";
    updater.start();

    for (const Served& c : cases) {
        served = &c;
        requests = 0;
        concluded.clear();
        if (!c.status) updater.setTimeout(std::chrono::milliseconds(300));
        std::vector<bool> enabled; // the command, each time the updater's flag changes
        const auto watch = QObject::connect(
            &updater, &Updater::canCheckForUpdatesChanged, [&] { enabled.push_back(command->isEnabled()); });
        ASSERT_TRUE(command->isEnabled());
        command->trigger();
        updater.checkForUpdates(); // ignored: one check at a time
        while (concluded.isEmpty()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QObject::disconnect(watch);

        ASSERT_EQ(concluded.size(), 1);
        EXPECT_TRUE(concluded[0].startsWith(c.concluded)) << concluded[0].toStdString();
        EXPECT_EQ(enabled, (std::vector<bool>{false, true})) << c.concluded;
        EXPECT_EQ(requests, 1) << c.concluded;
    }

    Updater withoutFeed(QUrl(), "1.2.0");
    withoutFeed.start();
    EXPECT_FALSE(withoutFeed.canCheckForUpdates());
    EXPECT_FALSE(checkForUpdatesCommand(MainWindow(withoutFeed))->isEnabled());
}

} // namespace
} // namespace fennick
