#include "ConvertWav.h"

#include "AnalyzeFile.h"
#include "AudioBlock.h"
#include "AudioFileReader.h"
#include "AudioFileWriter.h"
#include "BackgroundMeter.h"
#include "FlacComments.h"
#include "Gain.h"
#include "GroupQuantiser.h"
#include "LevelMeter.h"
#include "Metadata.h"
#include "OutputPass.h"
#include "OversampledPeak.h"
#include "PackedSamples.h"
#include "PendingDestination.h"
#include "Resampler.h"
#include "SoxrApi.h"
#include "SoxrSpecs.h"
#include "ThreadBudget.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace fennick {

namespace {

constexpr const char* kNoMemory = "There is not enough memory for this conversion.";

std::string formatRate(double rate)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.15g Hz", rate);
    return text;
}

void refuseUnusableRates(double inputRate, double targetRate)
{
    if (!(inputRate > 0) || !std::isfinite(inputRate)) {
        throw ConversionError("The source's sample rate of " + formatRate(inputRate) + " cannot be resampled.");
    }
    // A WAV header holds a whole number of hertz; any other rate would be stored wrongly.
    if (!(targetRate > 0) || !std::isfinite(targetRate) || targetRate != std::floor(targetRate)) {
        throw ConversionError("A target sample rate of " + formatRate(targetRate) + " is not possible.");
    }
    if (!outputBlockCapacity(inputRate, targetRate)) {
        throw ConversionError("Resampling from " + formatRate(inputRate) + " to " + formatRate(targetRate)
            + " is not supported: the ratio is too large.");
    }
}

// A header with a tiny rate and many channels asks for an output block of gigabytes that no
// real recording needs (290 channels at 342 Hz: 4.9 GB for a 44-byte file); such a source is
// refused before the destination is touched.
constexpr double kMaxOutputBlockBytes = double(1u << 30);

double outputBlockBytes(double inputRate, double targetRate, std::uint32_t channels, SampleType type)
{
    return double(*outputBlockCapacity(inputRate, targetRate)) * channels * bytesPerSample(type);
}

void refuseOversizedOutputBlock(double inputRate, double targetRate, std::uint32_t channels, SampleType type)
{
    if (outputBlockBytes(inputRate, targetRate, channels, type) > kMaxOutputBlockBytes) {
        throw ConversionError("Resampling " + std::to_string(channels) + " channels from " + formatRate(inputRate)
            + " to " + formatRate(targetRate) + " needs more memory than a conversion may use.");
    }
}

// A file whose name says FLAC must not hold a WAV, and FLAC holds no float.
void refuseUnwritableDestination(const std::filesystem::path& destination, const ConversionSettings& settings)
{
    if (!canHold(settings.type, settings.format))
        throw ConversionError(cannotHoldSentence(settings.type, settings.format));
    const std::optional<OutputType> named = outputTypeOf(destination);
    if (named && *named != settings.type) {
        throw ConversionError(destination.filename().string() + " names a " + std::string(fileTypeName(*named))
            + " file, but the conversion writes " + std::string(fileTypeName(settings.type)) + ".");
    }
    if (isWritableDestination(destination)) return;
    std::string types;
    for (const std::string& type : writableFileTypes()) types += (types.empty() ? "." : ", .") + type;
    throw ConversionError("Fennick writes only " + types + " files; " + destination.filename().string()
        + " names another type. Choose a name ending in " + types + ".");
}

// Replacing the source would lose it, and reading while its own file is rewritten would make no sense.
void refuseSourceAsDestination(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    std::error_code error;
    if (std::filesystem::equivalent(source, destination, error)) {
        throw ConversionError("The destination is the source file itself; choose another file name.");
    }
}

// A bound on the output length, for choosing between a plain WAV and RF64.
std::int64_t expectedOutputFrames(std::int64_t inputFrames, double inputRate, double targetRate)
{
    const double frames = std::ceil(static_cast<double>(inputFrames) * (targetRate / inputRate)) + kInputBlockFrames;
    return frames >= 9.0e18 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(frames);
}

} // namespace

std::optional<std::uint32_t> outputBlockCapacity(double inputRate, double targetRate)
{
    if (!(inputRate > 0) || !(targetRate > 0) || !std::isfinite(inputRate) || !std::isfinite(targetRate)) {
        return std::nullopt;
    }
    const double frames = std::ceil(targetRate * kInputBlockFrames / inputRate);
    constexpr double kLimit = std::numeric_limits<std::int32_t>::max() - 8192.0;
    if (!(frames <= kLimit)) return std::nullopt;
    return static_cast<std::uint32_t>(frames) + 8192u;
}

