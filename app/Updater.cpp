#include "Updater.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>

namespace fennick {
namespace {

// Over the window the command came from, gone with it, and never blocking the caller.
void showBox(QMessageBox::Icon icon, const QString& text, const QString& informativeText, const QUrl& downloadLink = {})
{
    auto* box = new QMessageBox(
        icon, QStringLiteral("Software Update"), text, QMessageBox::NoButton, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(informativeText);
    // QMessageBox wraps short sentences into a narrow column; give the explanation room for a line.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 22em; }"));
    if (!downloadLink.isEmpty()) {
        box->setTextFormat(Qt::RichText);
        // The release notes link must open in the browser rather than do nothing inside the box.
        for (QLabel* label : box->findChildren<QLabel*>()) {
            label->setTextFormat(Qt::RichText);
            label->setOpenExternalLinks(true);
        }
        QPushButton* download = box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
        box->setDefaultButton(download);
        QObject::connect(box, &QMessageBox::buttonClicked, box, [download, downloadLink](QAbstractButton* clicked) {
            if (clicked == download) QDesktopServices::openUrl(downloadLink);
        });
    }
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace

Updater::Updater(QUrl feedUrl, QString currentVersion, QObject* parent)
    : QObject(parent), feedUrl_(std::move(feedUrl)), currentVersion_(std::move(currentVersion))
{
    timeout_.setSingleShot(true);
    timeout_.setInterval(defaultTimeout);
    connect(&timeout_, &QTimer::timeout, this, [this] {
        timedOut_ = true;
        if (reply_) reply_->abort(); // finishes the reply, which ends the check
    });
}

Updater::~Updater()
{
    // A check still under way must not report into a half-destroyed updater.
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

void Updater::setCanCheckForUpdates(bool value)
{
    if (canCheckForUpdates_ == value) return;
    canCheckForUpdates_ = value;
    emit canCheckForUpdatesChanged(value);
}

void Updater::start() { setCanCheckForUpdates(!feedUrl_.isEmpty()); }

void Updater::checkForUpdates()
{
    if (!canCheckForUpdates()) return;
    setCanCheckForUpdates(false);
    timedOut_ = false;

    QNetworkRequest request(feedUrl_);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Fennick/%1").arg(currentVersion_));
    reply_ = network_.get(request);
    connect(reply_, &QNetworkReply::finished, this, &Updater::finishFetch);
    timeout_.start();
}

void Updater::finishFetch()
{
    timeout_.stop();
    QNetworkReply* const reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString statusText = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    UpdateCheckOutcome outcome;
    if (timedOut_) {
        outcome.reason = QStringLiteral("The update server did not answer in time.");
    } else if (status >= 400) {
        const QString answer = QStringLiteral("%1 %2").arg(status).arg(statusText).trimmed();
        outcome.reason = QStringLiteral("The update server answered with an error (%1).").arg(answer);
    } else if (reply->error() != QNetworkReply::NoError) {
        outcome.reason = QStringLiteral("Fennick could not reach the update server: %1.").arg(reply->errorString());
    } else {
        outcome = parseAppcast(reply->readAll(), currentVersion_);
    }
    // Checks become possible again before the outcome is shown, so a dialog that waits for the
    // user does not keep the command disabled.
    setCanCheckForUpdates(true);
    emit checkFinished(outcome);
}

void showUpdateCheckOutcome(const UpdateCheckOutcome& outcome, const QString& currentVersion)
{
    using Kind = UpdateCheckOutcome::Kind;
    if (outcome.kind == Kind::failed) {
        showBox(QMessageBox::Warning, QStringLiteral("Fennick could not check for updates."), outcome.reason);
    } else if (outcome.kind == Kind::upToDate) {
        showBox(QMessageBox::Information, QStringLiteral("You\u2019re up to date."),
            QStringLiteral("Fennick %1 is the newest version available.").arg(currentVersion));
    } else {
        QString details = QStringLiteral("You have version %1.").arg(currentVersion.toHtmlEscaped());
        if (!outcome.releaseNotesLink.isEmpty())
            details += QStringLiteral("<br><a href=\"%1\">What’s new</a>")
                           .arg(outcome.releaseNotesLink.toString(QUrl::FullyEncoded).toHtmlEscaped());
        showBox(QMessageBox::Information,
            QStringLiteral("Fennick %1 is available.").arg(outcome.versionText.toHtmlEscaped()), details,
            outcome.downloadLink);
    }
}

} // namespace fennick
