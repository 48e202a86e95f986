#include "UpdateDialogPresenter.h"

#include "AppcastFeed.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace fennick {
namespace {

QMessageBox* makeBox(QMessageBox::Icon icon, const QString& text, const QString& informativeText)
{
    // Over the window the command came from, and gone with it.
    auto* box = new QMessageBox(icon, QStringLiteral("Software Update"), text, QMessageBox::NoButton,
        QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(informativeText);
    // QMessageBox wraps short sentences into a narrow column; give the explanation room for a line.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 22em; }"));
    return box;
}

void showBox(QMessageBox* box)
{
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace

void UpdateDialogPresenter::showUpdateAvailable(const AppcastItem& newest, const QString& currentVersion)
{
    QString details = QStringLiteral("You have version %1.").arg(currentVersion.toHtmlEscaped());
    if (!newest.releaseNotesLink.isEmpty())
        details += QStringLiteral("<br><a href=\"%1\">What’s new</a>")
                       .arg(newest.releaseNotesLink.toString(QUrl::FullyEncoded).toHtmlEscaped());
    QMessageBox* box = makeBox(QMessageBox::Information,
        QStringLiteral("Fennick %1 is available.").arg(newest.versionText.toHtmlEscaped()), details);
    box->setTextFormat(Qt::RichText);
    // The release notes link must open in the browser rather than do nothing inside the box.
    for (QLabel* label : box->findChildren<QLabel*>()) {
        label->setTextFormat(Qt::RichText);
        label->setOpenExternalLinks(true);
    }
    QPushButton* download = box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
    box->setDefaultButton(download);
    const QUrl downloadLink = newest.downloadLink;
    QObject::connect(box, &QMessageBox::buttonClicked, box, [download, downloadLink](QAbstractButton* clicked) {
        if (clicked == download)
            QDesktopServices::openUrl(downloadLink);
    });
    showBox(box);
}

void UpdateDialogPresenter::showUpToDate(const QString& currentVersion)
{
    showBox(makeBox(QMessageBox::Information, QStringLiteral("You\u2019re up to date."),
        QStringLiteral("Fennick %1 is the newest version available.").arg(currentVersion)));
}

void UpdateDialogPresenter::showCheckFailed(const QString& reason)
{
    showBox(makeBox(QMessageBox::Warning, QStringLiteral("Fennick could not check for updates."), reason));
}

} // namespace fennick