namespace {

// What a conversion has settled before it resamples anything.
struct Run {
    const SoxrApi& api;
    double inputRate, targetRate;
    std::uint32_t channels;
    OutputFormat format;
    OutputType type;
    Dither dither;
    std::optional<std::uint64_t> ditherSeed;
    soxr_io_spec_t io;
    soxr_quality_spec_t quality;
    soxr_runtime_spec_t runtime; // one thread: libsoxr's own threading stays off, whatever the environment says
    std::uint32_t outputLength;
    AudioFormat outputFormat; // of the blocks written: int16 for 16-bit output, floats otherwise
    SampleType resampledType; // what libsoxr hands back: doubles for 16-bit output, floats otherwise
    const RunControl& control;
    float gain = 1.0f; // on the resampled values before quantising; exactly 1 leaves them untouched
};

// What the quantisers measured up to a block: clips counted from the start, the block's own peak.
struct ClipTally {
    std::uint64_t clipped = 0, overFullScale = 0;
    float peak = 0;
};

// The output file of one source, with its metadata rescaled.
AudioFileWriter openWriter(const Run& run, PendingDestination& pending, const SourceMetadata& metadata,
    std::int64_t sourceFrames, const ChannelLayout& layout, std::optional<std::uint64_t> outputFrames = std::nullopt)
{
    // The metadata's bytes count towards the 4 GiB a plain WAV can hold.
    const auto metadataFrames
        = static_cast<std::int64_t>(metadata.byteSize() / (run.channels * bitsPerSample(run.format) / 8));
    const std::int64_t audioFrames = expectedOutputFrames(sourceFrames, run.inputRate, run.targetRate);
    AudioFileWriter writer(pending.open(), run.targetRate, run.channels, run.format,
        audioFrames + std::min(metadataFrames, std::numeric_limits<std::int64_t>::max() - audioFrames), layout,
        run.type);
    if (!metadata.empty()) {
        writeMetadata(writer.sndfile(), metadata,
            {static_cast<std::int64_t>(run.inputRate), static_cast<std::int64_t>(run.targetRate), sourceFrames,
                run.channels, run.format, run.type, outputFrames});
    }
    return writer;
}

// Puts a complete, closed output in place. What libsndfile cannot write into a FLAC file goes into
// the finished one first.
void commitOutput(
    const Run& run, PendingDestination& pending, const SourceMetadata& metadata, const ChannelLayout& layout)
{
    if (run.type == OutputType::flac && !pending.temporaryPath().empty()) {
        const auto comments = vorbisComments(metadata, layout.mask, run.channels);
        if (!comments.empty()) writeFlacComments(pending.temporaryPath(), comments);
    }
    pending.commit();
}

// Which source a block was read from, and how far that source had been read after it.
struct ReadMark {
    std::size_t source = 0;
    std::int64_t position = 0;
};

// Where a run's blocks come from and where its output goes: one source and one file, or the tracks
// of an album one after the other. The resamplers (and whatever works on the stream after them)
// belong to the run and go on from one source to the next; only the files are the ends' own.
class StreamEnds {
public:
    virtual ~StreamEnds() = default;
    virtual AudioFormat inputFormat() const = 0;
    // Fills `block` from one source at most; false once every source is read.
    virtual bool read(AudioBlock& block, ReadMark& mark) = 0;
    // The bytes a sample when readPacked() may serve instead of read(): the source's integers as
    // stored, which the groups unpack, each its own channels, on their workers' threads; else 0.
    virtual unsigned packedSampleBytes() const { return 0; }
    // Fills `bytes` (kInputBlockFrames frames and one byte) from one source; the frames, 0 at the end.
    virtual std::uint32_t readPacked(unsigned char* /*bytes*/, ReadMark& /*mark*/) { return 0; }
    // The block read with `mark` is written.
    virtual void progressed(const ReadMark& mark) = 0;
    // The length of the first source, which seeds the dither; known once its first block is read.
    virtual std::int64_t firstSourceFrames() const = 0;
    // Called once everything the run needs is in hand, before the first write.
    virtual void open() = 0;
    // The next frames of output, in order; `tally`: what the quantisers measured of them.
    virtual void write(const AudioBlock& block, const ClipTally& tally) = 0;
    // All the output is written.
    virtual void finish() = 0;
    // Whether the groups measure the output's true and sample peaks as they quantise it, on their
    // own threads, for a level meter that then leaves them out; and those peaks, before finish().
    virtual bool peaksFromGroups() const { return false; }
    virtual void givePeaks(const OversampledPeak&) { }
    // Whether the ends leave the level meter out of write() from here on, to measure(), which the
    // run's workers then call for every block once it is written, in order, as a task of their own
    // rather than on a thread that competes with them for the cores. Asked once, before open().
    virtual bool measureApart() { return false; }
    virtual void measure(const AudioBlock&) { }
};

// The clip report of the blocks written to one file.
class ClipCount {
public:
    explicit ClipCount(const ClipTally& start = {}) : start_(start), last_(start) { }
    void observe(const ClipTally& tally)
    {
        last_ = tally;
        peak_ = std::max(peak_, tally.peak);
    }
    ClipReport report() const
    {
        ClipReport report;
        report.clippedSamples = last_.clipped - start_.clipped;
        report.samplesOverFullScale = last_.overFullScale - start_.overFullScale;
        report.peakDbfs = peak_ > 0 ? 20.0 * std::log10(static_cast<double>(peak_)) : -INFINITY;
        return report;
    }
    const ClipTally& last() const { return last_; }

private:
    ClipTally start_, last_;
    float peak_ = 0;
};

// Blocks in flight between reading and writing when groups work on threads of their own: each
// group has this many output slots, the run this many input blocks, so memory stays flat however
// long the file. A single group works on the calling thread, one block at a time.
constexpr std::size_t kRing = 2;

constexpr std::size_t blocksInFlight(std::size_t groupCount) { return groupCount > 1 ? kRing : 1; }

// One block's input for the groups: its interleaved float samples or its packed integers as the
// source stores them, or neither for the flush.
struct Job {
    const float* samples = nullptr;
    std::uint32_t frames = 0;
    const unsigned char* packed = nullptr;
    bool flush() const { return samples == nullptr && packed == nullptr; }
};

// Some adjacent channels with the resampler and the quantiser that are theirs alone, and an output
// slot for each block in flight.
struct ChannelGroup {
    // `packedBytes`: the bytes a sample of the packed blocks it takes, or 0 for float blocks.
    ChannelGroup(const Run& run, std::uint32_t first, std::uint32_t count, std::size_t slotCount, unsigned packedBytes)
        : first(first), count(count), allChannels(run.channels), packedBytes(packedBytes),
          resampler(run.api, run.inputRate, run.targetRate, count, run.io, run.quality, run.runtime),
          quantiser(run.format, run.dither, run.targetRate, first, count, slotCount), gain(run.gain)
    {
        // A group of all the channels takes a float block as it was read.
        if (count < allChannels || packedBytes > 0) {
            input.reset(new (std::nothrow) float[std::size_t{kInputBlockFrames} * count]);
            if (!input) throw ConversionError(kNoMemory);
        }
        slots.reserve(slotCount);
        for (std::size_t i = 0; i < slotCount; ++i) {
            slots.emplace_back(AudioFormat{run.resampledType, run.targetRate, count}, run.outputLength);
        }
        written.resize(slotCount);
        direct.resize(slotCount);
        int16 = run.outputFormat.sampleType == SampleType::int16;
        tallies.resize(slotCount);
    }

    // Resamples the job's frames of all channels into `slot`, then quantises them, into the run's
    // block for the slot when there is one with room; the flush's job has none.
    void process(const Job& job, std::size_t slot)
    {
        ResampledFrames& out = slots[slot];
        out.clear();
        if (job.flush()) {
            resampler.flush(out);
        } else {
            resample(job, out);
        }
        AudioBlock* const into = slot < shared.size() ? shared[slot] : nullptr;
        direct[slot] = into != nullptr && out.frames() <= into->frameCapacity();
        void* to = nullptr;
        if (direct[slot]) {
            to = static_cast<std::byte*>(into->data()) + std::size_t{first} * bytesPerSample(into->format().sampleType);
        }
        written[slot] = quantiser.quantise(out.block(), slot, gain, to, allChannels);
        tallies[slot] = {quantiser.clips(), quantiser.overFullScale(), quantiser.peak()};
        quantiser.restartPeak();
        if (peaks)
            measurePeaks(to != nullptr ? to : written[slot]->data(), to != nullptr ? allChannels : count, out.frames());
    }

