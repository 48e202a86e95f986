#pragma once

#include "LevelMeter.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace fennick {

// A LevelMeter on a thread of its own, fed copies of the blocks a conversion writes, so that its
// cost falls on a core the conversion leaves idle. A few blocks are kept in flight; add() waits
// only when the meter is that far behind.
class BackgroundMeter {
public:
    // As LevelMeter's; throws what it throws, or ConversionError when no thread can be started.
    BackgroundMeter(std::uint32_t channels, double sampleRate, std::span<const int> channelMap,
        LevelMeter::CeilingPeak ceilingPeak, LevelMeter::PeakSource peakSource = LevelMeter::PeakSource::own);
    ~BackgroundMeter(); // stops the thread; what it had not measured is dropped
    BackgroundMeter(const BackgroundMeter&) = delete;
    BackgroundMeter& operator=(const BackgroundMeter&) = delete;

    // Copies `frames` interleaved frames in; 16-bit samples are measured as the floats they stand for.
    void add(const float* interleaved, std::size_t frames);
    void add(const std::int16_t* interleaved, std::size_t frames);

    // Measures what is still queued and hands over the meter; raises a failure of the meter's thread.
    std::shared_ptr<LevelMeter> finish();

    // From here on add() measures on the calling thread, floats without a copy: for a caller whose
    // workers take the measuring as a task of their own, in order, so that it competes with no
    // extra thread for the cores. Before the first add().
    void measureOnCallersThread();
    bool onCallersThread() const { return inline_; }

private:
    struct Slot {
        std::vector<float> samples;
        std::size_t frames = 0;
    };
    template <typename Sample> void addAs(const Sample* interleaved, std::size_t frames);
    void work(const std::stop_token& stop);

    std::shared_ptr<LevelMeter> meter_;
    std::uint32_t channels_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    std::size_t filled_ = 0, measured_ = 0; // slots handed over and slots measured, counted forever
    bool ending_ = false;
    bool inline_ = false; // measured on the caller's thread
    std::exception_ptr failure_;
    std::jthread thread_; // last: stopped and joined first
};

} // namespace fennick
