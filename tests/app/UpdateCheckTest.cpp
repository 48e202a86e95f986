// The update check end to end against an HTTP server on loopback: fetch, parse, compare, and what the
// user is shown.

#include "AppcastFeed.h"
#include "AppcastUpdater.h"
#include "LoopbackHttpServer.h"
#include "UpdatePresenter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace fennick {
namespace {

using test::LoopbackHttpServer;
using namespace std::chrono_literals;

enum class Shown { updateAvailable, upToDate, checkFailed };

struct Outcome {
    Shown shown;
    QString text; // the new version, the current version, or the reason
    QUrl releaseNotesLink;
    QUrl downloadLink;
};

class RecordingPresenter final : public UpdatePresenter {
public:
    void showUpdateAvailable(const AppcastItem& newest, const QString&) override
    {
        record({Shown::updateAvailable, newest.versionText, newest.releaseNotesLink, newest.downloadLink});
    }
    void showUpToDate(const QString& currentVersion) override { record({Shown::upToDate, currentVersion, {}, {}}); }
    void showCheckFailed(const QString& reason) override { record({Shown::checkFailed, reason, {}, {}}); }

    std::vector<Outcome> outcomes;
    std::function<void()> onOutcome;

private:
    void record(Outcome outcome)
    {
        outcomes.push_back(std::move(outcome));
        if (onOutcome)
            onOutcome();
    }
};

QByteArray appcast(const QByteArray& items)
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Fennick</title>)" + items + "</channel></rss>\n";
}

// Version 1.9.0 as elements, 1.10.0 on the enclosure: the newest is found by number, not by text or order.
const QByteArray newerFeed = appcast(R"(
<item><title>1.9</title><sparkle:shortVersionString>1.9.0</sparkle:shortVersionString>
  <sparkle:releaseNotesLink>https://example.org/notes/1.9.html</sparkle:releaseNotesLink>
  <link>https://example.org/download/1.9</link></item>
<item><title>1.10</title>
  <sparkle:releaseNotesLink>https://example.org/notes/1.10.html</sparkle:releaseNotesLink>
  <enclosure url="https://example.org/fennick-1.10.0.tar.gz" sparkle:version="110" sparkle:shortVersionString="1.10.0" length="1" type="application/octet-stream"/></item>
<item><title>0.9</title><sparkle:version>0.9</sparkle:version><link>https://example.org/download/0.9</link></item>)");

const QByteArray sameVersionFeed = appcast(R"(
<item><sparkle:version>1.2</sparkle:version><link>https://example.org/download/1.2</link></item>
<item><sparkle:version>1.1.7</sparkle:version><link>https://example.org/download/1.1.7</link></item>)");

constexpr char currentVersion[] = "1.2.0";

// Runs one check to its end; the guard only keeps a broken check from hanging the test run.
std::vector<Outcome> check(AppcastUpdater& updater, RecordingPresenter& presenter)
{
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    presenter.onOutcome = [&loop] { loop.quit(); };
    updater.checkForUpdates();
    guard.start(60s);
    if (presenter.outcomes.empty())
        loop.exec();
    presenter.onOutcome = nullptr;
    return presenter.outcomes;
}

struct ServedCase {
    const char* name;
    int status;
    QByteArray body;
    Shown shown;
    QString text;
    friend void PrintTo(const ServedCase& c, std::ostream* out) { *out << c.name; }
};

class UpdateCheckAgainstServer : public testing::TestWithParam<ServedCase> {};

TEST_P(UpdateCheckAgainstServer, ShowsWhatTheFeedSays)
{
    const ServedCase& served = GetParam();
    auto server = LoopbackHttpServer::answering(served.status, served.body);
    RecordingPresenter presenter;
    AppcastUpdater updater(server->url(), currentVersion, presenter);
    updater.start();
    ASSERT_TRUE(updater.canCheckForUpdates());

    const std::vector<Outcome> outcomes = check(updater, presenter);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].shown, served.shown) << outcomes[0].text.toStdString();
    EXPECT_TRUE(outcomes[0].text.contains(served.text)) << outcomes[0].text.toStdString();
    if (served.shown == Shown::updateAvailable) {
        EXPECT_EQ(outcomes[0].releaseNotesLink, QUrl("https://example.org/notes/1.10.html"));
        EXPECT_EQ(outcomes[0].downloadLink, QUrl("https://example.org/fennick-1.10.0.tar.gz"));
    }
    EXPECT_EQ(server->requestLines(), QList<QByteArray>{"GET /appcast.xml HTTP/1.1"});
    EXPECT_TRUE(updater.canCheckForUpdates());
}

