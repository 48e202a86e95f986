#include "Appcast.h"

#include <QVersionNumber>
#include <QXmlStreamReader>

#include <optional>
#include <vector>

namespace fennick {
namespace {

constexpr QLatin1StringView sparkleNamespace("http://www.andymatuschak.org/xml-namespaces/sparkle");

// One release: an RSS <item> with Sparkle's elements or enclosure attributes, as written.
struct FeedItem {
    QString shortVersion;
    QString version;
    QString releaseNotesLink;
    QString enclosureUrl;
    QString link;
};

// The numeric version in `text` ("1.10.2"), normalised so that 1.2 and 1.2.0 compare equal; null
// when `text` is not purely numeric.
QVersionNumber parseVersion(const QString& text)
{
    qsizetype suffixIndex = 0;
    const QVersionNumber version = QVersionNumber::fromString(text, &suffixIndex);
    if (version.isNull() || suffixIndex != text.size()) return {};
    return version.normalized();
}

QUrl webLink(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const bool web = url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http") && !url.host().isEmpty();
    return web ? url : QUrl();
}

QString notValidXml(const QXmlStreamReader& xml)
{
    return QStringLiteral("The update feed is not valid XML (line %1: %2).")
        .arg(xml.lineNumber())
        .arg(xml.errorString());
}

// Every item with a numeric version and an http(s) download link, or the reason there is none.
// sparkle:shortVersionString is preferred to sparkle:version, as it is the number users see.
std::vector<FeedItem> readFeed(const QByteArray& bytes, QString& failure)
{
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != u"rss" || !xml.namespaceUri().isEmpty()) {
        failure = xml.hasError() ? notValidXml(xml) : QStringLiteral("The update feed is not an RSS feed.");
        return {};
    }
    std::vector<FeedItem> items;
    std::optional<FeedItem> item; // set while inside an <item>
    while (!xml.atEnd()) {
        xml.readNext();
        const bool sparkle = xml.namespaceUri() == sparkleNamespace;
        const bool plain = xml.namespaceUri().isEmpty();
        if (xml.isStartElement()) {
            if (plain && xml.name() == u"item") {
                item.emplace();
            } else if (!item) {
                continue;
            } else if (sparkle && xml.name() == u"shortVersionString") {
                item->shortVersion = xml.readElementText();
            } else if (sparkle && xml.name() == u"version") {
                item->version = xml.readElementText();
            } else if (sparkle && xml.name() == u"releaseNotesLink") {
                item->releaseNotesLink = xml.readElementText();
            } else if (plain && xml.name() == u"link") {
                item->link = xml.readElementText();
            } else if (plain && xml.name() == u"enclosure") {
                const QXmlStreamAttributes attributes = xml.attributes();
                item->enclosureUrl = attributes.value(QLatin1StringView("url")).toString();
                if (item->shortVersion.isEmpty())
                    item->shortVersion
                        = attributes.value(sparkleNamespace, QLatin1StringView("shortVersionString")).toString();
                if (item->version.isEmpty())
                    item->version = attributes.value(sparkleNamespace, QLatin1StringView("version")).toString();
            }
        } else if (xml.isEndElement() && item && plain && xml.name() == u"item") {
            items.push_back(*item);
            item.reset();
        }
    }
    if (xml.hasError()) failure = notValidXml(xml);
    return items;
}

} // namespace

UpdateCheckOutcome parseAppcast(const QByteArray& bytes, const QString& currentVersion)
{
    UpdateCheckOutcome outcome;
    const std::vector<FeedItem> items = readFeed(bytes, outcome.reason);
    if (!outcome.reason.isEmpty()) return outcome;
    // The newest by number, not by text or feed order.
    QVersionNumber newest;
    for (const FeedItem& item : items) {
        const QString versionText = (item.shortVersion.isEmpty() ? item.version : item.shortVersion).trimmed();
        const QVersionNumber version = parseVersion(versionText);
        const QUrl download = webLink(item.enclosureUrl.isEmpty() ? item.link : item.enclosureUrl);
        if (version.isNull() || download.isEmpty() || (!newest.isNull() && version <= newest)) continue;
        newest = version;
        outcome.versionText = versionText;
        outcome.downloadLink = download;
        outcome.releaseNotesLink = webLink(item.releaseNotesLink);
    }
    if (newest.isNull()) {
        outcome.reason = QStringLiteral("The update feed lists no release with a version number and a download link.");
        return outcome;
    }
    outcome.kind = newest > parseVersion(currentVersion) ? UpdateCheckOutcome::Kind::updateAvailable
                                                         : UpdateCheckOutcome::Kind::upToDate;
    return outcome;
}

} // namespace fennick
