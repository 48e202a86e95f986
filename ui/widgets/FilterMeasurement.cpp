#include "FilterMeasurement.h"

#include "OneThreadPool.h"

#include <QCoreApplication>
#include <QPointer>

#include <exception>
#include <utility>

namespace fennick {

QThreadPool& filterMeasurementPool()
{
    // One thread: requests are coalesced, so there is never more than one job to run.
    static OneThreadPool pool;
    return pool;
}

void FilterMeasurement::request(const FilterRequest& request)
{
    pending_ = request;
    if (!isRunning_) startNext();
}

void FilterMeasurement::startNext()
{
    if (!pending_) return;
    const FilterRequest request = *std::exchange(pending_, std::nullopt);
    isRunning_ = true;
    // The job may outlive this object (a closed window); it posts to the application and reaches
    // this object only through a weak handle, on the main thread.
    const QPointer<FilterMeasurement> self(this);
    filterMeasurementPool().start([self, request] {
        std::shared_ptr<const FilterResponse> response;
        QString error;
        try {
            response = std::make_shared<const FilterResponse>(
                measureFilterResponse(request.sourceRate, request.targetRate, request.options));
        } catch (const std::exception& failure) {
            error = QString::fromUtf8(failure.what());
        } catch (...) {
            error = QStringLiteral("Unknown error.");
        }
        QCoreApplication* const application = QCoreApplication::instance();
        if (application == nullptr) return; // the process is ending
        QMetaObject::invokeMethod(
            application,
            [self, response = std::move(response), error] {
                if (!self) return;
                self->isRunning_ = false;
                if (response) {
                    emit self->measured(response);
                } else {
                    emit self->failed(error);
                }
                if (self) self->startNext();
            },
            Qt::QueuedConnection);
    });
}

} // namespace fennick
