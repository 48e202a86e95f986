#pragma once

// A source's loudness and peaks, measured off the main thread when the file is chosen, so that the
// window never waits for a long file to be read through.

#include "FennickEngine.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <stop_token>

class QThreadPool;

namespace fennick {

// The thread source measurements run on, apart from conversions and filter measurements.
QThreadPool& sourceMeterPool();

// One measurement at a time: a newer request stops the older one within a block, and whatever the
// older one still reports is dropped. Results arrive on the main thread; nothing here waits.
class SourceMeter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SourceMeter() override; // stops the measurement under way

    // Main thread only; returns at once.
    void request(const QUrl& source);
    // Stops the measurement under way and drops its result.
    void cancel();
    // A conversion is about to take both cores: the measurement under way stops, to be started
    // again by resume() rather than slow the run down. The source line keeps waiting meanwhile.
    void pause();
    void resume();

signals:
    void measured(const QUrl& source, const fennick::LevelFigures& figures);
    void failed(const QUrl& source, const QString& description);

private:
    struct Measurement {
        QUrl source;
        std::stop_source stop;
    };
    std::optional<Measurement> measuring_; // the one under way
    std::optional<QUrl> paused_;
    std::uint64_t requestNumber_ = 0;
};

} // namespace fennick
