#include "BatchQueue.h"

#include <QPointer>

#include <algorithm>
#include <iterator>

namespace fennick {

BatchQueue::~BatchQueue()
{
    for (auto& [row, stop] : running_) stop.request_stop();
}

void BatchQueue::start(std::vector<BatchJob> jobs, int maxJobs)
{
    cancel();
    queue_.assign(std::make_move_iterator(jobs.begin()), std::make_move_iterator(jobs.end()));
    maxJobs_ = std::max(1, maxJobs);
    clock_.start();
    startNext();
}

void BatchQueue::cancel()
{
    for (auto& [row, stop] : running_) stop.request_stop();
    running_.clear();
    queue_.clear();
    ++runNumber_;
}

void BatchQueue::startNext()
{
    while (static_cast<int>(running_.size()) < maxJobs_ && !queue_.empty()) {
        const BatchJob job = std::move(queue_.front());
        queue_.pop_front();
        handlers_.started(job.row);
        // The mirrored subfolder; one that cannot be made fails the file in the engine.
        createOutputFolder(localPath(job.request.destination).parent_path());
        // The job may outlive this run; its reports are dropped once the run is gone or started again.
        const QPointer<BatchQueue> run(this);
        const auto current = [run, number = runNumber_] { return run && run->runNumber_ == number; };
        const std::size_t row = job.row;
        running_[row] = startConversionJob(job.request,
            {
                [run, current, row](double fraction) {
                    if (current()) run->handlers_.progressed(row, fraction);
                },
                [run, current, row](const ConversionReport& report) {
                    if (!current()) return;
                    run->handlers_.saved(row, report);
                    run->jobEnded(row);
                },
                [run, current, row](const QString& description) {
                    if (!current()) return;
                    run->handlers_.failed(row, description);
                    run->jobEnded(row);
                },
            });
    }
}

void BatchQueue::jobEnded(std::size_t row)
{
    running_.erase(row);
    startNext();
    if (running_.empty()) handlers_.finished();
}

} // namespace fennick
