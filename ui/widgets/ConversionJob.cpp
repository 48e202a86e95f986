#include "ConversionJob.h"

#include "BackgroundWork.h"
#include "FennickEngine.h"
#include "LocaleFormat.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QThreadPool>

#include <limits>

#include <cmath>
#include <exception>
#include <filesystem>
#include <utility>

namespace fennick {

QString defaultOutputFileName(const QUrl& source, const ConversionSettings& settings)
{
    const std::filesystem::path name = source.fileName().toStdString();
    return QString::fromStdString(fennick::defaultOutputFileName(name, settings).string());
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
        ConversionReport report;
        try {
            report = convertWav(localPath(request.source), localPath(request.destination), request.settings, progress,
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
        postToMainThread([finished = observer.finished, report] { finished(report); });
    }));
    return stop;
}

std::optional<QString> runWarning(const ConversionReport& report, const QLocale& locale)
{
    std::string text;
    for (const std::string& warning : runWarnings(report, localeNumberText(locale)))
        text += (text.empty() ? "" : " ") + warning;
    if (text.empty()) return std::nullopt;
    return QString::fromStdString(text);
}

std::filesystem::path localPath(const QUrl& url)
{
    return std::filesystem::path(QFile::encodeName(url.toLocalFile()).toStdString());
}

} // namespace fennick