    // The group's channels as they are written, full scale 1.0 (as the level meter takes them), into its peak meter.
    void measurePeaks(const void* data, std::size_t frameStride, std::uint32_t frames)
    {
        if (!int16) return peaks->add(static_cast<const float*>(data), frames, frameStride);
        const auto* samples = static_cast<const std::int16_t*>(data);
        const std::size_t part = peakStaging.size() / count;
        for (std::size_t done = 0; done < frames; done += part) {
            const std::size_t n = std::min<std::size_t>(part, frames - done);
            for (std::size_t f = 0; f < n; ++f) {
                for (std::uint32_t c = 0; c < count; ++c)
                    peakStaging[f * count + c] = static_cast<float>(samples[(done + f) * frameStride + c]) / 32768.0f;
            }
            peaks->add(peakStaging.data(), n);
        }
    }

    // Measures its channels' peaks from here on.
    void measurePeaksToo(const Run& run)
    {
        peaks.emplace(count, run.targetRate, OversampledPeak::Filter::bs1770);
        if (int16) peakStaging.resize(std::size_t{4096} * count);
    }

    // The block `slot` is written from, when it was not quantised into the run's block.
    const AudioBlock& output(std::size_t slot) const { return *written[slot]; }

    void resample(const Job& job, ResampledFrames& out)
    {
        const float* samples = job.samples;
        if (job.packed) {
            unpackChannels(packedBytes, job.packed, job.frames, allChannels, first, count, input.get());
            samples = input.get();
        } else if (input) {
            takeChannels(samples, job.frames, allChannels, first, count, input.get());
            samples = input.get();
        }
        resampler.process(samples, job.frames, out);
    }

    std::uint32_t first, count, allChannels;
    unsigned packedBytes;
    Resampler resampler;
    GroupQuantiser quantiser;
    float gain;
    std::unique_ptr<float[]> input; // this group's channels of a block, unless it takes a float block as read
    std::vector<ResampledFrames> slots; // the resampled values
    std::vector<const AudioBlock*> written; // what each slot's values became, unless direct
    std::vector<AudioBlock*> shared; // the run's block of each slot, which all groups fill; none for one group
    std::vector<char> direct; // whether the slot's values went into its shared block
    std::vector<ClipTally> tallies; // the quantiser's figures once each slot was filled
    bool int16 = false; // what is written: 16-bit samples, else floats
    std::optional<OversampledPeak> peaks; // of what is written, when the level meter leaves them to the groups
    std::vector<float> peakStaging; // 16-bit samples as floats, for it
};

// Works a run's blocks through with a number of workers, the calling thread among them. Each takes
// whatever is next: writing the oldest block once every group has finished it, reading the next one
// while a slot is free, or resampling a posted block for the group furthest behind. So no worker
// waits for a partner of its own while there is work. A group takes its blocks in order and on one
// worker at a time (its resampler carries its state from block to block); reading and writing are
// done by one worker at a time, in order. Everything a task hands on passes through the mutex.
// The first failure stops the reading and resampling, and the blocks every group finished before
// it are still written (a failed read or write stops everything); it is raised on the calling
// thread once the other workers are joined.
class Crew {
public:
    // Reads block `index` into slot index % depth; the job null once the sources are done.
    using Read = std::function<Job(std::uint64_t index)>;
    // Writes block `index` from its slot; `flush`: the block of the resamplers' tails.
    using Write = std::function<void(std::uint64_t index, bool flush)>;
    // Measures block `index`, once written, from its slot; none when the writing measures.
    using Measure = std::function<void(std::uint64_t index)>;

    Crew(std::vector<std::unique_ptr<ChannelGroup>>& groups, std::size_t depth, Read read, Write write,
        Measure measure = {})
        : groups_(groups), depth_(depth), read_(std::move(read)), write_(std::move(write)),
          measure_(std::move(measure)), done_(groups.size(), 0), busy_(groups.size(), 0)
    {
    }

    // Returns once every block is written, or raises the first failure.
    void run(unsigned workers)
    {
        {
            std::vector<std::jthread> helpers; // joined as it goes, whatever happens
            try {
                for (unsigned i = 1; i < workers; ++i) helpers.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                std::lock_guard lock(mutex_);
                fail(std::make_exception_ptr(ConversionError(kNoMemory)), true);
                changed_.notify_all();
            }
            work();
        }
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    enum class Kind { none, read, process, write, measure };
    struct Task {
        Kind kind = Kind::none;
        std::uint64_t index = 0;
        std::size_t group = 0;
    };

    bool allFinished(std::uint64_t index) const
    {
        return std::all_of(done_.begin(), done_.end(), [index](std::uint64_t done) { return done > index; });
    }

    // Blocks whose slots may be filled again: written, and measured when measuring is a task.
    std::uint64_t released() const { return measure_ ? std::min(written_, measured_) : written_; }

    // The next task, with the lock held. Measuring comes before resampling: one block after the
    // other, it is the longest chain of the run.
    Task next() const
    {
        if (!io_) {
            if (!ioFailed_ && written_ < posted_ && allFinished(written_)) return {Kind::write, written_};
            if (!failure_ && !flushed_ && posted_ < released() + depth_) return {Kind::read, posted_};
        }
        if (failure_) return {};
        if (measure_ && !measuring_ && measured_ < written_) return {Kind::measure, measured_};
        Task task;
        for (std::size_t g = 0; g < groups_.size(); ++g) {
            if (busy_[g] || done_[g] >= posted_) continue;
            if (task.kind == Kind::none || done_[g] < done_[task.group]) task = {Kind::process, done_[g], g};
        }
        return task;
    }

    void work()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            const Task task = next();
            if (task.kind == Kind::none) {
                // A failure leaves nothing this worker could still do; a busy one finds its own follow-up.
                if (failure_ || (flushed_ && written_ == posted_ && (!measure_ || measured_ == posted_))) return;
                changed_.wait(lock);
                continue;
            }
            Job job = task.kind == Kind::read ? Job{} : jobs_[task.index % depth_];
            if (task.kind == Kind::process) {
                busy_[task.group] = 1;
            } else if (task.kind == Kind::measure) {
                measuring_ = true;
            } else {
                io_ = true;
            }
            lock.unlock();
            std::exception_ptr failure;
            try {
                if (task.kind == Kind::read) job = read_(task.index);
                if (task.kind == Kind::process) groups_[task.group]->process(job, task.index % depth_);
                if (task.kind == Kind::write) write_(task.index, job.flush());
                if (task.kind == Kind::measure) measure_(task.index);
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            if (task.kind == Kind::process) {
                busy_[task.group] = 0;
                if (failure)
                    fail(failure, false);
                else
                    done_[task.group] = task.index + 1;
            } else if (task.kind == Kind::measure) {
                measuring_ = false;
                if (failure) {
                    fail(failure, true);
                } else {
                    ++measured_;
                }
            } else {
                io_ = false;
                if (failure) {
                    fail(failure, true);
                } else if (task.kind == Kind::read) {
                    jobs_[task.index % depth_] = job;
                    flushed_ = job.flush();
                    ++posted_;
                } else {
                    ++written_;
                }
            }
            changed_.notify_all();
        }
    }

