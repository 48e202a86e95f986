#include "ConvertWav.h"

#include "AnalyzeFile.h"
#include "AudioBlock.h"
#include "AudioFileReader.h"
#include "AudioFileWriter.h"
#include "BackgroundMeter.h"
#include "ClipMeter.h"
#include "FlacComments.h"
#include "Gain.h"
#include "LevelMeter.h"
#include "Metadata.h"
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
    AudioFileReader& reader;
    PendingDestination& pending;
    const SoxrApi& api;
    double inputRate, targetRate;
    std::uint32_t channels;
    OutputFormat format;
    OutputType type;
    soxr_io_spec_t io;
    soxr_quality_spec_t quality;
    soxr_runtime_spec_t runtime; // one thread: libsoxr's own threading stays off, whatever the environment says
    std::uint32_t outputLength;
    AudioFormat outputFormat;
    const ProgressCallback& progress;
    const RunControl& control;
    const SourceMetadata& metadata;
    bool measureOnly = false; // resample and measure, write nothing

    AudioFileWriter openWriter() const
    {
        // The metadata's bytes count towards the 4 GiB a plain WAV can hold.
        const auto metadataFrames
            = static_cast<std::int64_t>(metadata.byteSize() / (channels * bitsPerSample(format) / 8));
        const std::int64_t audioFrames = expectedOutputFrames(reader.frames(), inputRate, targetRate);
        AudioFileWriter writer(pending.open(), targetRate, channels, format,
            audioFrames + std::min(metadataFrames, std::numeric_limits<std::int64_t>::max() - audioFrames),
            reader.channelLayout(), type);
        if (!metadata.empty()) {
            writeMetadata(writer.sndfile(), metadata,
                {static_cast<std::int64_t>(inputRate), static_cast<std::int64_t>(targetRate), reader.frames(), channels,
                    format, type});
        }
        return writer;
    }
    void finish(std::optional<AudioFileWriter>& writer, const LevelFigures& figures)
    {
        reader.close();
        if (!writer) return;
        writer->close(metadata.bext ? &figures : nullptr);
        // What libsndfile cannot write into a FLAC file goes into the finished one, before it is in place.
        if (type == OutputType::flac && !pending.temporaryPath().empty()) {
            const auto comments = vorbisComments(metadata, reader.channelLayout().mask, channels);
            if (!comments.empty()) writeFlacComments(pending.temporaryPath(), comments);
        }
        pending.commit();
    }
};

// Blocks in flight between reading and writing when groups work on threads of their own: each
// group has this many output slots, the run this many input blocks, so memory stays flat however
// long the file. A single group works on the calling thread, one block at a time.
constexpr std::size_t kRing = 2;

constexpr std::size_t blocksInFlight(std::size_t groupCount) { return groupCount > 1 ? kRing : 1; }

// Some adjacent channels and the resampler that is theirs alone, with an output slot for each
// block in flight.
struct ChannelGroup {
    ChannelGroup(const Run& run, std::uint32_t first, std::uint32_t count, std::size_t slotCount)
        : first(first), count(count), allChannels(run.channels),
          resampler(run.api, run.inputRate, run.targetRate, count, run.io, run.quality, run.runtime)
    {
        // A group of all the channels takes the block as it was read.
        if (count < allChannels) {
            input.reset(new (std::nothrow) float[std::size_t{kInputBlockFrames} * count]);
            if (!input) throw ConversionError(kNoMemory);
        }
        slots.reserve(slotCount);
        for (std::size_t i = 0; i < slotCount; ++i) {
            slots.emplace_back(AudioFormat{run.outputFormat.sampleType, run.targetRate, count}, run.outputLength);
        }
    }

    // Resamples `frames` interleaved frames of all channels into `slot`; null input flushes.
    void process(const float* samples, std::uint32_t frames, std::size_t slot)
    {
        ResampledFrames& out = slots[slot];
        out.clear();
        if (samples == nullptr) return resampler.flush(out);
        if (input) {
            float* own = input.get();
            for (std::uint32_t f = 0; f < frames; ++f) {
                const float* from = samples + std::size_t{f} * allChannels + first;
                for (std::uint32_t c = 0; c < count; ++c) own[std::size_t{f} * count + c] = from[c];
            }
            samples = own;
        }
        resampler.process(samples, frames, out);
    }

    std::uint32_t first, count, allChannels;
    Resampler resampler;
    std::unique_ptr<float[]> input; // this group's channels of a block, when it has not all of them
    std::vector<ResampledFrames> slots;
};

