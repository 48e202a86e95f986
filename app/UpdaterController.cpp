#include "UpdaterController.h"

#include "BuildConfig.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
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

void showOutcome(const UpdateCheckOutcome& outcome, const QString& currentVersion)
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

} // namespace

UpdaterController::UpdaterController(bool startingUpdater)
    : updater_(QUrl(QString::fromUtf8(buildConfig::updateFeedUrl)), QString::fromUtf8(buildConfig::version))
{
    const QString version = QString::fromUtf8(buildConfig::version);
    QObject::connect(&updater_, &Updater::checkFinished, &updater_,
        [version](const UpdateCheckOutcome& outcome) { showOutcome(outcome, version); });
    if (startingUpdater) updater_.start();
}

} // namespace fennick