    void fail(const std::exception_ptr& failure, bool inInputOrOutput)
    {
        if (!failure_) failure_ = failure;
        ioFailed_ = ioFailed_ || inInputOrOutput;
    }

    std::vector<std::unique_ptr<ChannelGroup>>& groups_;
    const std::size_t depth_;
    const Read read_;
    const Write write_;
    const Measure measure_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Job jobs_[kRing]{}; // of the blocks in flight, by slot
    std::uint64_t posted_ = 0, written_ = 0, measured_ = 0; // blocks read, written, and measured
    bool measuring_ = false; // a worker is measuring
    bool flushed_ = false; // the last block posted is the flush
    bool io_ = false; // a worker is reading or writing
    std::vector<std::uint64_t> done_; // blocks each group has finished
    std::vector<char> busy_; // whether a worker is resampling for the group
    std::exception_ptr failure_;
    bool ioFailed_ = false; // the failure was a read's or a write's: nothing more is written
};

template <typename Sample>
void interleave(const std::vector<std::unique_ptr<ChannelGroup>>& groups, std::size_t slot, std::size_t from,
    std::size_t frames, Sample* out, std::uint32_t channels)
{
    for (const auto& each : groups) {
        ChannelGroup& group = *each;
        const auto* samples = static_cast<const Sample*>(group.output(slot).data()) + from * group.count;
        Sample* to = out + group.first;
        const std::uint32_t count = group.count;
        for (std::size_t f = 0; f < frames; ++f) {
            for (std::uint32_t c = 0; c < count; ++c) to[f * channels + c] = samples[f * count + c];
        }
    }
}

// The channels split evenly into `groupCount` groups resampled side by side by as many workers, this
// thread among them, which also read ahead and write behind; or, for one group, read, resampled and
// written in turn on this thread.
void convert(const Run& run, unsigned groupCount, StreamEnds& ends)
{
    const std::size_t depth = blocksInFlight(groupCount);
    // A source of packed integers is read as stored, and each group unpacks its own channels.
    const unsigned packedBytes = ends.packedSampleBytes();
    const bool packed = packedBytes > 0;
    std::vector<std::unique_ptr<ChannelGroup>> groups;
    for (unsigned i = 0; i < groupCount; ++i) {
        const std::uint32_t first = run.channels * i / groupCount, end = run.channels * (i + 1) / groupCount;
        groups.push_back(std::make_unique<ChannelGroup>(run, first, end - first, depth, packedBytes));
    }
    if (ends.peaksFromGroups()) {
        for (const auto& group : groups) group->measurePeaksToo(run);
    }
    std::unique_ptr<AudioBlock> inputs[kRing];
    std::unique_ptr<unsigned char[]> packedInputs[kRing];
    for (std::size_t i = 0; i < depth; ++i) {
        if (packed) {
            packedInputs[i].reset(
                new (std::nothrow) unsigned char[std::size_t{kInputBlockFrames} * packedBytes * run.channels + 1]);
            if (!packedInputs[i]) throw ConversionError(kNoMemory);
        } else {
            inputs[i] = AudioBlock::make(ends.inputFormat(), kInputBlockFrames);
            if (!inputs[i]) throw ConversionError(kNoMemory);
        }
    }
    // Where the groups put their channels of each slot together; one group's slot is written as it is.
    std::unique_ptr<AudioBlock> outputs[kRing];
    if (groupCount > 1) {
        for (std::size_t i = 0; i < depth; ++i) {
            outputs[i] = AudioBlock::make(run.outputFormat, run.outputLength);
            if (!outputs[i]) throw ConversionError(kNoMemory);
        }
        for (const auto& group : groups) {
            for (std::size_t i = 0; i < depth; ++i) group->shared.push_back(outputs[i].get());
        }
    }

    // With several workers the level meter is one of their tasks; a slot measured piece by piece as
    // it was written (a long flush) is not measured again.
    const bool measureApart = groupCount > 1 && ends.measureApart();
    char measuredInWrite[kRing] = {};

    // Only now, with everything the run needs in hand, is anything created at the destination.
    ends.open();
    const bool int16 = run.outputFormat.sampleType == SampleType::int16;
    const auto tallyOf = [&](std::size_t slot) {
        ClipTally tally;
        for (const auto& group : groups) {
            const ClipTally& each = group->tallies[slot];
            tally.clipped += each.clipped;
            tally.overFullScale += each.overFullScale;
            tally.peak = std::max(tally.peak, each.peak);
        }
        return tally;
    };
    const auto write = [&](std::size_t slot) {
        if (groupCount == 1) return ends.write(groups.front()->output(slot), tallyOf(slot));
        const std::size_t frames = groups.front()->slots[slot].frames();
        const bool direct = groups.front()->direct[slot] != 0;
        for (const auto& group : groups) {
            if (group->slots[slot].frames() != frames || (group->direct[slot] != 0) != direct)
                throw SoxrError("the channel groups fell out of step");
        }
        AudioBlock* const output = outputs[slot].get();
        measuredInWrite[slot] = !direct;
        if (direct) {
            output->setFrameLength(static_cast<std::uint32_t>(frames));
            return ends.write(*output, tallyOf(slot));
        }
        // More than a block holds, which only a long flush brings: put together here, a block at a time.
        for (std::size_t done = 0; done < frames;) {
            const std::size_t n = std::min<std::size_t>(frames - done, run.outputLength);
            if (int16) {
                interleave(groups, slot, done, n, static_cast<std::int16_t*>(output->data()), run.channels);
            } else {
                interleave(groups, slot, done, n, output->floatSamples(), run.channels);
            }
            output->setFrameLength(static_cast<std::uint32_t>(n));
            ends.write(*output, tallyOf(slot));
            if (measureApart) ends.measure(*output);
            done += n;
        }
    };
    ReadMark marks[kRing] = {};

    // The dither's seed, from the first block (or the empty source) before any group quantises.
    const auto startQuantisers = [&](const float* first, std::uint32_t frames) {
        const std::uint64_t seed = run.ditherSeed
            ? *run.ditherSeed
            : sourceDitherSeed(ends.firstSourceFrames(), first, std::size_t{frames} * run.channels);
        for (const auto& group : groups) group->quantiser.start(seed);
    };

    bool more = true;
    const auto readBlock = [&](std::uint64_t index) {
        if (run.control.stop.stop_requested()) throw ConversionCancelled();
        const std::size_t slot = index % depth;
        if (packed) {
            const std::uint32_t frames = more ? ends.readPacked(packedInputs[slot].get(), marks[slot]) : 0;
            more = frames > 0;
            if (index == 0) {
                // The seed is taken from the floats a plain read would have delivered.
                std::vector<float> first(std::size_t{frames} * run.channels);
                unpackChannels(
                    packedBytes, packedInputs[slot].get(), frames, run.channels, 0, run.channels, first.data());
                startQuantisers(first.data(), frames);
            }
            return more ? Job{nullptr, frames, packedInputs[slot].get()} : Job{};
        }
        AudioBlock& block = *inputs[slot];
        if (more) more = ends.read(block, marks[slot]);
        if (index == 0) startQuantisers(more ? block.floatSamples() : nullptr, more ? block.frameLength() : 0);
        return more ? Job{block.floatSamples(), block.frameLength()} : Job{};
    };
    const auto writeBlock = [&](std::uint64_t index, bool flush) {
        // The reads ran ahead of the stop; a stop while the groups worked is seen before the write.
        if (run.control.stop.stop_requested()) throw ConversionCancelled();
        write(index % depth);
        if (!flush) ends.progressed(marks[index % depth]);
    };
    const auto measureBlock = [&](std::uint64_t index) {
        const std::size_t slot = index % depth;
        if (!measuredInWrite[slot]) ends.measure(*outputs[slot]);
    };
    Crew(groups, depth, readBlock, writeBlock, measureApart ? Crew::Measure(measureBlock) : Crew::Measure{})
        .run(groupCount);

    for (auto& input : inputs) input.reset();
    for (auto& input : packedInputs) input.reset();
    for (auto& output : outputs) output.reset();
    if (ends.peaksFromGroups()) {
        for (const auto& group : groups) ends.givePeaks(*group->peaks);
    }
    groups.clear();
    ends.finish();
}

// The level meter of one output, fed the blocks as they are written: after the gain and, for 16-
// and 24-bit output, after quantising. None when nothing would read its figures (the run does
// without and the output carries no bext chunk to hold them) or the rate is one no loudness meter
// takes (the file is converted all the same, its figures unknown).
void startMeter(std::optional<BackgroundMeter>& meter, const Run& run, const SourceMetadata& metadata,
    std::span<const int> channelMap, LevelMeter::PeakSource peakSource = LevelMeter::PeakSource::own)
{
    meter.reset();
    try {
        const bool recordsLevel
            = metadata.bext && (run.type == OutputType::wav || run.type == OutputType::rf64); // bext v2
        if (run.control.measureLevel || recordsLevel)
            meter.emplace(run.channels, run.targetRate, channelMap, LevelMeter::CeilingPeak::off, peakSource);
    } catch (const std::invalid_argument&) {
    }
}

void measure(std::optional<BackgroundMeter>& meter, const AudioBlock& block)
{
    if (!meter || block.frameLength() == 0) return;
    if (block.format().sampleType == SampleType::int16) {
        meter->add(static_cast<const std::int16_t*>(block.data()), block.frameLength());
    } else {
        meter->add(static_cast<const float*>(block.data()), block.frameLength());
    }
}

// The meter's part of writing a block: none once the run's workers measure apart.
void measureWhileWriting(std::optional<BackgroundMeter>& meter, const AudioBlock& block)
{
    if (meter && !meter->onCallersThread()) measure(meter, block);
}

// StreamEnds::measureApart() for ends with `meter`.
bool measureApart(std::optional<BackgroundMeter>& meter)
{
    if (!meter) return false;
    meter->measureOnCallersThread();
    return true;
}

// Closes a finished output with its figures in a Broadcast WAV's bext chunk.
void closeWriter(AudioFileWriter& writer, const SourceMetadata& metadata, const std::shared_ptr<LevelMeter>& meter)
{
    const LevelFigures figures = meter ? meter->figures() : LevelFigures{};
    writer.close(metadata.bext ? &figures : nullptr);
}

// The first pass of a run with a ceiling or a loudness target: the sources resampled one after
// the other as one float stream and measured, nothing written.
class MeasuredOnly final : public StreamEnds {
public:
    MeasuredOnly(const Run& run, const std::vector<std::filesystem::path>& sources, const ProgressCallback& progress)
        : sources_(sources), progress_(progress)
    {
        AudioFileReader first(sources.front());
        frames_.push_back(first.frames());
        inputFormat_ = first.blockFormat();
        try {
            meter_.emplace(run.channels, run.targetRate, meteredChannelMap(first), LevelMeter::CeilingPeak::on);
        } catch (const std::invalid_argument&) {
            throw ConversionError("A ceiling or loudness target needs an output rate of at least 16 Hz.");
        }
    }
    AudioFormat inputFormat() const override { return inputFormat_; }
    bool read(AudioBlock& block, ReadMark& mark) override
    {
        while (reading_ < sources_.size()) {
            if (!reader_) reader_ = std::make_unique<AudioFileReader>(sources_[reading_]);
            block.setFrameLength(0);
            if (reader_->position() < reader_->frames()) reader_->read(block);
            mark = {reading_, reader_->position()};
            if (block.frameLength() > 0) return true;
            reader_.reset();
            ++reading_;
        }
        return false;
    }
    void progressed(const ReadMark& mark) override
    {
        if (!progress_) return;
        const AudioFileReader* reader = mark.source == reading_ ? reader_.get() : nullptr;
        const double frames = reader ? static_cast<double>(reader->frames()) : 0.0;
        const double within = frames >= 1 ? static_cast<double>(mark.position) / frames : 1.0;
        progress_((static_cast<double>(mark.source) + std::min(within, 1.0)) / static_cast<double>(sources_.size()));
    }
    std::int64_t firstSourceFrames() const override { return frames_.front(); }
    void open() override { }
    void write(const AudioBlock& block, const ClipTally&) override { measureWhileWriting(meter_, block); }
    bool measureApart() override { return fennick::measureApart(meter_); }
    void measure(const AudioBlock& block) override { fennick::measure(meter_, block); }
    void finish() override { meter = meter_->finish(); }

