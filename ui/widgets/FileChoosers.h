#pragma once

// The open and save dialogs, behind plain functions so that tests can answer them without a
// modal dialog. The real ones are the desktop's own where Qt's platform theme has them (GTK,
// KDE, the desktop portal), with its bookmarks and recent places, and Qt's widget dialogs
// elsewhere. FENNICK_WIDGET_DIALOGS=1 forces Qt's, which tests drive from the keyboard.

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <variant>

class QWidget;

namespace fennick {

struct OpenCancelled { };
struct OpenFailed {
    QString description;
};
// The chosen file, a cancelled dialog, or the dialog's own failure.
using OpenResult = std::variant<QUrl, OpenCancelled, OpenFailed>;

using OpenFileChooser = std::function<OpenResult(QWidget* parent)>;
// The destination, or nothing when the dialog was cancelled.
using SaveFileChooser = std::function<std::optional<QUrl>(QWidget* parent, const QString& suggestedName)>;
// The files chosen; none when the dialog was cancelled.
using FilesChooser = std::function<QList<QUrl>(QWidget* parent)>;
// The folder chosen, or nothing when the dialog was cancelled.
using FolderChooser = std::function<std::optional<QUrl>(QWidget* parent, const QString& title, const QUrl& start)>;

// The open dialog's types: "All audio files (…)" first, then each type the engine reads.
QStringList audioNameFilters();

// One existing audio file of a type the engine reads, starting in `folder` when given.
OpenResult chooseFileToOpen(QWidget* parent, const QString& folder = {});

// Pre-filled with `suggestedName`, in its folder when it is a path, with the filter of the type its
// extension names first; the dialog asks before an existing file is replaced.
std::optional<QUrl> chooseFileToSave(QWidget* parent, const QString& suggestedName);

// Any number of existing audio files (wav, aiff, aif, flac), for the batch window's list.
QList<QUrl> chooseFilesToAdd(QWidget* parent);

// One existing folder, starting in `start` when given.
std::optional<QUrl> chooseFolder(QWidget* parent, const QString& title, const QUrl& start = {});

} // namespace fennick
