#include "SourceMeter.h"

#include "ConversionJob.h"
#include "OneThreadPool.h"

#include <QCoreApplication>
#include <QPointer>

#include <exception>
#include <utility>

namespace fennick {

QThreadPool& sourceMeterPool()
{
    // One thread: an older measurement is stopped before a newer one is started, so it frees the
    // thread within a block.
    static OneThreadPool pool;
    return pool;
}

SourceMeter::~SourceMeter() { cancel(); }

void SourceMeter::cancel()
{
    if (stop_) stop_->request_stop();
    stop_.reset();
    ++requestNumber_;
}

void SourceMeter::request(const QUrl& source)
{
    cancel();
    stop_.emplace();
    const std::uint64_t number = requestNumber_;
    // The job may outlive this object (a closed window); it reaches it only through a weak handle,
    // on the main thread.
    const QPointer<SourceMeter> self(this);
    sourceMeterPool().start([self, number, source, stop = stop_->get_token()] {
        std::optional<LevelFigures> figures;
        QString error;
        try {
            figures = analyzeFile(localPath(source), stop);
        } catch (const ConversionCancelled&) {
            return;
        } catch (const std::exception& failure) {
            error = QString::fromUtf8(failure.what());
        } catch (...) {
            error = QStringLiteral("Unknown error.");
        }
        QCoreApplication* const application = QCoreApplication::instance();
        if (application == nullptr) return; // the process is ending
        QMetaObject::invokeMethod(
            application,
            [self, number, source, figures, error] {
                if (!self || self->requestNumber_ != number) return;
                self->stop_.reset();
                if (figures) {
                    emit self->measured(source, *figures);
                } else {
                    emit self->failed(source, error);
                }
            },
            Qt::QueuedConnection);
    });
}

} // namespace fennick