    std::shared_ptr<LevelMeter> meter;

private:
    const std::vector<std::filesystem::path>& sources_;
    const ProgressCallback& progress_;
    std::vector<std::int64_t> frames_;
    AudioFormat inputFormat_;
    std::size_t reading_ = 0;
    std::unique_ptr<AudioFileReader> reader_;
    std::optional<BackgroundMeter> meter_;
};

// One source converted into one file.
class OneFile final : public StreamEnds {
public:
    OneFile(const Run& run, AudioFileReader& reader, PendingDestination& pending, const SourceMetadata& metadata,
        const ProgressCallback& progress)
        : run_(run), reader_(reader), pending_(pending), metadata_(metadata), progress_(progress)
    {
        // The peaks are measured on the groups' threads, leaving the loudness alone to the meter's
        // task (or its own thread, for a single group), the longest chain of the run.
        startMeter(meter_, run, metadata, meteredChannelMap(reader), LevelMeter::PeakSource::given);
    }
    AudioFormat inputFormat() const override { return reader_.blockFormat(); }
    bool read(AudioBlock& block, ReadMark& mark) override
    {
        block.setFrameLength(0);
        if (reader_.position() < reader_.frames()) reader_.read(block);
        mark.position = reader_.position();
        return block.frameLength() > 0;
    }
    unsigned packedSampleBytes() const override { return reader_.packedSampleBytes(); }
    std::uint32_t readPacked(unsigned char* bytes, ReadMark& mark) override
    {
        const std::uint32_t frames = reader_.readPacked(bytes, kInputBlockFrames);
        mark.position = reader_.position();
        return frames;
    }
    void progressed(const ReadMark& mark) override
    {
        if (reader_.frames() >= 1 && progress_) {
            progress_(static_cast<double>(mark.position) / static_cast<double>(reader_.frames()));
        }
    }
    std::int64_t firstSourceFrames() const override { return reader_.frames(); }
    void open() override
    {
        writer_.emplace(openWriter(run_, pending_, metadata_, reader_.frames(), reader_.channelLayout()));
    }
    void write(const AudioBlock& block, const ClipTally& tally) override
    {
        count_.observe(tally);
        if (block.frameLength() == 0) return;
        measureWhileWriting(meter_, block);
        writer_->write(block);
    }
    bool measureApart() override { return fennick::measureApart(meter_); }
    void measure(const AudioBlock& block) override { fennick::measure(meter_, block); }
    bool peaksFromGroups() const override { return meter_.has_value(); }
    void givePeaks(const OversampledPeak& peaks) override
    {
        truePeak_ = std::max(truePeak_, peaks.peak());
        samplePeak_ = std::max(samplePeak_, peaks.samplePeak());
    }
    void finish() override
    {
        clips = count_.report();
        if (meter_) {
            meter = meter_->finish();
            meter->givePeaks(truePeak_, samplePeak_);
        }
        reader_.close();
        closeWriter(*writer_, metadata_, meter);
        commitOutput(run_, pending_, metadata_, reader_.channelLayout());
    }

