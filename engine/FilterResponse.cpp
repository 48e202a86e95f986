// The measured filter: a unit impulse through the resampler a conversion would create, and the
// spectrum of what comes out.

#include "FennickEngine.h"
#include "Resampler.h"
#include "SoxrApi.h"
#include "SoxrSpecs.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace fennick {

namespace {

constexpr const char* kNoMemory = "There is not enough memory to measure the filter.";
constexpr double kFloorDb = -300.0; // below anything libsoxr's double engine resolves
constexpr double kRingLevel = 1e-6; // -120 dB of the peak
constexpr std::size_t kChunk = 4096; // input frames fed per call
constexpr std::size_t kMaxOutput = std::size_t(1) << 21; // no filter is this long; a bound all the same

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex& plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

struct FftwFree {
    void operator()(void* memory) const { fftw_free(memory); }
};
struct PlanDestroy {
    void operator()(fftw_plan plan) const
    {
        const std::lock_guard lock(plannerMutex());
        fftw_destroy_plan(plan);
    }
};
using Plan = std::unique_ptr<std::remove_pointer_t<fftw_plan>, PlanDestroy>;

std::size_t nextPowerOfTwo(std::size_t n)
{
    std::size_t size = 1;
    while (size < n) size <<= 1;
    return size;
}

// |DFT| of `samples`, zero-padded to `size`, times `gain`, in dB.
std::vector<double> spectrumDb(const std::vector<double>& samples, std::size_t size, double gain)
{
    const std::unique_ptr<double[], FftwFree> in(fftw_alloc_real(size));
    const std::unique_ptr<fftw_complex[], FftwFree> out(fftw_alloc_complex(size / 2 + 1));
    if (!in || !out) throw ConversionError(kNoMemory);
    Plan plan;
    {
        const std::lock_guard lock(plannerMutex());
        plan.reset(fftw_plan_dft_r2c_1d(static_cast<int>(size), in.get(), out.get(), FFTW_ESTIMATE));
    }
    if (!plan) throw ConversionError(kNoMemory);
    std::fill(in.get(), in.get() + size, 0.0);
    std::copy(samples.begin(), samples.end(), in.get());
    fftw_execute(plan.get());
    std::vector<double> db(size / 2 + 1);
    for (std::size_t k = 0; k < db.size(); ++k) {
        const double magnitude = std::hypot(out[k][0], out[k][1]) * gain;
        db[k] = magnitude > 0 ? std::max(20.0 * std::log10(magnitude), kFloorDb) : kFloorDb;
    }
    return db;
}

struct ImpulseRun {
    std::vector<double> output; // the whole output, leading silence included
    double delay = 0; // soxr_delay once the impulse is in
    double passbandEnd = 0; // of the quality record, as a fraction of the lower Nyquist frequency
};

// Silence, the impulse after `lead` input frames, then silence until the response has died away.
ImpulseRun runImpulse(
    const SoxrApi& api, double inRate, double outRate, const ConversionOptions& options, std::size_t lead)
{
    soxr_io_spec_t io = ioSpecFor(api);
    io.otype = SOXR_FLOAT64_I; // the measurement adds no rounding of its own
    const soxr_quality_spec_t quality = qualitySpecFor(api, options);
    // One thread, as a conversion asks: libsoxr's environment variables stay out of the timing.
    Resampler resampler(api, inRate, outRate, 1, io, quality, api.soxr_runtime_spec(1));
    ResampledFrames output(
        {SampleType::float64, outRate, 1}, static_cast<std::uint32_t>(std::ceil(kChunk * outRate / inRate)) + 8192);

    ImpulseRun run;
    run.passbandEnd = quality.passband_end;
    std::vector<float> input(kChunk, 0.0f);
    const double smallestPeak = 1e-3 * std::min(1.0, outRate / inRate);
    std::size_t fed = 0, quietTail = 0;
    double peak = 0;
    bool impulseIn = false;
    while (run.output.size() < kMaxOutput) {
        std::fill(input.begin(), input.end(), 0.0f);
        const bool impulseHere = !impulseIn && lead < fed + kChunk;
        if (impulseHere) input[lead - fed] = 1.0f;
        output.clear();
        resampler.process(input.data(), kChunk, output);
        const auto* samples = static_cast<const double*>(output.block().data());
        for (std::size_t i = 0; i < output.frames(); ++i) {
            const double value = std::abs(samples[i]);
            peak = std::max(peak, value);
            quietTail = value > 1e-15 * peak ? 0 : quietTail + 1;
        }
        run.output.insert(run.output.end(), samples, samples + output.frames());
        fed += kChunk;
        if (impulseHere) {
            impulseIn = true;
            run.delay = resampler.delay();
        }
        // Once the peak has passed, a long enough stretch of silence is the filter's end.
        if (impulseIn && peak >= smallestPeak && quietTail >= 2 * kChunk) break;
    }
    return run;
}

// The silence before the impulse must outlast the ringing before the peak; too short, and the
// response starts at once, so it is run again with more. `first` is the first audible frame.
ImpulseRun wholeImpulse(
    const SoxrApi& api, double inRate, double outRate, const ConversionOptions& options, std::size_t& first)
{
    for (std::size_t lead = kChunk;; lead *= 4) {
        ImpulseRun run = runImpulse(api, inRate, outRate, options, lead);
        const double peak = *std::max_element(
            run.output.begin(), run.output.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
        const auto start = std::find_if(
            run.output.begin(), run.output.end(), [&](double v) { return std::abs(v) > 1e-12 * std::abs(peak); });
        first = static_cast<std::size_t>(start - run.output.begin());
        if (first > 16 || static_cast<double>(lead) * outRate > static_cast<double>(kMaxOutput) * inRate / 4) {
            return run;
        }
    }
}

// The frequency where `db` first falls below `level`, between bins; NaN if it never does.
double firstCrossing(const std::vector<double>& db, double binHz, double level)
{
    if (!db.empty() && db[0] < level) return 0;
    for (std::size_t k = 1; k < db.size(); ++k) {
        if (db[k] < level) {
            const double t = (db[k - 1] - level) / (db[k - 1] - db[k]);
            return (static_cast<double>(k - 1) + t) * binHz;
        }
    }
    return NAN;
}

} // namespace

FilterResponse measureFilterResponse(double sourceRate, double targetRate, const ConversionOptions& options)
{
    const auto usable = [](double rate) { return rate > 0 && std::isfinite(rate) && rate <= 1e7; };
    if (!usable(sourceRate) || !usable(targetRate) || targetRate / sourceRate > 256 || sourceRate / targetRate > 256) {
        throw ConversionError("These sample rates cannot be measured.");
    }
    const SoxrApi& api = SoxrApi::shared();
    FilterResponse response;
    response.sourceRate = sourceRate;
    response.targetRate = targetRate;

    std::size_t first = 0;
    const ImpulseRun run = wholeImpulse(api, sourceRate, targetRate, options, first);

    // Unit gain at 0 Hz. That is the rates' ratio for a real filter, but one impulse at one input
    // phase through the cubic interpolator of the quick recipe sums to something else.
    double sum = 0;
    for (double value : run.output) sum += value;
    const double gain = std::abs(sum) > 1e-9 ? 1 / std::abs(sum) : sourceRate / targetRate;
    const std::size_t size = std::max<std::size_t>(65536, 2 * nextPowerOfTwo(run.output.size()));
    response.magnitudeDb = spectrumDb(run.output, size, gain);
    response.binHz = targetRate / static_cast<double>(size);
    const double lowerNyquist = std::min(sourceRate, targetRate) / 2;

    // Downwards, what lies above the output's Nyquist frequency never reaches the output. libsoxr
    // designs both directions between a pair of rates to the same passband and stopband, so the
    // way up between them shows that part.
    if (targetRate < sourceRate) {
        std::size_t upFirst = 0;
        const ImpulseRun up = wholeImpulse(api, targetRate, sourceRate, options, upFirst);
        const std::size_t upSize = std::max<std::size_t>(65536, 2 * nextPowerOfTwo(up.output.size()));
        const std::vector<double> upDb = spectrumDb(up.output, upSize, targetRate / sourceRate);
        const double upBinHz = sourceRate / static_cast<double>(upSize);
        const auto bins = static_cast<std::size_t>(std::floor(sourceRate / 2 / response.binHz)) + 1;
        for (std::size_t k = response.magnitudeDb.size(); k < bins; ++k) {
            const double position = static_cast<double>(k) * response.binHz / upBinHz;
            const auto below = std::min(static_cast<std::size_t>(position), upDb.size() - 2);
            const double t = position - static_cast<double>(below);
            response.magnitudeDb.push_back(upDb[below] + t * (upDb[below + 1] - upDb[below]));
        }
        double worst = kFloorDb;
        for (std::size_t k = 0; k < upDb.size(); ++k) {
            if (static_cast<double>(k) * upBinHz > lowerNyquist) worst = std::max(worst, upDb[k]);
        }
        response.stopbandDb = worst;
    } else {
        double worst = -INFINITY;
        for (std::size_t k = 0; k < response.magnitudeDb.size(); ++k) {
            if (static_cast<double>(k) * response.binHz > lowerNyquist)
                worst = std::max(worst, response.magnitudeDb[k]);
        }
        response.stopbandDb = std::isfinite(worst) ? worst : NAN;
    }

    response.passbandEndHz = run.passbandEnd * lowerNyquist;
    response.minus0_1DbHz = firstCrossing(response.magnitudeDb, response.binHz, -0.1);
    response.minus3DbHz = firstCrossing(response.magnitudeDb, response.binHz, -3.0);
    double highest = -INFINITY, lowest = INFINITY;
    for (std::size_t k = 0; static_cast<double>(k) * response.binHz <= response.passbandEndHz; ++k) {
        highest = std::max(highest, response.magnitudeDb[k]);
        lowest = std::min(lowest, response.magnitudeDb[k]);
    }
    response.passbandRippleDb = highest - lowest;
    response.latencyFrames = run.delay;

    // The impulse response from where it rises above -120 dB of its peak to where it last falls below.
    std::size_t peakAt = 0;
    for (std::size_t i = 0; i < run.output.size(); ++i) {
        if (std::abs(run.output[i]) > std::abs(run.output[peakAt])) peakAt = i;
    }
    const double ringThreshold = kRingLevel * std::abs(run.output[peakAt]);
    std::size_t rise = peakAt, fall = peakAt;
    for (std::size_t i = 0; i < peakAt; ++i) {
        if (std::abs(run.output[i]) > ringThreshold) {
            rise = i;
            break;
        }
    }
    for (std::size_t i = run.output.size(); i-- > peakAt;) {
        if (std::abs(run.output[i]) > ringThreshold) {
            fall = i;
            break;
        }
    }
    response.preRingSeconds = static_cast<double>(peakAt - rise) / targetRate;
    response.postRingSeconds = static_cast<double>(fall - peakAt) / targetRate;
    const std::size_t begin = std::min(first, rise), end = std::min(run.output.size(), fall + 1);
    response.impulse.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) response.impulse.push_back(run.output[i] * gain);
    response.peakIndex = peakAt - begin;
    return response;
}

} // namespace fennick
