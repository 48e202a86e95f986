#include "ConversionRun.h"

#include "ConvertWav.h"
#include "SoxrApi.h"
#include "SourceFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QThreadPool>

#include <exception>
#include <utility>

namespace fennick {

namespace {

QString formatSuffix(OutputFormat format)
{
    switch (format) {
    case OutputFormat::int16: return QStringLiteral("16");
    case OutputFormat::int24: return QStringLiteral("24");
    case OutputFormat::float32: return QStringLiteral("32f");
    }
    return {};
}

// Runs `task` on the main thread later; never waits for it.
void postToMainThread(std::function<void()> task)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

} // namespace

QString defaultOutputFileName(const QUrl& source, TargetSampleRate targetRate, OutputFormat outputFormat)
{
    const QString name = source.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    return base + QLatin1Char('_') + QString::number(hertz(targetRate)) + QLatin1Char('-') + formatSuffix(outputFormat)
        + QStringLiteral(".wav");
}

void startConversionJob(const ConversionRequest& request, ConversionObserver observer)
{
    QThreadPool* pool = QThreadPool::globalInstance();
    // A run gets a thread of its own beyond the pool's limit: Qt converts and scales images on
    // the same pool and the main thread waits for that work, so runs that filled the pool
    // would freeze every window until one of them ended.
    pool->reserveThread();
    pool->startOnReservedThread(QRunnable::create([request, observer = std::move(observer)] {
        const auto progress = [&observer](double fraction) {
            postToMainThread([report = observer.progressed, fraction] { report(fraction); });
        };
        try {
            convertWav(localPath(request.source), localPath(request.destination), request.targetRate,
                request.outputFormat, request.options, progress);
        } catch (const std::exception& error) {
            postToMainThread([failed = observer.failed, text = QString::fromUtf8(error.what())] { failed(text); });
            return;
        } catch (...) {
            postToMainThread([failed = observer.failed] { failed(QStringLiteral("Unknown error.")); });
            return;
        }
        postToMainThread([finished = observer.finished] { finished(); });
    }));
}

void finishConversion(ContentState& state, const QUrl& destination)
{
    const QString version = QString::fromUtf8(soxrVersionText(SoxrApi::shared()));
    state.conversionMessage = QStringLiteral("Saved ") + destination.fileName() + QStringLiteral(" (") + version
        + QLatin1Char(')');
    state.lastSavedURL = destination;
    state.isConverting = false;
}

void failConversion(ContentState& state, const QString& description)
{
    state.errorMessage = QStringLiteral("Conversion failed: ") + description;
    state.isConverting = false;
}

} // namespace fennick
