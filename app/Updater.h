#pragma once

#include "Appcast.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QNetworkReply;

namespace fennick {

// The update check behind "Check for Updates…": fetches the appcast over HTTP(S) and reads it with
// parseAppcast. Checks start only when the user asks, one at a time. Lives on the main thread, as
// does everything that watches it.
class Updater : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultTimeout{20'000};

    // An empty `feedUrl` means the build has no update feed: checks are never possible.
    Updater(QUrl feedUrl, QString currentVersion, QObject* parent = nullptr);
    ~Updater() override;

    // How long a check waits for the server before giving up.
    void setTimeout(std::chrono::milliseconds timeout) { timeout_.setInterval(timeout); }

    // Makes checks possible (when there is a feed). Until then canCheckForUpdates() is false.
    void start();

    // True when a user-initiated check may start now: there is a feed and no check is under way.
    bool canCheckForUpdates() const { return canCheckForUpdates_; }

    // Does nothing while a check runs or when no check is possible.
    void checkForUpdates();

signals:
    // Only on a real change.
    void canCheckForUpdatesChanged(bool canCheckForUpdates);
    // Once per check, after checks have become possible again.
    void checkFinished(const fennick::UpdateCheckOutcome& outcome);

private:
    void setCanCheckForUpdates(bool value);
    void finishFetch();

    const QUrl feedUrl_;
    const QString currentVersion_;
    bool canCheckForUpdates_ = false;
    QNetworkAccessManager network_;
    QTimer timeout_;
    QPointer<QNetworkReply> reply_;
    bool timedOut_ = false;
};

// Shows `outcome` in a message box over the active window that does not block; an available update
// gets a button that opens its download page.
void showUpdateCheckOutcome(const UpdateCheckOutcome& outcome, const QString& currentVersion);

} // namespace fennick
