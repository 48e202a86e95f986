#include "BackgroundMeter.h"

#include "FennickEngine.h"

#include <algorithm>
#include <system_error>
#include <type_traits>

namespace fennick {

namespace {

// Blocks queued for the meter; at 65536 frames each, a little more than the groups hold in flight.
constexpr std::size_t kSlots = 3;
constexpr std::size_t kSlotFrames = 65536;

} // namespace

BackgroundMeter::BackgroundMeter(std::uint32_t channels, double sampleRate, std::span<const int> channelMap,
    LevelMeter::CeilingPeak ceilingPeak, LevelMeter::PeakSource peakSource)
    : meter_(std::make_shared<LevelMeter>(channels, sampleRate, channelMap, ceilingPeak, peakSource)),
      channels_(channels), slots_(kSlots)
{
    for (Slot& slot : slots_) slot.samples.resize(kSlotFrames * channels);
    try {
        thread_ = std::jthread([this](std::stop_token stop) { work(stop); });
    } catch (const std::system_error&) {
        throw ConversionError("There is not enough memory for this conversion.");
    }
}

BackgroundMeter::~BackgroundMeter()
{
    thread_.request_stop();
    {
        std::lock_guard lock(mutex_); // a thread between its check and its wait is waiting once this is held
    }
    changed_.notify_all();
}

void BackgroundMeter::add(const float* interleaved, std::size_t frames) { addAs(interleaved, frames); }

void BackgroundMeter::add(const std::int16_t* interleaved, std::size_t frames) { addAs(interleaved, frames); }

void BackgroundMeter::measureOnCallersThread()
{
    thread_.request_stop();
    {
        std::lock_guard lock(mutex_); // a thread between its check and its wait is waiting once this is held
    }
    changed_.notify_all();
    thread_.join();
    inline_ = true;
}

template <typename Sample> void BackgroundMeter::addAs(const Sample* interleaved, std::size_t frames)
{
    if (inline_) {
        if constexpr (std::is_same_v<Sample, float>) {
            meter_->add(interleaved, frames);
        } else {
            Slot& staging = slots_.front();
            for (std::size_t done = 0; done < frames; done += kSlotFrames) {
                const std::size_t part = std::min(frames - done, kSlotFrames);
                const Sample* const from = interleaved + done * channels_;
                for (std::size_t i = 0; i < part * channels_; ++i)
                    staging.samples[i] = static_cast<float>(from[i]) / 32768.0f;
                meter_->add(staging.samples.data(), part);
            }
        }
        return;
    }
    while (frames > 0) {
        const std::size_t part = std::min(frames, kSlotFrames);
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return filled_ - measured_ < kSlots || failure_; });
            if (failure_) std::rethrow_exception(failure_);
            slot = &slots_[filled_ % kSlots];
        }
        const std::size_t count = part * channels_;
        if constexpr (std::is_same_v<Sample, float>) {
            std::copy_n(interleaved, count, slot->samples.data());
        } else {
            for (std::size_t i = 0; i < count; ++i) slot->samples[i] = static_cast<float>(interleaved[i]) / 32768.0f;
        }
        slot->frames = part;
        {
            std::lock_guard lock(mutex_);
            ++filled_;
        }
        changed_.notify_all();
        interleaved += count;
        frames -= part;
    }
}

void BackgroundMeter::work(const std::stop_token& stop)
{
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop.stop_requested() || ending_ || filled_ > measured_; });
            if (stop.stop_requested() || filled_ == measured_) return;
            slot = &slots_[measured_ % kSlots];
        }
        try {
            meter_->add(slot->samples.data(), slot->frames);
        } catch (...) {
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        {
            std::lock_guard lock(mutex_);
            ++measured_;
        }
        changed_.notify_all();
    }
}

std::shared_ptr<LevelMeter> BackgroundMeter::finish()
{
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (failure_) std::rethrow_exception(failure_);
    return meter_;
}

} // namespace fennick
