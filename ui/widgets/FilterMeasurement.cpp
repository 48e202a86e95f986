#include "FilterMeasurement.h"

#include "BackgroundWork.h"

#include <QPointer>

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
    runInBackground(
        filterMeasurementPool(), this,
        [request] {
            return std::make_shared<const FilterResponse>(
                measureFilterResponse(request.sourceRate, request.targetRate, request.options));
        },
        [](FilterMeasurement& self, const std::optional<std::shared_ptr<const FilterResponse>>& response,
            const QString& error) {
            const QPointer<FilterMeasurement> alive(&self);
            self.isRunning_ = false;
            if (response) {
                emit self.measured(*response);
            } else {
                emit self.failed(error);
            }
            if (alive) self.startNext(); // a receiver may have closed the window
        });
}

} // namespace fennick