    ClipReport clips;
    std::shared_ptr<LevelMeter> meter; // null when unmeasured

private:
    const Run& run_;
    AudioFileReader& reader_;
    PendingDestination& pending_;
    const SourceMetadata& metadata_;
    const ProgressCallback& progress_;
    ClipCount count_;
    std::optional<BackgroundMeter> meter_;
    std::optional<AudioFileWriter> writer_;
    double truePeak_ = 0, samplePeak_ = 0; // as the groups measured them
};

// An album's tracks read one after the other into one stream, whose output is cut at each
// track's rescaled boundary into a file of its own. A track's boundary is known once its source
// is read to its end, before anything of the next is fed; libsoxr never gives out more than
// round(frames fed × target / source) frames, so the output cannot pass a boundary before it is known.
class AlbumTracks final : public StreamEnds {
public:
    AlbumTracks(const Run& run, const std::vector<AlbumTrack>& tracks, AudioFormat inputFormat,
        const AlbumProgress& progress, const TrackSaved& saved)
        : run_(run), inputFormat_(inputFormat), progress_(progress), saved_(saved)
    {
        for (const AlbumTrack& track : tracks) {
            Track& added = tracks_.emplace_back();
            added.paths = &track;
            added.pending = std::make_unique<PendingDestination>(track.destination, run.control.replaceExisting);
        }
    }
    AudioFormat inputFormat() const override { return inputFormat_; }
    bool read(AudioBlock& block, ReadMark& mark) override
    {
        while (reading_ < tracks_.size()) {
            Track& track = tracks_[reading_];
            if (!track.reader) openSource(track);
            AudioFileReader& reader = *track.reader;
            block.setFrameLength(0);
            if (reader.position() < reader.frames()) reader.read(block);
            inputFrames_ += block.frameLength();
            mark = {reading_, reader.position()};
            if (block.frameLength() == 0 || reader.position() >= reader.frames()) endSource(track);
            if (block.frameLength() > 0) return true;
        }
        return false;
    }
    void progressed(const ReadMark& mark) override
    {
        const std::int64_t frames = tracks_[mark.source].frames;
        if (frames >= 1 && progress_) {
            progress_(mark.source, static_cast<double>(mark.position) / static_cast<double>(frames));
        }
    }
    std::int64_t firstSourceFrames() const override { return tracks_.front().frames; }
    void open() override { }
    // A block cut between two tracks counts its clips and peak towards the first.
    void write(const AudioBlock& block, const ClipTally& tally) override
    {
        count_.observe(tally);
        const std::uint32_t frames = block.frameLength();
        for (std::uint32_t done = 0; done < frames;) {
            settle();
            Track& track = tracks_[writing_];
            const bool cut = track.ended && writing_ + 1 < tracks_.size();
            const std::uint64_t room = cut ? track.outputEnd - outputFrames_ : frames - done;
            const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(room, frames - done));
            writePart(track, block, done, n);
            outputFrames_ += n;
            done += n;
        }
        settle();
    }
    void finish() override
    {
        while (writing_ < tracks_.size()) finishTrack();
    }

    std::vector<ConversionReport> reports;

private:
    struct Track {
        const AlbumTrack* paths = nullptr;
        std::unique_ptr<PendingDestination> pending;
        std::unique_ptr<AudioFileReader> reader; // open while it is read
        SourceMetadata metadata;
        ChannelLayout layout;
        std::int64_t frames = 0;
        bool ended = false;
        std::uint64_t outputEnd = 0; // its boundary in the album's output, once ended
        std::uint64_t inputStart = 0; // the album's input frames before it
        SourceDamage damage;
        std::vector<int> channelMap; // for its level meter
    };

