#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace fennick {

// What an update check concluded.
struct UpdateCheckOutcome {
    enum class Kind { updateAvailable, upToDate, failed };
    Kind kind = Kind::failed;
    QString versionText; // updateAvailable: the newest release as the feed writes it
    QUrl downloadLink; // updateAvailable
    QUrl releaseNotesLink; // updateAvailable; empty when the feed has none
    QString reason; // failed: a complete sentence a user can act on
};

// Reads an appcast (RSS 2.0 with Sparkle's elements) and compares its newest release, by number,
// with `currentVersion`. A release needs a numeric version and an http(s) download link; a feed
// that is not RSS, not valid XML or without such a release is `failed`, with the reason.
UpdateCheckOutcome parseAppcast(const QByteArray& bytes, const QString& currentVersion);

} // namespace fennick
