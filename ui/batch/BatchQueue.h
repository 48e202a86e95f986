#pragma once

// A batch window's run: the files still to convert, a few at a time, each through a conversion job
// of its own. Lives on the main thread; its jobs reach it only through a weak handle and never wait.

#include "BatchState.h"

#include <QElapsedTimer>
#include <QObject>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <stop_token>
#include <vector>

namespace fennick {

class BatchQueue : public QObject {
public:
    // Called on the main thread as the jobs go; never after cancel() or once the run is gone.
    struct Handlers {
        std::function<void(std::size_t row)> started;
        std::function<void(std::size_t row, double fraction)> progressed;
        std::function<void(std::size_t row, const ConversionReport& report)> saved;
        std::function<void(std::size_t row, const QString& description)> failed;
        std::function<void()> finished; // the last job ended
    };

    explicit BatchQueue(Handlers handlers) : handlers_(std::move(handlers)) { }
    ~BatchQueue() override; // stops the jobs still running

    // Starts the jobs in their order, at most `maxJobs` at a time; a later start() or cancel()
    // drops whatever the earlier jobs still report.
    void start(std::vector<BatchJob> jobs, int maxJobs);
    // Starts the jobs as one gapless album (convertAlbum): one file after the other, each started
    // once the one before is saved; a failure ends the album there.
    void startAlbum(std::vector<BatchJob> jobs);
    void cancel();
    bool isRunning() const { return !running_.empty(); }
    double elapsedSeconds() const { return static_cast<double>(clock_.elapsed()) / 1000.0; }

private:
    void startNext();
    void jobEnded(std::size_t row);

    Handlers handlers_;
    int maxJobs_ = 1;
    std::deque<BatchJob> queue_;
    std::map<std::size_t, std::stop_source> running_; // row, its job
    std::uint64_t runNumber_ = 0;
    QElapsedTimer clock_;
};

} // namespace fennick