    void openSource(Track& track)
    {
        track.reader = std::make_unique<AudioFileReader>(track.paths->source);
        const AudioFileReader& reader = *track.reader;
        if (reader.sampleRate() != run_.inputRate || reader.channelCount() != run_.channels) {
            throw ConversionError(track.paths->source.filename().string()
                + " no longer has the sample rate and channel count of the album's first file.");
        }
        if (run_.control.carryMetadata) track.metadata = readMetadata(reader.sndfile(), reader.flacComments());
        track.layout = reader.channelLayout();
        track.channelMap = meteredChannelMap(reader);
        track.frames = reader.frames();
        track.inputStart = inputFrames_;
    }
    void endSource(Track& track)
    {
        track.ended = true;
        track.outputEnd = rescalePosition(
            inputFrames_, static_cast<std::int64_t>(run_.inputRate), static_cast<std::int64_t>(run_.targetRate));
        track.damage = track.reader->damage();
        track.reader.reset();
        ++reading_;
    }
    // Finishes every track whose output is complete, up to the last, which takes the rest.
    void settle()
    {
        while (
            writing_ + 1 < tracks_.size() && tracks_[writing_].ended && outputFrames_ >= tracks_[writing_].outputEnd) {
            finishTrack();
        }
    }
    void writePart(Track& track, const AudioBlock& block, std::uint32_t from, std::uint32_t frames)
    {
        openTrack(track);
        if (frames == 0) return;
        const AudioBlock* part = &block;
        if (from != 0 || frames != block.frameLength()) {
            if (!staging_ || staging_->frameCapacity() < frames) {
                staging_ = AudioBlock::make(block.format(), block.frameCapacity());
                if (!staging_) throw ConversionError(kNoMemory);
            }
            const std::size_t frameBytes = block.format().bytesPerFrame();
            std::memcpy(
                staging_->data(), static_cast<const std::byte*>(block.data()) + from * frameBytes, frames * frameBytes);
            staging_->setFrameLength(frames);
            part = staging_.get();
        }
        fennick::measure(meter_, *part);
        writer_->write(*part);
    }
    // The file of the track about to be written, and its meter.
    void openTrack(Track& track)
    {
        if (writer_) return;
        // The header goes out before the track's cut is reached: its markers are clamped to the length
        // the album's boundaries will give the file, not to its source's length rescaled on its own.
        const auto boundary = [this](std::uint64_t input) {
            return rescalePosition(
                input, static_cast<std::int64_t>(run_.inputRate), static_cast<std::int64_t>(run_.targetRate));
        };
        const std::uint64_t start = writing_ > 0 ? tracks_[writing_ - 1].outputEnd : 0;
        const std::uint64_t end = boundary(track.inputStart + static_cast<std::uint64_t>(track.frames));
        writer_.emplace(openWriter(
            run_, *track.pending, track.metadata, track.frames, track.layout, end > start ? end - start : 0));
        startMeter(meter_, run_, track.metadata, track.channelMap);
    }
    void finishTrack()
    {
        Track& track = tracks_[writing_];
        openTrack(track);
        std::shared_ptr<LevelMeter> meter;
        if (meter_) meter = meter_->finish();
        meter_.reset();
        closeWriter(*writer_, track.metadata, meter);
        writer_.reset();
        commitOutput(run_, *track.pending, track.metadata, track.layout);
        reports.push_back({count_.report(), track.damage,
            notCarriedWarning(contentsOf(track.metadata, track.layout, run_.channels), run_.type)});
        reports.back().meter = meter;
        if (meter) reports.back().level = meter->figures();
        count_ = ClipCount(count_.last());
        track.pending.reset();
        if (saved_) saved_(writing_, reports.back());
        ++writing_;
    }

    const Run& run_;
    AudioFormat inputFormat_;
    const AlbumProgress& progress_;
    const TrackSaved& saved_;
    std::vector<Track> tracks_;
    std::size_t reading_ = 0, writing_ = 0;
    std::uint64_t inputFrames_ = 0, outputFrames_ = 0; // of the whole album so far
    std::optional<AudioFileWriter> writer_; // the file of tracks_[writing_], once opened
    std::optional<BackgroundMeter> meter_; // of that file
    ClipCount count_; // of the track being written
    std::unique_ptr<AudioBlock> staging_; // a part of a block cut between two tracks
};

Run makeRun(const SoxrApi& api, double inputRate, const ConversionSettings& settings, std::uint32_t channels,
    const RunControl& control)
{
    const bool int16 = settings.format == OutputFormat::int16;
    return {api, inputRate, settings.targetRate, channels, settings.format, settings.type, ditherFor(settings),
        settings.ditherSeed, ioSpecFor(api, settings.format), qualitySpecFor(api, settings.options),
        api.soxr_runtime_spec(1), *outputBlockCapacity(inputRate, settings.targetRate),
        AudioFormat{int16 ? SampleType::int16 : SampleType::float32, settings.targetRate, channels},
        int16 ? SampleType::float64 : SampleType::float32, control};
}

// Channel groups hold two blocks of output each beside the one being written; a source that
// needs blocks that large is converted on this thread alone rather than with three times the memory.
unsigned wantedThreads(const Run& run)
{
    const bool roomForGroups
        = 3 * outputBlockBytes(run.inputRate, run.targetRate, run.channels, run.resampledType) <= kMaxOutputBlockBytes;
    return roomForGroups ? std::min(run.channels, ThreadBudget::cores()) : 1;
}

// The gain of a run that sets it from what a first pass measured; raises nothing.
GainReport chooseGain(
    const ConversionSettings& settings, const LevelFigures& measured, std::optional<double> ceilingPeak)
{
    GainReport gain;
    double wanted = settings.gainDb;
    if (settings.loudnessTargetLufs && std::isfinite(measured.integratedLufs))
        wanted = *settings.loudnessTargetLufs - measured.integratedLufs;
    wanted = std::clamp(wanted, kMinGainDb, kMaxGainDb);
    gain.appliedDb = wanted;
    gain.loudnessTargetLufs = settings.loudnessTargetLufs;
    if (settings.ceiling) {
        // The sample peak of 16- and 24-bit output moves by a rounding step, of dithered 16-bit output
        // by two: a thousandth of a dB keeps it under.
        const bool truePeak = settings.ceiling->kind == PeakCeiling::Kind::truePeak;
        const double peak = truePeak ? ceilingPeak.value_or(measured.truePeakDbtp) : measured.samplePeakDbfs + 0.001;
        const double allowed = settings.ceiling->level - peak;
        if (std::isfinite(peak) && wanted > allowed) {
            gain.appliedDb = std::max(allowed, kMinGainDb);
            gain.loweredByDb = wanted - gain.appliedDb;
            gain.ceiling = settings.ceiling;
        }
    }
    return gain;
}

