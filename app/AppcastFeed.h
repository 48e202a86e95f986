#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVersionNumber>

#include <stdexcept>
#include <vector>

namespace fennick {

// One release in an appcast: an RSS 2.0 <item> with Sparkle's elements or enclosure attributes.
struct AppcastItem {
    QString versionText;     // as the feed writes it, for showing to the user
    QVersionNumber version;  // normalised, so that 1.2 and 1.2.0 compare equal
    QUrl releaseNotesLink;   // empty when the item has none
    QUrl downloadLink;       // the enclosure's url, else the item's <link>
};

// The feed could not be understood; what() says why in words a user can follow.
class AppcastError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every item of the feed that names a numeric version and an http(s) download link, in feed order.
// sparkle:shortVersionString is preferred to sparkle:version, as it is the number users see.
// Throws AppcastError when the bytes are not an RSS document or list no such item.
std::vector<AppcastItem> parseAppcast(const QByteArray& bytes);

// The item with the highest version; `items` must not be empty.
const AppcastItem& newestAppcastItem(const std::vector<AppcastItem>& items);

// The numeric version in `text` ("1.10.2"), normalised; null when `text` is not purely numeric.
QVersionNumber parseVersion(const QString& text);

} // namespace fennick
