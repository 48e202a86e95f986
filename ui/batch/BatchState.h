#pragma once

// Everything a batch window knows, in plain values: its list of files with each one's state, the
// settings they are converted with, and where the outputs go. Only the main thread reads or
// writes it.

#include "FennickEngine.h"

#include <QString>
#include <QUrl>

#include <filesystem>
#include <optional>
#include <vector>

namespace fennick {

struct BatchRow {
    enum class Status { ready, unreadable, waiting, converting, saved, skipped, cancelled, failed };

    QUrl source;
    std::filesystem::path subfolder; // below the folder it was added with, mirrored under "Save into"
    double sampleRate = 0; // hertz
    QString sourceFormat;
    double seconds = 0;
    Status status = Status::ready;
    double progress = 0; // fraction of the source read while converting
    QString reason; // why it could not be read, or why it failed
    std::optional<QString> warning; // what clipped
    std::optional<QUrl> output; // where it was, or is being, saved
};

struct BatchState {
    std::vector<BatchRow> rows;
    ConversionSettings settings; // edited and shown by the main window's destination and quality sections
    std::optional<QUrl> saveFolder; // the first folder added, or the first file's, until chosen
    bool saveNextToSource = false;
    bool isConverting = false;
    std::optional<QString> summary; // the last run's
};

} // namespace fennick
