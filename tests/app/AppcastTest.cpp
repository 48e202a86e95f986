// Reading an appcast and comparing its newest release with the running version, on canned feeds.

#include "Appcast.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

QByteArray appcast(const QByteArray& items)
{
    return R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)" + items
        + "</channel></rss>";
}

// One line per outcome: "update <version> <notes> <download>", "up to date" or "failed: <reason>".
QString concluded(const UpdateCheckOutcome& o)
{
    using Kind = UpdateCheckOutcome::Kind;
    if (o.kind == Kind::updateAvailable)
        return "update " + o.versionText + ' ' + o.releaseNotesLink.toString() + ' ' + o.downloadLink.toString();
    return o.kind == Kind::upToDate ? QStringLiteral("up to date") : "failed: " + o.reason;
}

const QString kNoRelease = "failed: The update feed lists no release with a version number and a download link.";

struct FeedCase {
    QByteArray feed;
    QString concluded; // as concluded() writes it, or how it begins when it ends in "…"
};

TEST(ParseAppcast, ConcludesFromTheNewestReleaseByNumber)
{
    const FeedCase cases[] = {
        // 1.9.0 as elements, 1.10.0 on the enclosure, whose short version wins over its build number:
        // the newest is found by number, not by text or order.
        {appcast(R"(
<item><sparkle:shortVersionString>1.9.0</sparkle:shortVersionString><link>https://example.org/1.9</link></item>
<item><sparkle:releaseNotesLink>https://example.org/notes/1.10.html</sparkle:releaseNotesLink>
  <enclosure url="https://example.org/fennick-1.10.0.tar.gz" sparkle:version="110"
             sparkle:shortVersionString="1.10.0"/></item>
<item><sparkle:version>0.9</sparkle:version><link>https://example.org/0.9</link></item>)"),
            "update 1.10.0 https://example.org/notes/1.10.html https://example.org/fennick-1.10.0.tar.gz"},
        // The build number when there is no short version; release notes only when they are a web link.
        {appcast("<item><sparkle:version> 2 </sparkle:version><link>http://example.org/d</link>"
                 "<sparkle:releaseNotesLink>javascript:alert(1)</sparkle:releaseNotesLink></item>"),
            "update 2  http://example.org/d"},
        {appcast("<item><sparkle:version>1.2.0.0</sparkle:version><link>https://example.org/d</link></item>"),
            "up to date"},
        {appcast("<item><sparkle:version>1.1.9</sparkle:version><link>https://example.org/d</link></item>"),
            "up to date"},
        // Neither a numeric version nor a web download link makes a release.
        {appcast("<item><sparkle:version>1.3 beta</sparkle:version><link>https://example.org/d</link></item>"
                 "<item><sparkle:version>1.4</sparkle:version><link>file:///etc/passwd</link></item>"
                 "<item><sparkle:version>1.5</sparkle:version></item>"),
            kNoRelease},
        {appcast(""), kNoRelease},
        // Sparkle's names outside Sparkle's namespace are not Sparkle's.
        {"<rss><channel><item><shortVersionString>3</shortVersionString><link>https://example.org/d</link>"
         "</item></channel></rss>",
            kNoRelease},
        {"<rss><channel><item>", "failed: The update feed is not valid XML (line 1: …"},
        {"", "failed: The update feed is not valid XML (line 1: …"},
        {"<feed><entry/></feed>", "failed: The update feed is not an RSS feed."},
        {"<html><body>Moved</body></html>", "failed: The update feed is not an RSS feed."},
    };
    for (const FeedCase& c : cases) {
        const QString got = concluded(parseAppcast(c.feed, QStringLiteral("1.2.0")));
        if (c.concluded.endsWith(u'…'))
            EXPECT_TRUE(got.startsWith(c.concluded.chopped(1))) << got.toStdString();
        else
            EXPECT_EQ(got.toStdString(), c.concluded.toStdString()) << c.feed.toStdString();
    }
}

} // namespace
} // namespace fennick
