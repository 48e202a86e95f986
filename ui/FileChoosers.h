#pragma once

// The open and save dialogs, behind plain functions so that tests can answer them without a
// modal dialog. The real ones are Qt's own (not the desktop's native) file dialogs, which
// behave the same everywhere and can be driven from the keyboard without a window manager.

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <variant>

class QWidget;

namespace fennick {

inline const QString kWavNameFilter = QStringLiteral("WAV audio (*.wav *.WAV)");

struct OpenCancelled { };
struct OpenFailed {
    QString description;
};
// The chosen file, a cancelled dialog, or the dialog's own failure.
using OpenResult = std::variant<QUrl, OpenCancelled, OpenFailed>;

using OpenFileChooser = std::function<OpenResult(QWidget* parent)>;
// The destination, or nothing when the dialog was cancelled.
using SaveFileChooser = std::function<std::optional<QUrl>(QWidget* parent, const QString& suggestedName)>;

// One existing WAV file.
OpenResult chooseFileToOpen(QWidget* parent);

// Pre-filled with `suggestedName`; Qt asks before an existing file is replaced.
std::optional<QUrl> chooseFileToSave(QWidget* parent, const QString& suggestedName);

} // namespace fennick
