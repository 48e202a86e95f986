#include "AppcastUpdater.h"

#include "AppcastFeed.h"
#include "UpdatePresenter.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace fennick {

AppcastUpdater::AppcastUpdater(QUrl feedUrl, QString currentVersion, UpdatePresenter& presenter, QObject* parent)
    : Updater(parent)
    , feedUrl_(std::move(feedUrl))
    , currentVersion_(std::move(currentVersion))
    , presenter_(presenter)
{
    timeout_.setSingleShot(true);
    timeout_.setInterval(defaultTimeout);
    connect(&timeout_, &QTimer::timeout, this, &AppcastUpdater::timeOut);
}

AppcastUpdater::~AppcastUpdater()
{
    // A check still under way must not report into a half-destroyed updater.
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

void AppcastUpdater::start()
{
    setCanCheckForUpdates(!feedUrl_.isEmpty());
}

void AppcastUpdater::checkForUpdates()
{
    if (!canCheckForUpdates())
        return;
    setCanCheckForUpdates(false);
    timedOut_ = false;

    QNetworkRequest request(feedUrl_);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Fennick/%1").arg(currentVersion_));
    reply_ = network_.get(request);
    connect(reply_, &QNetworkReply::finished, this, &AppcastUpdater::finishFetch);
    timeout_.start();
}

void AppcastUpdater::timeOut()
{
    timedOut_ = true;
    if (reply_)
        reply_->abort(); // finishes the reply, which ends the check
}

void AppcastUpdater::finishFetch()
{
    timeout_.stop();
    QNetworkReply* const reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString statusText = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    // Checks become possible again before the outcome is shown, so a dialog that waits for the user does
    // not keep the command disabled.
    setCanCheckForUpdates(true);

    if (timedOut_) {
        presenter_.showCheckFailed(QStringLiteral("The update server did not answer in time."));
    } else if (status >= 400) {
        const QString answer = QStringLiteral("%1 %2").arg(status).arg(statusText).trimmed();
        presenter_.showCheckFailed(QStringLiteral("The update server answered with an error (%1).").arg(answer));
    } else if (reply->error() != QNetworkReply::NoError) {
        presenter_.showCheckFailed(
            QStringLiteral("Fennick could not reach the update server: %1.").arg(reply->errorString()));
    } else {
        present(reply->readAll());
    }
}

void AppcastUpdater::present(const QByteArray& feed)
{
    try {
        const std::vector<AppcastItem> items = parseAppcast(feed);
        const AppcastItem& newest = newestAppcastItem(items);
        if (newest.version > parseVersion(currentVersion_))
            presenter_.showUpdateAvailable(newest, currentVersion_);
        else
            presenter_.showUpToDate(currentVersion_);
    } catch (const AppcastError& error) {
        presenter_.showCheckFailed(QString::fromStdString(error.what()));
    }
}

} // namespace fennick
