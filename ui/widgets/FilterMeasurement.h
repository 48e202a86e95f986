#pragma once

// Step 3's measurement of the filter, off the main thread, so that the plot can follow a slider
// being dragged while the window stays responsive.

#include "FennickEngine.h"

#include <QObject>
#include <QString>

class QThreadPool;

#include <cstdint>
#include <memory>
#include <optional>

namespace fennick {

struct FilterRequest {
    double sourceRate = 44100; // hertz
    double targetRate = 44100;
    ConversionOptions options;
    friend bool operator==(const FilterRequest&, const FilterRequest&) = default;
};

// The one thread measurements run on: a pool of their own, so that a slow one never holds up a
// conversion or Qt's own use of the global pool (its painting waits for that).
QThreadPool& filterMeasurementPool();

// One measurement at a time on filterMeasurementPool(); requests made meanwhile are
// coalesced into the newest, which runs next. Results arrive on the main thread in the order
// they were asked for, so an older one never follows a newer one; nothing here ever waits.
class FilterMeasurement : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Main thread only; returns at once.
    void request(const FilterRequest& request);

signals:
    void measured(std::shared_ptr<const fennick::FilterResponse> response);
    void failed(const QString& description);

private:
    void startNext();

    std::optional<FilterRequest> pending_;
    bool isRunning_ = false;
};

} // namespace fennick
