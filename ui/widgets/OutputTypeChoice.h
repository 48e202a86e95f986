#pragma once

// The output type as the windows offer it: its picker rows and their help, the save dialog's
// filters, and what choosing a type does to a format the type cannot hold.

#include "FennickEngine.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace fennick {

// "WAV", "RF64", "W64", "AIFF", "FLAC", "CAF": the engine's names.
QString pickerLabel(OutputType type);

// The one line of help under the type picker for each type: where it is used and what it carries.
QString outputTypeHelpText(OutputType type);

// "FLAC audio (*.flac *.FLAC)": the save dialog's filter for one type, its extensions in both cases.
QString saveNameFilter(OutputType type);
// The chosen type's filter first, then the others', so that a name typed with another type's
// extension is offered too.
QStringList saveNameFilters(OutputType chosen);

// Sets settings.type. A format the type cannot hold gives way to the nearest one it can (32-bit
// float to 24-bit integer for FLAC), so that no impossible pair is ever asked for; returns the
// format given up, if one was.
std::optional<OutputFormat> chooseOutputType(ConversionSettings& settings, OutputType type);

} // namespace fennick
