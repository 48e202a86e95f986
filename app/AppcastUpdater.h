#pragma once

#include "Updater.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QNetworkReply;

namespace fennick {

class UpdatePresenter;

// The update layer's updater: a user-initiated check fetches the appcast over HTTP(S), compares the newest
// release with the running version and shows the outcome through the presenter. Lives on the main thread;
// checks never start on their own.
class AppcastUpdater final : public Updater {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultTimeout{20'000};

    // An empty `feedUrl` means the build has no update feed: checks are never possible. `presenter` must
    // outlive the updater.
    AppcastUpdater(QUrl feedUrl, QString currentVersion, UpdatePresenter& presenter, QObject* parent = nullptr);
    ~AppcastUpdater() override;

    // How long a check waits for the server before giving up.
    void setTimeout(std::chrono::milliseconds timeout) { timeout_.setInterval(timeout); }

    // Makes checks possible (when there is a feed). Until then canCheckForUpdates() is false.
    void start();

    // Does nothing while a check runs or when no check is possible.
    void checkForUpdates() override;

private:
    void finishFetch();
    void timeOut();
    void present(const QByteArray& feed);

    const QUrl feedUrl_;
    const QString currentVersion_;
    UpdatePresenter& presenter_;
    QNetworkAccessManager network_;
    QTimer timeout_;
    QPointer<QNetworkReply> reply_;
    bool timedOut_ = false;
};

} // namespace fennick