// Works the groups through the blocks in order as they are posted. More than one group: one
// thread per group, each up to kRing blocks ahead of the block being written, so that no thread
// waits for another at every block; the first failure of any of them is kept and raised on the
// caller's thread, and the threads are stopped and joined before the crew is gone. One group: it
// works on the posting thread, within post().
class Crew {
public:
    explicit Crew(std::vector<std::unique_ptr<ChannelGroup>>& groups)
        : groups_(groups), done_(groups.size(), 0), failed_(groups.size(), 0)
    {
        if (groups.size() == 1) return;
        try {
            threads_.reserve(groups.size());
            for (std::size_t i = 0; i < groups.size(); ++i) {
                threads_.emplace_back([this, i](std::stop_token stop) { work(stop, i); });
            }
        } catch (const std::system_error&) {
            stopAll(); // the threads already running would otherwise wait for work forever
            throw ConversionError(kNoMemory);
        }
    }
    ~Crew() { stopAll(); }

    // Blocks that may be posted ahead of the one being written.
    std::size_t depth() const { return blocksInFlight(groups_.size()); }

    // Posts the next block (null samples: the flush) to every group, into slot posted() % depth().
    void post(const float* samples, std::uint32_t frames)
    {
        if (threads_.empty()) {
            groups_.front()->process(samples, frames, 0);
            done_.front() = ++posted_;
            return;
        }
        std::lock_guard lock(mutex_);
        jobs_[posted_ % kRing] = {samples, frames};
        ++posted_;
        posted_changed_.notify_all();
    }
    std::uint64_t posted() const { return posted_; } // only the posting thread changes it

    // Waits until every group has finished block `index`, or raises the first failure of any. A group
    // that failed finishes nothing more; a block every group finished is written even when a later
    // one has failed already.
    void waitFor(std::uint64_t index)
    {
        std::unique_lock lock(mutex_);
        const auto blocked = [&](std::size_t g) { return done_[g] <= index && failed_[g]; };
        const auto settled = [&] {
            for (std::size_t g = 0; g < done_.size(); ++g) {
                if (done_[g] <= index && !failed_[g]) return false;
            }
            return true;
        };
        finished_.wait(lock, settled);
        for (std::size_t g = 0; g < done_.size(); ++g) {
            if (blocked(g)) std::rethrow_exception(failure_);
        }
    }

private:
    struct Job {
        const float* samples;
        std::uint32_t frames;
    };

    // Wakes every thread to see its stop; they are joined as threads_ goes.
    void stopAll()
    {
        for (auto& thread : threads_) thread.request_stop();
        {
            std::lock_guard lock(mutex_); // a thread between its check and its wait is waiting once this is held
        }
        posted_changed_.notify_all();
    }

    void work(const std::stop_token& stop, std::size_t groupIndex)
    {
        ChannelGroup& group = *groups_[groupIndex];
        for (std::uint64_t next = 0;; ++next) {
            Job job{};
            {
                std::unique_lock lock(mutex_);
                posted_changed_.wait(lock, [&] { return stop.stop_requested() || posted_ > next; });
                if (stop.stop_requested()) return;
                job = jobs_[next % kRing];
            }
            std::exception_ptr failure;
            try {
                group.process(job.samples, job.frames, next % kRing);
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard lock(mutex_);
            if (failure) {
                if (!failure_) failure_ = failure;
                failed_[groupIndex] = 1;
                finished_.notify_one();
                return; // the caller raises it when it waits for this block
            }
            done_[groupIndex] = next + 1;
            finished_.notify_one();
        }
    }

    std::vector<std::unique_ptr<ChannelGroup>>& groups_;
    std::mutex mutex_;
    std::condition_variable posted_changed_, finished_;
    std::uint64_t posted_ = 0;
    Job jobs_[kRing]{};
    std::vector<std::uint64_t> done_; // blocks each group has finished
    std::vector<char> failed_; // and whether it stopped at a failure
    std::exception_ptr failure_;
    std::vector<std::jthread> threads_; // last: joined first
};

template <typename Sample>
void interleave(const std::vector<std::unique_ptr<ChannelGroup>>& groups, std::size_t slot, std::size_t from,
    std::size_t frames, Sample* out, std::uint32_t channels)
{
    for (const auto& each : groups) {
        ChannelGroup& group = *each;
        const auto* samples = static_cast<const Sample*>(group.slots[slot].block().data()) + from * group.count;
        Sample* to = out + group.first;
        const std::uint32_t count = group.count;
        for (std::size_t f = 0; f < frames; ++f) {
            for (std::uint32_t c = 0; c < count; ++c) to[f * channels + c] = samples[f * count + c];
        }
    }
}

// What happens to every block on its way to the file: the one gain, then the clip meter and the
// level meter, which sees the samples as they are written (before 16-bit quantising where this
// pipeline does it). libsoxr quantises 16-bit output itself, so there the gain goes on the input
// instead; resampling is linear, so it is the same gain.
class OutputStage {
public:
    OutputStage(OutputFormat format, float gain, std::optional<BackgroundMeter>& meter)
        : int16_(format == OutputFormat::int16), gain_(gain), clips_(format), meter_(meter)
    {
    }

