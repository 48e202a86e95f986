#include "FileChoosers.h"

#include "FennickEngine.h"
#include "OutputTypeChoice.h"

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

QStringList audioNameFilters()
{
    QStringList filters;
    for (const OpenDialogFilter& filter : openDialogFilters()) {
        QStringList patterns;
        // Both cases, as names from other systems come in capitals and the dialog's match is exact.
        for (const std::string& pattern : filter.patterns)
            patterns << QString::fromStdString(pattern) << QString::fromStdString(pattern).toUpper();
        filters << QStringLiteral("%1 (%2)").arg(QString::fromStdString(filter.name), patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

OpenResult chooseFileToOpen(QWidget* parent, const QString& folder)
{
    QFileDialog dialog(parent);
    dialog.setOptions(dialogOptions());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(audioNameFilters());
    if (!folder.isEmpty()) dialog.setDirectory(folder);
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
    // The type the suggested name ends in comes first; a name typed with another type's extension
    // is written as that type, and one typed without gets the first type's.
    const OutputType type = outputTypeOf(suggestedName.toStdString()).value_or(OutputType::wav);
    dialog.setNameFilters(saveNameFilters(type));
    dialog.setDefaultSuffix(QString::fromUtf8(rawValue(type)));
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
