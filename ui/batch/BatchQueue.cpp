#include "BatchQueue.h"

#include "BackgroundWork.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <exception>
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

void BatchQueue::startAlbum(std::vector<BatchJob> jobs)
{
    cancel();
    clock_.start();
    if (jobs.empty()) return;
    std::vector<AlbumTrack> tracks;
    std::vector<std::size_t> rows;
    bool replace = false;
    for (const BatchJob& job : jobs) {
        createOutputFolder(localPath(job.request.destination).parent_path());
        tracks.push_back({localPath(job.request.source), localPath(job.request.destination)});
        rows.push_back(job.row);
        replace = replace || job.request.replaceExisting;
    }
    const ConversionSettings settings = jobs.front().request.settings;
    handlers_.started(rows.front());
    std::stop_source stop;
    running_[rows.front()] = stop;
    const QPointer<BatchQueue> run(this);
    const auto current = [run, number = runNumber_] { return run && run->runNumber_ == number; };
    conversionPool().start(QRunnable::create([=, token = stop.get_token()] {
        std::size_t saved = 0;
        try {
            convertAlbum(
                tracks, settings,
                [&](std::size_t track, double fraction) {
                    postToMainThread([run, current, row = rows[track], fraction] {
                        if (current()) run->handlers_.progressed(row, fraction);
                    });
                },
                {token, replace},
                [&](std::size_t track, const ConversionReport& report) {
                    saved = track + 1;
                    postToMainThread([run, current, rows, track, report] {
                        if (!current()) return;
                        run->handlers_.saved(rows[track], report);
                        if (track + 1 < rows.size()) run->handlers_.started(rows[track + 1]);
                    });
                });
        } catch (const ConversionCancelled&) {
            return; // the window has said so already, or is gone
        } catch (const std::exception& error) {
            postToMainThread(
                [run, current, row = rows[std::min(saved, rows.size() - 1)], text = QString::fromUtf8(error.what())] {
                    if (current()) run->handlers_.failed(row, text);
                });
        }
        postToMainThread([run, current] {
            if (!current()) return;
            run->running_.clear();
            run->handlers_.finished();
        });
    }));
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