    void input(AudioBlock& block)
    {
        if (int16_ && gain_ != 1.0f)
            applyGain(block.floatSamples(), std::size_t{block.frameLength()} * block.format().channelCount, gain_);
    }

    void output(AudioBlock& block)
    {
        const std::size_t frames = block.frameLength();
        if (block.format().sampleType == SampleType::float32) {
            if (!int16_ && gain_ != 1.0f) applyGain(block.floatSamples(), frames * block.format().channelCount, gain_);
            if (meter_) meter_->add(block.floatSamples(), frames);
        } else if (meter_) {
            meter_->add(static_cast<const std::int16_t*>(block.data()), frames);
        }
        clips_.observe(block);
    }

    const ClipMeter& clips() const { return clips_; }
    std::shared_ptr<LevelMeter> finishMeter() { return meter_ ? meter_->finish() : nullptr; }

private:
    bool int16_;
    float gain_;
    ClipMeter clips_;
    std::optional<BackgroundMeter>& meter_;
};

// The channels split evenly into `groupCount` groups resampled side by side, while this thread
// reads ahead and writes behind; or, for one group, read, resampled and written in turn.
struct Converted {
    ClipReport clips;
    std::shared_ptr<LevelMeter> meter; // null when the run had none
};

Converted convert(Run& run, unsigned groupCount, OutputStage& stage)
{
    const std::size_t depth = blocksInFlight(groupCount);
    std::vector<std::unique_ptr<ChannelGroup>> groups;
    for (unsigned i = 0; i < groupCount; ++i) {
        const std::uint32_t first = run.channels * i / groupCount, end = run.channels * (i + 1) / groupCount;
        groups.push_back(std::make_unique<ChannelGroup>(run, first, end - first, depth));
    }
    std::unique_ptr<AudioBlock> inputs[kRing];
    for (std::size_t i = 0; i < depth; ++i) {
        inputs[i] = AudioBlock::make(run.reader.blockFormat(), kInputBlockFrames);
        if (!inputs[i]) throw ConversionError(kNoMemory);
    }
    // Where the groups' channels are put together; one group's slot is written as it is.
    std::unique_ptr<AudioBlock> output;
    if (groupCount > 1) {
        output = AudioBlock::make(run.outputFormat, run.outputLength);
        if (!output) throw ConversionError(kNoMemory);
    }

    // Only now, with everything the run needs in hand, is anything created at the destination.
    std::optional<AudioFileWriter> writer;
    if (!run.measureOnly) writer.emplace(run.openWriter());
    AudioFileReader& reader = run.reader;
    const bool int16 = run.outputFormat.sampleType == SampleType::int16;
    const auto write = [&](std::size_t slot) {
        if (!output) {
            AudioBlock& block = groups.front()->slots[slot].block();
            if (block.frameLength() == 0) return;
            stage.output(block);
            if (writer) writer->write(block);
            return;
        }
        const std::size_t frames = groups.front()->slots[slot].frames();
        for (const auto& group : groups) {
            if (group->slots[slot].frames() != frames) throw SoxrError("the channel groups fell out of step");
        }
        for (std::size_t done = 0; done < frames;) {
            const std::size_t n = std::min<std::size_t>(frames - done, run.outputLength);
            if (int16) {
                interleave(groups, slot, done, n, static_cast<std::int16_t*>(output->data()), run.channels);
            } else {
                interleave(groups, slot, done, n, output->floatSamples(), run.channels);
            }
            output->setFrameLength(static_cast<std::uint32_t>(n));
            stage.output(*output);
            if (writer) writer->write(*output);
            done += n;
        }
    };
    // The next block, or nothing at the end.
    const auto read = [&](AudioBlock& block) {
        if (run.control.stop.stop_requested()) throw ConversionCancelled();
        block.setFrameLength(0);
        if (reader.position() < reader.frames()) reader.read(block);
        stage.input(block);
        return block.frameLength() > 0;
    };

    std::optional<Crew> crew(std::in_place, groups);
    // The source position after each block in flight, for its progress report once written.
    std::int64_t positions[kRing] = {};
    bool more = true, flushed = false;
    for (std::uint64_t written = 0;; ++written) {
        while (!flushed && crew->posted() < written + depth) {
            const std::uint64_t index = crew->posted();
            AudioBlock& block = *inputs[index % depth];
            if (more) more = read(block);
            if (!more) {
                if (run.control.stop.stop_requested()) throw ConversionCancelled();
                flushed = true;
                crew->post(nullptr, 0);
                break;
            }
            positions[index % depth] = reader.position();
            crew->post(block.floatSamples(), block.frameLength());
        }
        if (written == crew->posted()) break;
        crew->waitFor(written);
        // The reads ran ahead of the stop; a stop while the groups worked is seen before the write.
        if (run.control.stop.stop_requested()) throw ConversionCancelled();
        write(written % depth);
        const bool lastIsFlush = flushed && written + 1 == crew->posted();
        if (!lastIsFlush && reader.frames() >= 1 && run.progress) {
            run.progress(static_cast<double>(positions[written % depth]) / static_cast<double>(reader.frames()));
        }
    }
    crew.reset();

    std::uint64_t clips = 0;
    for (const auto& group : groups) clips += group->resampler.clips();
    const ClipReport report = stage.clips().report(clips);
    for (auto& input : inputs) input.reset();
    output.reset();
    groups.clear();
    Converted converted{report, stage.finishMeter()};
    run.finish(writer, converted.meter ? converted.meter->figures() : LevelFigures{});
    return converted;
}

} // namespace

