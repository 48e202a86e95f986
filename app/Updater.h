#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>

class QNetworkReply;

namespace fennick {

// What a user-initiated check found.
struct UpdateCheckOutcome {
    enum class Kind { updateAvailable, upToDate, failed };
    Kind kind = Kind::failed;
    QString versionText; // updateAvailable: the newest release as the feed writes it
    QUrl downloadLink; // updateAvailable
    QUrl releaseNotesLink; // updateAvailable; empty when the feed has none
    QString reason; // failed: a complete sentence a user can act on
};

// The updater: a user-initiated check fetches the appcast (RSS 2.0 with Sparkle's elements) over
// HTTP(S) and compares its newest release with the running version. Checks never start on their
// own. Lives on the main thread.
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

    // True when a user-initiated check may start now. Safe to read from any thread.
    bool canCheckForUpdates() const { return canCheckForUpdates_.load(); }

    // Does nothing while a check runs or when no check is possible. Main thread only.
    virtual void checkForUpdates();

signals:
    // Emitted on whichever thread changed the flag, directly from that thread: receivers must not
    // touch main-thread state from their slot.
    void canCheckForUpdatesChanged();
    // Once per check, after checks have become possible again.
    void checkFinished(const fennick::UpdateCheckOutcome& outcome);

protected:
    // Emits canCheckForUpdatesChanged() only when the value actually changes.
    void setCanCheckForUpdates(bool value);

private:
    void finishFetch();
    UpdateCheckOutcome outcomeOf(const QByteArray& feed) const;

    const QUrl feedUrl_;
    const QString currentVersion_;
    std::atomic<bool> canCheckForUpdates_{false};
    QNetworkAccessManager network_;
    QTimer timeout_;
    QPointer<QNetworkReply> reply_;
    bool timedOut_ = false;
};

} // namespace fennick