INSTANTIATE_TEST_SUITE_P(Feeds, UpdateCheckAgainstServer,
    testing::Values(ServedCase{"newer", 200, newerFeed, Shown::updateAvailable, "1.10.0"},
        ServedCase{"same", 200, sameVersionFeed, Shown::upToDate, currentVersion},
        ServedCase{"malformed", 200, "<rss><channel><item>", Shown::checkFailed,
            "The update feed is not valid XML"},
        ServedCase{"notFound", 404, "gone", Shown::checkFailed,
            "The update server answered with an error (404 Not Found)."}),
    [](const testing::TestParamInfo<ServedCase>& info) { return std::string(info.param.name); });

TEST(UpdateCheck, IsNotPossibleWhileACheckRunsAndEndsWhenTheServerDoesNotAnswer)
{
    auto server = LoopbackHttpServer::silent();
    RecordingPresenter presenter;
    AppcastUpdater updater(server->url(), currentVersion, presenter);
    updater.setTimeout(300ms);
    updater.start();
    std::vector<bool> seen;
    QObject::connect(&updater, &Updater::canCheckForUpdatesChanged,
        [&] { seen.push_back(updater.canCheckForUpdates()); });

    updater.checkForUpdates();
    EXPECT_FALSE(updater.canCheckForUpdates());
    updater.checkForUpdates(); // ignored: one check at a time

    const std::vector<Outcome> outcomes = check(updater, presenter);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].shown, Shown::checkFailed);
    EXPECT_EQ(outcomes[0].text, QStringLiteral("The update server did not answer in time."));
    EXPECT_EQ(server->requestLines().size(), 1);
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
}

TEST(UpdateCheck, UnreachableServerIsReportedInWords)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    RecordingPresenter presenter;
    AppcastUpdater updater(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(closedPort)),
        currentVersion, presenter);
    updater.start();
    const std::vector<Outcome> outcomes = check(updater, presenter);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].shown, Shown::checkFailed);
    EXPECT_TRUE(outcomes[0].text.startsWith("Fennick could not reach the update server: ")) << outcomes[0].text.toStdString();
}

TEST(UpdateCheck, IsNeverPossibleWithoutAFeed)
{
    RecordingPresenter presenter;
    AppcastUpdater updater(QUrl(), currentVersion, presenter);
    updater.start();
    EXPECT_FALSE(updater.canCheckForUpdates());
    updater.checkForUpdates();
    QCoreApplication::processEvents();
    EXPECT_TRUE(presenter.outcomes.empty());
}

// Feeds that must be refused with a reason, never taken for "up to date".
struct MalformedCase {
    const char* name;
    QByteArray bytes;
    const char* reason; // how the reason begins
    friend void PrintTo(const MalformedCase& c, std::ostream* out) { *out << c.name; }
};

class MalformedAppcast : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedAppcast, IsRefusedWithAReason)
{
    const MalformedCase& malformed = GetParam();
    try {
        parseAppcast(malformed.bytes);
        FAIL() << "accepted: " << malformed.bytes.toStdString();
    } catch (const AppcastError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(malformed.reason, 0), 0u) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Feeds, MalformedAppcast,
    testing::Values(MalformedCase{"empty", "", "The update feed is not valid XML"},
        MalformedCase{"notRss", "<html><body>Moved</body></html>", "The update feed is not an RSS feed."},
        MalformedCase{"noItems", appcast(""), "The update feed lists no release"},
        MalformedCase{"noNumericVersionOrWebLink",
            appcast("<item><sparkle:version>1.3 beta</sparkle:version><link>https://example.org/d</link></item>"
                    "<item><sparkle:version>1.4</sparkle:version><link>file:///etc/passwd</link></item>"),
            "The update feed lists no release"}),
    [](const testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace fennick
