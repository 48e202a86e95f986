#include "SourceMeter.h"

#include "BackgroundWork.h"
#include "ConversionJob.h"

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
    if (measuring_) measuring_->stop.request_stop();
    measuring_.reset();
    paused_.reset();
    ++requestNumber_;
}

void SourceMeter::pause()
{
    std::optional<QUrl> source;
    if (measuring_) source = measuring_->source;
    cancel();
    paused_ = source;
}

void SourceMeter::resume()
{
    if (const std::optional<QUrl> source = paused_) request(*source);
}

void SourceMeter::request(const QUrl& source)
{
    cancel();
    measuring_.emplace(Measurement{source, {}});
    const std::uint64_t number = requestNumber_;
    runInBackground(
        sourceMeterPool(), this,
        [source, stop = measuring_->stop.get_token()] { return analyzeFile(localPath(source), stop); },
        [number, source](SourceMeter& self, const std::optional<LevelFigures>& figures, const QString& error) {
            if (self.requestNumber_ != number) return;
            self.measuring_.reset();
            if (figures) {
                emit self.measured(source, *figures);
            } else {
                emit self.failed(source, error);
            }
        });
}

} // namespace fennick
