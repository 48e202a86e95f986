#include "AppcastFeed.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <optional>

namespace fennick {
namespace {

constexpr QLatin1StringView sparkleNamespace("http://www.andymatuschak.org/xml-namespaces/sparkle");

// An item's fields as written, before deciding whether the item is usable.
struct RawItem {
    QString shortVersion;
    QString version;
    QString releaseNotesLink;
    QString enclosureUrl;
    QString link;
};

QUrl webLink(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const bool web = url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http") && !url.host().isEmpty();
    return web ? url : QUrl();
}

std::optional<AppcastItem> usableItem(const RawItem& raw)
{
    AppcastItem item;
    item.versionText = (raw.shortVersion.isEmpty() ? raw.version : raw.shortVersion).trimmed();
    item.version = parseVersion(item.versionText);
    item.releaseNotesLink = webLink(raw.releaseNotesLink);
    item.downloadLink = webLink(raw.enclosureUrl.isEmpty() ? raw.link : raw.enclosureUrl);
    if (item.version.isNull() || item.downloadLink.isEmpty())
        return std::nullopt;
    return item;
}

void readEnclosure(const QXmlStreamAttributes& attributes, RawItem& raw)
{
    raw.enclosureUrl = attributes.value(QLatin1StringView("url")).toString();
    if (raw.shortVersion.isEmpty())
        raw.shortVersion = attributes.value(sparkleNamespace, QLatin1StringView("shortVersionString")).toString();
    if (raw.version.isEmpty())
        raw.version = attributes.value(sparkleNamespace, QLatin1StringView("version")).toString();
}

AppcastError notValidXml(const QXmlStreamReader& xml)
{
    return AppcastError(QStringLiteral("The update feed is not valid XML (line %1: %2).")
                            .arg(xml.lineNumber())
                            .arg(xml.errorString())
                            .toStdString());
}

} // namespace

QVersionNumber parseVersion(const QString& text)
{
    qsizetype suffixIndex = 0;
    const QVersionNumber version = QVersionNumber::fromString(text, &suffixIndex);
    if (version.isNull() || suffixIndex != text.size())
        return {};
    return version.normalized();
}

std::vector<AppcastItem> parseAppcast(const QByteArray& bytes)
{
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != u"rss" || !xml.namespaceUri().isEmpty()) {
        if (xml.hasError())
            throw notValidXml(xml);
        throw AppcastError("The update feed is not an RSS feed.");
    }

    std::vector<AppcastItem> items;
    std::optional<RawItem> raw; // set while inside an <item>
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const bool sparkle = xml.namespaceUri() == sparkleNamespace;
            const bool plain = xml.namespaceUri().isEmpty();
            if (plain && xml.name() == u"item") {
                raw.emplace();
            } else if (!raw) {
                continue;
            } else if (sparkle && xml.name() == u"shortVersionString") {
                raw->shortVersion = xml.readElementText();
            } else if (sparkle && xml.name() == u"version") {
                raw->version = xml.readElementText();
            } else if (sparkle && xml.name() == u"releaseNotesLink") {
                raw->releaseNotesLink = xml.readElementText();
            } else if (plain && xml.name() == u"link") {
                raw->link = xml.readElementText();
            } else if (plain && xml.name() == u"enclosure") {
                readEnclosure(xml.attributes(), *raw);
            }
        } else if (xml.isEndElement() && raw && xml.name() == u"item" && xml.namespaceUri().isEmpty()) {
            if (auto item = usableItem(*raw))
                items.push_back(std::move(*item));
            raw.reset();
        }
    }
    if (xml.hasError())
        throw notValidXml(xml);
    if (items.empty())
        throw AppcastError("The update feed lists no release with a version number and a download link.");
    return items;
}

const AppcastItem& newestAppcastItem(const std::vector<AppcastItem>& items)
{
    return *std::max_element(items.begin(), items.end(),
        [](const AppcastItem& a, const AppcastItem& b) { return a.version < b.version; });
}

} // namespace fennick