// The gain of a run: the one asked for, or, with a ceiling or a loudness target, the one a first
// pass over all the sources (as one stream) settles; that pass takes `progress` from 0 to 1.
GainReport settleGain(const SoxrApi& api, double inputRate, const ConversionSettings& settings, std::uint32_t channels,
    const RunControl& control, const std::vector<std::filesystem::path>& sources, const ProgressCallback& progress)
{
    GainReport gain;
    gain.appliedDb = std::clamp(settings.gainDb, kMinGainDb, kMaxGainDb);
    if (!settings.ceiling && !settings.loudnessTargetLufs) return gain;
    ConversionSettings asFloat = settings;
    asFloat.format = OutputFormat::float32;
    asFloat.dither = Dither::none;
    const Run first = makeRun(api, inputRate, asFloat, channels, control);
    MeasuredOnly ends(first, sources, progress);
    const ThreadBudget budget(wantedThreads(first));
    convert(first, budget.granted(), ends);
    return chooseGain(settings, ends.meter->figures(), ends.meter->truePeakForCeiling());
}

bool twoPasses(const ConversionSettings& settings) { return settings.ceiling || settings.loudnessTargetLufs; }

float gainFactor(const GainReport& gain) { return gain.appliedDb == 0 ? 1.0f : linearGain(gain.appliedDb); }

} // namespace

ConversionReport convertWav(const std::filesystem::path& source, const std::filesystem::path& destination,
    const ConversionSettings& settings, const ProgressCallback& progress, const RunControl& control)
{
    const double targetRate = settings.targetRate;
    const OutputFormat format = settings.format;
    refuseUnwritableDestination(destination, settings);
    AudioFileReader reader(source);
    const double inputRate = reader.sampleRate();
    const std::uint32_t channels = reader.channelCount();
    refuseUnusableRates(inputRate, targetRate);
    refuseSourceAsDestination(source, destination);
    // libsoxr hands back floats, or doubles for 16-bit output, which adds a block of its own.
    const SampleType outputType = format == OutputFormat::int16 ? SampleType::float64 : SampleType::float32;
    refuseOversizedOutputBlock(inputRate, targetRate, channels, outputType);
    PendingDestination pending(destination, control.replaceExisting);
    const SourceMetadata metadata
        = control.carryMetadata ? readMetadata(reader.sndfile(), reader.flacComments()) : SourceMetadata{};

    const SoxrApi& api = SoxrApi::shared();
    const bool twice = twoPasses(settings);
    const auto half = [&](double offset) -> ProgressCallback {
        if (!progress) return {};
        return [&progress, offset](double fraction) { progress(offset + fraction / 2); };
    };
    const GainReport gain = settleGain(api, inputRate, settings, channels, control, {source}, half(0));
    Run run = makeRun(api, inputRate, settings, channels, control);
    run.gain = gainFactor(gain);
    const ProgressCallback secondHalf = twice ? half(0.5) : progress;
    OneFile ends(run, reader, pending, metadata, secondHalf);
    const ThreadBudget budget(wantedThreads(run));
    convert(run, budget.granted(), ends);
    ConversionReport report{ends.clips, reader.damage(),
        notCarriedWarning(contentsOf(metadata, reader.channelLayout(), channels), settings.type)};
    report.gain = gain;
    report.meter = ends.meter;
    if (ends.meter) report.level = ends.meter->figures();
    if (settings.loudnessTargetLufs && std::isfinite(report.level.integratedLufs))
        report.gain.offTargetLu = report.level.integratedLufs - *settings.loudnessTargetLufs;
    return report;
}

std::vector<ConversionReport> convertAlbum(const std::vector<AlbumTrack>& tracks, const ConversionSettings& settings,
    const AlbumProgress& progress, const RunControl& control, const TrackSaved& saved)
{
    if (tracks.empty()) return {};
    std::vector<SourceFileInfo> infos;
    for (const AlbumTrack& track : tracks) {
        refuseUnwritableDestination(track.destination, settings);
        infos.push_back(readSourceFileInfo(track.source));
        if (!fitsAlbum(infos.front(), infos.back())) {
            throw ConversionError(
                albumMismatchSentence(track.source.filename().string(), infos.back(), infos.front(), cNumberText));
        }
    }
    const double inputRate = infos.front().sampleRate;
    const std::uint32_t channels = infos.front().channelCount;
    refuseUnusableRates(inputRate, settings.targetRate);
    // The boundaries are rescaled in whole frames of whole-hertz rates.
    if (inputRate != std::floor(inputRate)) {
        throw ConversionError(
            "An album's sample rate of " + formatRate(inputRate) + " is not a whole number of hertz.");
    }
    // A track written over a source not yet read would lose it.
    for (const AlbumTrack& track : tracks) {
        for (const AlbumTrack& other : tracks) refuseSourceAsDestination(other.source, track.destination);
    }
    const SampleType outputType = settings.format == OutputFormat::int16 ? SampleType::float64 : SampleType::float32;
    refuseOversizedOutputBlock(inputRate, settings.targetRate, channels, outputType);

    const SoxrApi& api = SoxrApi::shared();
    // A ceiling or loudness target is the album's: one gain for every track, from the album measured
    // as one stream, so the tracks keep their levels against each other.
    const bool twice = twoPasses(settings);
    std::vector<std::filesystem::path> sources;
    for (const AlbumTrack& track : tracks) sources.push_back(track.source);
    const ProgressCallback firstHalf = [&](double fraction) {
        if (!progress) return;
        const double at = fraction * static_cast<double>(tracks.size());
        const std::size_t track = std::min(static_cast<std::size_t>(at), tracks.size() - 1);
        progress(track, (at - static_cast<double>(track)) / 2);
    };
    const GainReport gain = settleGain(api, inputRate, settings, channels, control, sources, firstHalf);
    Run run = makeRun(api, inputRate, settings, channels, control);
    run.gain = gainFactor(gain);
    const AlbumProgress secondHalf = [&](std::size_t track, double fraction) {
        if (progress) progress(track, twice ? 0.5 + fraction / 2 : fraction);
    };
    const TrackSaved withGain = [&](std::size_t track, const ConversionReport& report) {
        if (!saved) return;
        ConversionReport full = report;
        full.gain = gain;
        saved(track, full);
    };
    AlbumTracks ends(run, tracks, AudioFormat{SampleType::float32, inputRate, channels}, secondHalf, withGain);
    const ThreadBudget budget(wantedThreads(run));
    convert(run, budget.granted(), ends);
    for (ConversionReport& report : ends.reports) report.gain = gain;
    return std::move(ends.reports);
}

} // namespace fennick