namespace {

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
    const SampleType outputType = format == OutputFormat::int16 ? SampleType::int16 : SampleType::float32;
    refuseOversizedOutputBlock(inputRate, targetRate, channels, outputType);
    PendingDestination pending(destination, control.replaceExisting);
    const SourceMetadata metadata
        = control.carryMetadata ? readMetadata(reader.sndfile(), reader.flacComments()) : SourceMetadata{};

    const SoxrApi& api = SoxrApi::shared();
    const std::vector<int> channelMap = meteredChannelMap(reader);
    // Channel groups hold two blocks of output each beside the one being written; a source that
    // needs blocks that large is converted on this thread alone rather than with three times the memory.
    const bool roomForGroups
        = 3 * outputBlockBytes(inputRate, targetRate, channels, outputType) <= kMaxOutputBlockBytes;
    const ThreadBudget budget(roomForGroups ? std::min(channels, ThreadBudget::cores()) : 1);

    // A ceiling or a loudness target needs the output's figures before the gain can be chosen: a
    // first pass resamples the whole source as float and measures it, writing nothing.
    const bool twoPasses = settings.ceiling || settings.loudnessTargetLufs;
    const auto half = [&](double offset) -> ProgressCallback {
        if (!progress) return {};
        return [&progress, offset](double fraction) { progress(offset + fraction / 2); };
    };
    GainReport gain;
    gain.appliedDb = std::clamp(settings.gainDb, kMinGainDb, kMaxGainDb);
    if (twoPasses) {
        AudioFileReader firstReader(source);
        const SourceMetadata none;
        const ProgressCallback firstHalf = half(0);
        Run first{firstReader, pending, api, inputRate, targetRate, channels, OutputFormat::float32, settings.type,
            ioSpecFor(api, OutputFormat::float32, settings.options), qualitySpecFor(api, settings.options),
            api.soxr_runtime_spec(1), *outputBlockCapacity(inputRate, targetRate),
            AudioFormat{SampleType::float32, targetRate, channels}, firstHalf, control, none, true};
        std::optional<BackgroundMeter> meter;
        try {
            meter.emplace(channels, targetRate, channelMap, LevelMeter::CeilingPeak::on);
        } catch (const std::invalid_argument&) {
            throw ConversionError("A ceiling or loudness target needs an output rate of at least 16 Hz.");
        }
        OutputStage stage(OutputFormat::float32, 1.0f, meter);
        const Converted measured = convert(first, budget.granted(), stage);
        gain = chooseGain(settings, measured.meter->figures(), measured.meter->truePeakForCeiling());
    }

    const ProgressCallback secondHalf = twoPasses ? half(0.5) : progress;
    Run run{reader, pending, api, inputRate, targetRate, channels, format, settings.type,
        ioSpecFor(api, format, settings.options), qualitySpecFor(api, settings.options), api.soxr_runtime_spec(1),
        *outputBlockCapacity(inputRate, targetRate), AudioFormat{outputType, targetRate, channels}, secondHalf, control,
        metadata};
    std::optional<BackgroundMeter> meter;
    try {
        if (control.measureLevel) meter.emplace(channels, targetRate, channelMap, LevelMeter::CeilingPeak::off);
    } catch (const std::invalid_argument&) {
        // A rate no loudness meter takes: converted all the same, its figures unknown.
    }
    OutputStage stage(format, gain.appliedDb == 0 ? 1.0f : linearGain(gain.appliedDb), meter);
    const Converted converted = convert(run, budget.granted(), stage);
    ConversionReport report{converted.clips, reader.damage(),
        notCarriedWarning(contentsOf(metadata, reader.channelLayout(), channels), settings.type)};
    report.gain = gain;
    report.meter = converted.meter;
    if (converted.meter) report.level = converted.meter->figures();
    if (settings.loudnessTargetLufs && std::isfinite(report.level.integratedLufs))
        report.gain.offTargetLu = report.level.integratedLufs - *settings.loudnessTargetLufs;
    return report;
}

} // namespace fennick
