#pragma once

// One conversion as both windows run it: the request, the background job around convertWav, and
// the texts its outcome is told with.

#include "FennickEngine.h"

#include <QLocale>
#include <QString>
#include <QThreadPool>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>

namespace fennick {

// The engine's defaultOutputFileName for a window's source and settings.
QString defaultOutputFileName(const QUrl& source, const ConversionSettings& settings);

// Everything a run reads, copied when it starts; later edits in the window do not reach it.
struct ConversionRequest {
    QUrl source;
    QUrl destination;
    ConversionSettings settings;
    bool replaceExisting = true; // the save dialog has asked before a file is replaced
};

// What the job reports back. Each is called on the main thread, in the order the job posted
// them: progress any number of times, then one of finished or failed, or nothing once the run
// was stopped. The job posts to the application object, so the functions must hold their window
// weakly (QPointer) and do nothing once it is gone.
struct ConversionObserver {
    std::function<void(double fraction)> progressed;
    std::function<void(const ConversionReport& report)> finished;
    std::function<void(const QString& description)> failed;
};

// The threads conversion runs take, one a run.
QThreadPool& conversionPool();

// Starts convertWav on a thread of conversionPool() and returns at once; the returned source
// stops the run within one block. Every progress report is posted without waiting.
std::stop_source startConversionJob(const ConversionRequest& request, ConversionObserver observer);

// The engine's warnings of a run, one after the other, with the numbers in `locale`: "1.379 samples
// clipped (peak +0,31 dBFS). 2 samples in the source were not numbers and were replaced by silence."
std::optional<QString> runWarning(const ConversionReport& report, const QLocale& locale = QLocale());

// Local path in the file system's own encoding, for the engine.
std::filesystem::path localPath(const QUrl& url);

} // namespace fennick
