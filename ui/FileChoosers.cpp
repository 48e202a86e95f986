#include "FileChoosers.h"

#include <QFileDialog>

namespace fennick {

OpenResult chooseFileToOpen(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(kWavNameFilter);
    if (dialog.exec() != QDialog::Accepted) return OpenCancelled{};
    const QList<QUrl> urls = dialog.selectedUrls();
    if (urls.isEmpty()) return OpenCancelled{};
    if (!urls.first().isLocalFile()) return OpenFailed{QStringLiteral("Only files on this computer can be opened.")};
    return urls.first();
}

std::optional<QUrl> chooseFileToSave(QWidget* parent, const QString& suggestedName)
{
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(kWavNameFilter);
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QList<QUrl> urls = dialog.selectedUrls();
    if (urls.isEmpty()) return std::nullopt;
    return urls.first();
}

} // namespace fennick
