#include "ConversionRun.h"

#include "FennickEngine.h"
#include "SourceFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QThreadPool>

#include <limits>

#include <cmath>
#include <exception>
#include <filesystem>
#include <utility>

namespace fennick {

namespace {

// Runs `task` on the main thread later; never waits for it.
void postToMainThread(std::function<void()> task)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

} // namespace

QString defaultOutputFileName(const QUrl& source, const ConversionSettings& settings)
{
    const std::filesystem::path name = source.fileName().toStdString();
    const auto hertz = static_cast<std::int64_t>(settings.targetRate);
    return QString::fromStdString(fennick::defaultOutputFileName(name, hertz, settings.format).string());
}

QThreadPool& conversionPool()
{
    // Every run a thread of its own, away from Qt's global pool: Qt converts images there while
    // the main thread waits, and runs that filled it (a batch at -j cores) froze every window.
    struct Unbounded : QThreadPool {
        Unbounded() { setMaxThreadCount(std::numeric_limits<int>::max()); }
    };
    static Unbounded pool;
    return pool;
}

std::stop_source startConversionJob(const ConversionRequest& request, ConversionObserver observer)
{
    std::stop_source stop;
    conversionPool().start(QRunnable::create([request, observer = std::move(observer), stop = stop.get_token()] {
        const auto progress = [&observer](double fraction) {
            postToMainThread([report = observer.progressed, fraction] { report(fraction); });
        };
        ClipReport clips;
        try {
            clips = convertWav(localPath(request.source), localPath(request.destination), request.settings, progress,
                {stop, request.replaceExisting});
        } catch (const ConversionCancelled&) {
            return; // the window has said so already, or is gone
        } catch (const std::exception& error) {
            postToMainThread([failed = observer.failed, text = QString::fromUtf8(error.what())] { failed(text); });
            return;
        } catch (...) {
            postToMainThread([failed = observer.failed] { failed(QStringLiteral("Unknown error.")); });
            return;
        }
        postToMainThread([finished = observer.finished, clips] { finished(clips); });
    }));
    return stop;
}

void finishConversion(ContentState& state, const QUrl& destination, const ClipReport& clips)
{
    const QString version = QString::fromUtf8(soxrVersionText());
    state.conversionMessage
        = QStringLiteral("Saved ") + destination.fileName() + QStringLiteral(" (") + version + QLatin1Char(')');
    state.conversionWarning = clipWarning(clips);
    state.lastSavedURL = destination;
    state.isConverting = false;
}

std::optional<QString> clipWarning(const ClipReport& clips, const QLocale& locale)
{
    const std::uint64_t count = clips.clippedSamples > 0 ? clips.clippedSamples : clips.samplesOverFullScale;
    if (count == 0) return std::nullopt;
    const double peak = std::round(clips.peakDbfs * 100.0) / 100.0; // two decimals at most: "+0.31", "+0.8"
    const QString sign = peak > 0 ? QStringLiteral("+") : peak < 0 ? locale.negativeSign() : QString();
    const QString peakText = sign + locale.toString(std::fabs(peak), 'f', QLocale::FloatingPointShortest);
    const QString samples = locale.toString(static_cast<qulonglong>(count)) + (count == 1 ? " sample" : " samples");
    if (clips.clippedSamples > 0) return QStringLiteral("%1 clipped (peak %2 dBFS).").arg(samples, peakText);
    return QStringLiteral("The file holds %1 over full scale (peak %2 dBFS).").arg(samples, peakText);
}

void cancelConversion(ContentState& state)
{
    state.conversionMessage = QStringLiteral("Conversion cancelled.");
    state.conversionWarning.reset();
    state.isConverting = false;
}

void failConversion(ContentState& state, const QString& description)
{
    state.errorMessage = QStringLiteral("Conversion failed: ") + description;
    state.isConverting = false;
}

} // namespace fennick
