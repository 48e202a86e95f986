#include "FileChoosers.h"

#include <QFileDialog>
#include <QFileInfo>

namespace fennick {
namespace {

// Read once: the choice is the process's, not the dialog's.
QFileDialog::Options dialogOptions()
{
    static const bool widgetDialogs = qEnvironmentVariable("FENNICK_WIDGET_DIALOGS") == QLatin1String("1");
    return widgetDialogs ? QFileDialog::DontUseNativeDialog : QFileDialog::Options{};
}

} // namespace

OpenResult chooseFileToOpen(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setOptions(dialogOptions());
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
    dialog.setOptions(dialogOptions());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(kWavNameFilter);
    // The portal takes the folder and the name apart; a path alone would open it in the working directory.
    const QFileInfo suggested(suggestedName);
    if (suggested.isAbsolute()) dialog.setDirectory(suggested.absolutePath());
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QList<QUrl> urls = dialog.selectedUrls();
    if (urls.isEmpty()) return std::nullopt;
    return urls.first();
}

QList<QUrl> chooseFilesToAdd(QWidget* parent)
{
    QFileDialog dialog(parent, QStringLiteral("Add Files"));
    dialog.setOptions(dialogOptions());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QStringLiteral("Audio files (*.wav *.WAV *.aiff *.AIFF *.aif *.AIF *.flac *.FLAC)"));
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedUrls();
}

std::optional<QUrl> chooseFolder(QWidget* parent, const QString& title, const QUrl& start)
{
    QFileDialog dialog(parent, title);
    dialog.setOptions(dialogOptions() | QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    if (start.isLocalFile()) dialog.setDirectoryUrl(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty()) return std::nullopt;
    return dialog.selectedUrls().first();
}

} // namespace fennick
