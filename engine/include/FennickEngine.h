#pragma once

// The conversion engine as its users see it: the settings of a conversion, the conversion
// itself, what a source file's header says, and the errors a conversion can end in. libsoxr and
// libsndfile stay behind this header.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace fennick {

// ---- Settings enumerations: one idiom for all six ----------------------------------------
// Each enumeration specialises RawValueTable with its (case, raw value) pairs in declaration
// order; rawValue, construction from a raw value (exact match only), allCases and ordinal all
// follow from that table.

template <typename E> struct RawValueTable;

template <typename E> using RawValueOf = typename RawValueTable<E>::Raw;

template <typename E> constexpr RawValueOf<E> rawValue(E value)
{
    for (const auto& [each, raw] : RawValueTable<E>::table) {
        if (each == value) return raw;
    }
    return RawValueTable<E>::table.front().second; // unreachable for a valid case
}

// No tolerance, trimming or case folding.
template <typename E> constexpr std::optional<E> fromRawValue(const RawValueOf<E>& raw)
{
    for (const auto& [each, candidate] : RawValueTable<E>::table) {
        if (candidate == raw) return each;
    }
    return std::nullopt;
}

template <typename E> constexpr auto allCases()
{
    std::array<E, RawValueTable<E>::table.size()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i) cases[i] = RawValueTable<E>::table[i].first;
    return cases;
}

// Position of a case in declaration order.
template <typename E> constexpr std::size_t ordinal(E value)
{
    const auto& table = RawValueTable<E>::table;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].first == value) return i;
    }
    return 0;
}

// ---- What one conversion produces, and how libsoxr is to work ----------------------------
// The quality raw values are libsoxr's own recipe and flag constants, passed on unchanged.

enum class TargetSampleRate { r44100, r48000, r88200, r96000, r176400, r192000 };

enum class OutputFormat { int16, int24, float32 };

// The kind of file written. wav turns into RF64 by itself past 4 GiB; rf64 is RF64 at any size;
// aiff is AIFF-C for float; flac holds int16 and int24 only.
enum class OutputType { wav, rf64, w64, aiff, flac, caf };

struct ConversionOptions {
    enum class Precision { quick, low, medium, bits16, high, bits24, veryHigh, bits32 };
    enum class Phase { linear, intermediate, minimum };
    enum class Rolloff { small, medium, none };

    Precision precision = Precision::veryHigh;
    Phase phase = Phase::linear;
    bool steepFilter = false;
    Rolloff rolloff = Rolloff::small;
    double bandwidthPercent = 91.3; // not clamped here; the window limits it to 74.0–99.7
    bool doublePrecision = false;
    bool dither = true; // only meaningful for int16 output

    friend bool operator==(const ConversionOptions&, const ConversionOptions&) = default;
};

// What is added before rounding to integer output: nothing, flat triangular noise of ±1 step, or
// that noise shaped away from where hearing is most sensitive (lightly, or as far as stays stable).
enum class Dither { none, tpdf, shapedLight, shaped };

// The name a user picks a dither by: "None", "TPDF", "Shaped, light", "Shaped".
constexpr const char* ditherName(Dither dither)
{
    switch (dither) {
    case Dither::none: return "None";
    case Dither::tpdf: return "TPDF";
    case Dither::shapedLight: return "Shaped, light";
    case Dither::shaped: return "Shaped";
    }
    return "";
}

// libsoxr computes in double precision above 20 bits whatever it is asked.
constexpr bool requiresDoublePrecision(ConversionOptions::Precision precision)
{
    using P = ConversionOptions::Precision;
    return precision == P::bits24 || precision == P::veryHigh || precision == P::bits32;
}

template <> struct RawValueTable<TargetSampleRate> {
    using Raw = double;
    static constexpr std::array<std::pair<TargetSampleRate, Raw>, 6> table{{
        {TargetSampleRate::r44100, 44100.0},
        {TargetSampleRate::r48000, 48000.0},
        {TargetSampleRate::r88200, 88200.0},
        {TargetSampleRate::r96000, 96000.0},
        {TargetSampleRate::r176400, 176400.0},
        {TargetSampleRate::r192000, 192000.0},
    }};
};

template <> struct RawValueTable<OutputFormat> {
    using Raw = std::string_view;
    static constexpr std::array<std::pair<OutputFormat, Raw>, 3> table{{
        {OutputFormat::int16, "int16"},
        {OutputFormat::int24, "int24"},
        {OutputFormat::float32, "float32"},
    }};
};

// The raw value is the type's file name extension, without the dot.
template <> struct RawValueTable<OutputType> {
    using Raw = std::string_view;
    static constexpr std::array<std::pair<OutputType, Raw>, 6> table{{
        {OutputType::wav, "wav"},
        {OutputType::rf64, "rf64"},
        {OutputType::w64, "w64"},
        {OutputType::aiff, "aiff"},
        {OutputType::flac, "flac"},
        {OutputType::caf, "caf"},
    }};
};

template <> struct RawValueTable<ConversionOptions::Precision> {
    using Raw = std::uint64_t;
    using P = ConversionOptions::Precision;
    static constexpr std::array<std::pair<P, Raw>, 8> table{{
        {P::quick, 0}, // SOXR_QQ
        {P::low, 1}, // SOXR_LQ
        {P::medium, 2}, // SOXR_MQ
        {P::bits16, 3}, // SOXR_16_BITQ
        {P::high, 4}, // SOXR_20_BITQ
        {P::bits24, 5}, // SOXR_24_BITQ
        {P::veryHigh, 6}, // SOXR_28_BITQ
        {P::bits32, 7}, // SOXR_32_BITQ
    }};
};

template <> struct RawValueTable<ConversionOptions::Phase> {
    using Raw = std::uint64_t;
    using P = ConversionOptions::Phase;
    static constexpr std::array<std::pair<P, Raw>, 3> table{{
        {P::linear, 0x00}, // SOXR_LINEAR_PHASE
        {P::intermediate, 0x10}, // SOXR_INTERMEDIATE_PHASE
        {P::minimum, 0x30}, // SOXR_MINIMUM_PHASE
    }};
};

template <> struct RawValueTable<ConversionOptions::Rolloff> {
    using Raw = std::uint64_t;
    using R = ConversionOptions::Rolloff;
    static constexpr std::array<std::pair<R, Raw>, 3> table{{
        {R::small, 0}, // SOXR_ROLLOFF_SMALL
        {R::medium, 1}, // SOXR_ROLLOFF_MEDIUM
        {R::none, 2}, // SOXR_ROLLOFF_NONE
    }};
};

// The converter's words for the dither choices.
template <> struct RawValueTable<Dither> {
    using Raw = std::string_view;
    static constexpr std::array<std::pair<Dither, Raw>, 4> table{{
        {Dither::none, "none"},
        {Dither::tpdf, "tpdf"},
        {Dither::shapedLight, "shaped-light"},
        {Dither::shaped, "shaped"},
    }};
};

// Integer form of a rate, exact for every case.
constexpr std::int64_t hertz(TargetSampleRate rate) { return static_cast<std::int64_t>(rawValue(rate)); }

// 16, 24 or 32: 16 plus 8 times the format's position.
constexpr int bitsPerSample(OutputFormat format) { return 16 + 8 * static_cast<int>(ordinal(format)); }

// "WAV", "RF64", "W64", "AIFF", "FLAC", "CAF": the type as sentences name it.
std::string_view fileTypeName(OutputType type);

// Whether a file of `type` can hold samples of `format`: FLAC holds no float.
constexpr bool canHold(OutputType type, OutputFormat format)
{
    return !(type == OutputType::flac && format == OutputFormat::float32);
}

// "FLAC holds 16-bit and 24-bit integer samples, not 32-bit float.", for a format the type cannot hold.
std::string cannotHoldSentence(OutputType type, OutputFormat format);

// A level the output's peaks must stay below: true peak (dBTP, ITU-R BS.1770-4) or sample peak (dBFS).
struct PeakCeiling {
    enum class Kind { truePeak, samplePeak };
    double level = -1.0; // dB
    Kind kind = Kind::truePeak;

    friend bool operator==(const PeakCeiling&, const PeakCeiling&) = default;
};

// The range a gain may be asked for, in dB.
inline constexpr double kMinGainDb = -60.0, kMaxGainDb = 24.0;

// What a conversion makes of its source, whichever front end asks for it: the window's panels edit
// one, the batch window converts every file with one, the converter builds one from its options.
// A setting a conversion gains (a dither choice, gain and ceiling, the output type) is a field
// here, so that it reaches all three and convertWav at once.
struct ConversionSettings {
    // Hertz. A double, as any rate may be asked for: convertWav refuses one that is not a whole,
    // finite, positive number of hertz, or too far from the source's, before anything is written.
    double targetRate = 44100;
    OutputFormat format = OutputFormat::int16;
    ConversionOptions options;
    // The kind of file written; a destination whose extension names another type is refused.
    OutputType type = OutputType::wav;
    // The dither of integer output. Unset, `options.dither` keeps the meaning it always had: TPDF
    // for int16 when true, None when false, and None for int24 either way. Set, it is the choice for
    // int16 and int24 alike, whatever `options.dither` says. Float output is never dithered.
    std::optional<Dither> dither = std::nullopt;
    // Where the noise starts. Unset, it is drawn from the source (its length and first block of
    // audio), so the same source and settings give the same bytes in every run, alone or in a batch.
    std::optional<std::uint64_t> ditherSeed = std::nullopt;
    // One linear gain on the resampled samples before they are quantised; 0 dB leaves every byte
    // as it is. Clamped to kMinGainDb…kMaxGainDb.
    double gainDb = 0;
    // Lowers the gain (never raises it) so that the output's peak stays at or below the level.
    std::optional<PeakCeiling> ceiling;
    // Sets the gain that brings the output's integrated loudness here (LUFS) instead of gainDb; a
    // ceiling still wins. Never a limiter: one gain for the whole file.
    std::optional<double> loudnessTargetLufs;

    friend bool operator==(const ConversionSettings&, const ConversionSettings&) = default;
};

// The dither a conversion with `settings` uses; None for float output.
constexpr Dither ditherFor(const ConversionSettings& settings)
{
    if (settings.format == OutputFormat::float32) return Dither::none;
    if (settings.dither) return *settings.dither;
    return settings.format == OutputFormat::int16 && settings.options.dither ? Dither::tpdf : Dither::none;
}

// ---- Errors --------------------------------------------------------------------------------

// A file could not be opened, read or written; what() is the system's or libsndfile's own text
// ("No such file or directory", "Format not recognised.").
class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// libsoxr reported a failure; what() is "libsoxr: " followed by message().
class SoxrError : public std::runtime_error {
public:
    explicit SoxrError(std::string message);
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// The conversion was refused before its destination was touched (the destination is the source,
// the rates cannot be resampled) or could not get the memory it needs; what() says which.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The destination may not be replaced and a file is there (or appeared while converting).
class DestinationExists : public ConversionError {
public:
    explicit DestinationExists(const std::filesystem::path& path)
        : ConversionError(path.string() + " already exists."), path_(path)
    {
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The conversion was asked to stop; nothing was left behind. Not a failure.
class ConversionCancelled : public std::runtime_error {
public:
    ConversionCancelled() : std::runtime_error("Conversion cancelled.") { }
};

// ---- Sources -------------------------------------------------------------------------------

// The metadata of a source that a conversion carries across, item by item.
struct MetadataContents {
    bool broadcastWav = false, ixml = false, cart = false;
    std::vector<std::string> tags; // LIST INFO ids, "INAM", in the source's order
    std::size_t markers = 0;
    std::size_t loops = 0;
    bool samplerData = false; // a sampler chunk without loops
    bool channelLayout = false; // a known speaker layout of more than two channels

    friend bool operator==(const MetadataContents&, const MetadataContents&) = default;
};

// "Not carried into FLAC: Broadcast WAV (bext), iXML, 4 markers.": what a file of `type` cannot
// hold of `contents`; nothing when it holds all of it. What a run left out, and what it will.
std::optional<std::string> notCarriedWarning(const MetadataContents& contents, OutputType type);

// What a source file's header says.
struct SourceFileInfo {
    double sampleRate = 0; // hertz, as stored
    std::uint32_t channelCount = 0;
    std::int64_t frames = 0;
    std::string sampleFormat; // "24-bit integer", "32-bit float", or libsndfile's name of the encoding
    std::string metadataSummary; // what a conversion carries across: "Broadcast WAV, iXML, 4 markers", or "None"
    // What is wrong with the file's length, as damageWarning words it; empty for a sound file.
    std::string note;
    MetadataContents metadata; // what metadataSummary says, item by item
    // The speaker layout its header states, by its usual name ("stereo", "5.1"); empty when it
    // states none that has one.
    std::string channelLayout;
};

// Reads only the header; the file is closed again before this returns. Regular files only, so a
// FIFO can never make it wait. Throws AudioFileError.
SourceFileInfo readSourceFileInfo(const std::filesystem::path& path);

// ---- Naming --------------------------------------------------------------------------------

// The name an output is offered under: the source's base name (without its last extension) + "_"
// + rate in hertz + "-" + "16", "24" or "32f" + "." + the type's extension; "take 3.wav" at 96 kHz,
// 32-bit float, WAV gives "take 3_96000-32f.wav". The window and the converter offer the same name.
std::filesystem::path defaultOutputFileName(const std::filesystem::path& source, const ConversionSettings& settings);

// The file types a conversion writes, by their extension in lower case without the dot: "wav",
// "rf64", "w64", "aiff", "aif", "flac", "caf".
std::vector<std::string> writableFileTypes();

// The type the extension of `destination`'s name names, in any letter case (.aif and .aiff are
// AIFF); nothing for a name without an extension or with one that is not written.
std::optional<OutputType> outputTypeOf(const std::filesystem::path& destination);

// Whether `destination`'s name has no extension or one of writableFileTypes(). Any other is
// refused before anything is written: its contents would not be what its name says.
bool isWritableDestination(const std::filesystem::path& destination);

// The extensions of every file type the installed libsndfile reads, lower case without the dot,
// sorted: "aif", "aiff", "caf", "flac", "mp3", "ogg", "opus", "wav"…
std::vector<std::string> readableFileTypes();

// The filters an open dialog lists: "All audio files" with every readable extension first, then
// one per type libsndfile names ("AIFF (Apple/SGI)", {"aiff", "aif"}).
struct OpenDialogFilter {
    std::string name;
    std::vector<std::string> patterns; // "*.wav"
};
std::vector<OpenDialogFilter> openDialogFilters();

// The audio files a folder stands for: every file in it and its subfolders whose extension is one
// of readableFileTypes() in any letter case, in name order, each with its folder relative to `folder`.
// Links are followed, each folder visited once, so a link back up cannot loop; folders that cannot
// be read are passed over. `visited` carries the folders already walked from one call to the next.
struct FoundAudioFile {
    std::filesystem::path file;
    std::filesystem::path subfolder; // "" for a file directly in the folder
};
std::vector<FoundAudioFile> findAudioFiles(const std::filesystem::path& folder);
std::vector<FoundAudioFile> findAudioFiles(
    const std::filesystem::path& folder, std::set<std::filesystem::path>& visited);

// ---- Converting ----------------------------------------------------------------------------

using ProgressCallback = std::function<void(double fraction)>;

// How a run is driven, beyond what it converts.
struct RunControl {
    std::stop_token stop; // checked once per input block; a stop raises ConversionCancelled
    bool replaceExisting = true; // false: a file at the destination is never replaced, even one that
                                 // appears while converting (DestinationExists)
    bool carryMetadata = true; // false: only the format and the audio are written
    // false: the output's loudness and peaks are measured only for a bext chunk that records them;
    // the report's figures stay unknown. The meter costs more CPU than the rest of the run.
    bool measureLevel = true;
};

// What the output holds beyond full scale. 16-bit and 24-bit output is clipped there; float output
// keeps such samples as they are.
struct ClipReport {
    std::uint64_t clippedSamples = 0; // whose rounding, without dither, lies beyond full scale (integer output)
    std::uint64_t samplesOverFullScale = 0; // kept beyond ±1.0 (float output)
    double peakDbfs = -INFINITY; // the largest resampled value, before any clipping, for every format
};

// What a conversion found wrong with its source and went past: a length the header never got (a
// recorder that lost power), a file that ends before its stated length, samples that are not numbers.
struct SourceDamage {
    double sampleRate = 0; // the source's, for the times the sentences give
    std::int64_t framesStated = 0; // as the header gives it; for an unfinished header, the frames after it
    std::int64_t framesRead = 0; // the frames that were there and were converted
    bool unfinishedHeader = false; // the data size was 0 or 0xFFFFFFFF: all the audio after the header was read
    std::uint64_t nonFiniteSamples = 0; // NaN or infinite in a float source, converted as 0
};

// What a level meter tells about a stream: loudness after ITU-R BS.1770-4 and EBU R 128, and its
// peaks. Levels are in dB; silence (and a stream too short to be gated) gives minus infinity.
struct LevelFigures {
    static constexpr double kSilence = -INFINITY;

    double integratedLufs = kSilence;
    double loudnessRangeLu = 0; // of a stream too short or too quiet to measure: 0
    double truePeakDbtp = kSilence; // BS.1770-4 as libebur128 reads it (4× below 96 kHz, 2× below 192 kHz)
    double samplePeakDbfs = kSilence;
    double maxMomentaryLufs = kSilence; // 400 ms windows, every 100 ms
    double maxShortTermLufs = kSilence; // 3 s windows, every 100 ms

    bool operator==(const LevelFigures&) const = default;
};

// The gain a conversion applied, and why it is not the one asked for.
struct GainReport {
    double appliedDb = 0;
    // The ceiling lowered it: the gain it would have had without the ceiling minus appliedDb.
    double loweredByDb = 0;
    std::optional<PeakCeiling> ceiling; // the ceiling that lowered it, if one did
    // With a loudness target: how far the output landed from it (output − target), in LU.
    std::optional<double> offTargetLu;
    std::optional<double> loudnessTargetLufs;
};

class LevelMeter; // the engine's own

// What a conversion reports besides the file it wrote.
struct ConversionReport {
    // Made like the plain record it is, {clips, source}, the last item given or not.
    ConversionReport(ClipReport clips = {}, SourceDamage source = {}, std::optional<std::string> notCarried = {})
        : clips(clips), source(source), notCarried(std::move(notCarried))
    {
    }

    ClipReport clips;
    SourceDamage source;
    LevelFigures level; // of the output as written: after the gain and, for 16- and 24-bit output, quantising
    GainReport gain;
    // The output's meter, for albumLoudness over several outputs.
    std::shared_ptr<const LevelMeter> meter;
    // notCarriedWarning for the source's metadata and the output type, when the type could not
    // hold all of it.
    std::optional<std::string> notCarried;
};

// Measures a whole audio file's loudness and peaks as it is, read as float. Throws
// AudioFileError when the file cannot be opened, read or metered, and ConversionCancelled once
// `stop` is requested (checked once per block).
LevelFigures analyzeFile(const std::filesystem::path& path, std::stop_token stop = {});

// The integrated loudness of several outputs heard as one programme (an album), from the meters
// their conversions kept (ConversionReport::meter); minus infinity for none or silence.
double albumLoudness(const std::vector<std::shared_ptr<const LevelMeter>>& meters);

// Reads `source`, resamples it with libsoxr to `settings.targetRate` with `settings.options` and
// writes a file of `settings.type` and `settings.format` with the source's channel count to
// `destination`. A format the type cannot hold (float FLAC), or a destination whose extension names
// another type, is refused with ConversionError before anything is written. Blocks the calling thread
// until the file is complete.
//
// The file is written under a temporary name beside the destination and renamed over it only once
// complete: on any failure, and on a stop, whatever was at the destination stays as it was and
// nothing is left behind. Nothing is created before the resampler and its blocks exist.
//
// The channels are split into groups, each resampled by a libsoxr resampler of its own and
// quantised (ditherFor), one group per worker thread; the workers, this thread among them, also
// read up to two blocks ahead and write behind them, each taking whatever is next, so that none
// waits while there is work. The output is the same, bit for bit, as one group's. The workers come
// from the cores that the conversions running beside it leave free; one channel, or one free core,
// runs it all on this thread.
//
// libsoxr delivers floats; integer output is rounded to the nearest step, ties to even (as libsoxr
// rounds), and clipped at full scale. Each channel's dither is seeded from `settings.ditherSeed` or
// the source, so the bytes are the same in every run. A sample already on the output's grid, exact
// zero among them, is written as it is, undithered: a conversion that changes no sample value is
// bit-exact, and digital silence stays digital silence.
//
// `progress`, if given, is called once per 65536-frame input block, as it is written, with the
// fraction of the source read so far; the last call for a source read to its end is exactly 1.0.
// The calls come one at a time and in order, on this thread or on one of the run's worker threads.
//
// The source's metadata (bext, iXML, strings, cue points, sampler loops, cart) is carried across
// with its sample positions rescaled, unless `control.carryMetadata` is false; what is malformed is
// left out and the audio converted all the same. WAV and RF64 hold all of it; FLAC the tags as
// Vorbis comments and a layout other than FLAC's own; CAF the tags and the layout; AIFF its four
// strings, the markers with their names and two loops; W64 none of it. What the type cannot hold is
// named in the report's notCarried.
//
// A WAV or RF64 source whose data size was never written is converted as far as its audio goes,
// and so is a source that ends before its stated length; samples that are not numbers become 0
// before they reach libsoxr. The report says so (SourceDamage).
//
// Throws AudioFileError, SoxrError, ConversionError (DestinationExists among them) or, when
// stopped, ConversionCancelled.
ConversionReport convertWav(const std::filesystem::path& source, const std::filesystem::path& destination,
    const ConversionSettings& settings, const ProgressCallback& progress = {}, const RunControl& control = {});

// ---- The filter a conversion uses, measured ------------------------------------------------

// What the resampler a conversion from `sourceRate` to `targetRate` would create does to a unit
// impulse: its impulse response and its magnitude response, and the figures to compare settings by.
struct FilterResponse {
    double sourceRate = 0, targetRate = 0;
    double binHz = 0; // spacing of magnitudeDb
    std::vector<double> magnitudeDb; // from 0 Hz up to the higher of the two Nyquist frequencies
    std::vector<double> impulse; // at the target rate, the input's unit impulse scaled to unit gain
    std::size_t peakIndex = 0; // of impulse
    double passbandEndHz = 0; // the passband edge the quality record asks for
    double minus0_1DbHz = 0, minus3DbHz = 0; // where the response first falls below these levels
    double passbandRippleDb = 0; // highest minus lowest level up to passbandEndHz
    double stopbandDb = 0; // the highest level above the lower Nyquist frequency (negative)
    double latencyFrames = 0; // soxr_delay, in output frames
    double preRingSeconds = 0, postRingSeconds = 0; // before and after the peak, down to -120 dB

    double latencySeconds() const { return targetRate > 0 ? latencyFrames / targetRate : 0; }
};

// A few milliseconds for most settings, up to about 150 ms for minimum phase near 99.7 % bandwidth
// (libsoxr's own filter design). Downwards, the part above the output's Nyquist frequency cannot
// reach the output; it is taken from the same filter design run the other way between the two
// rates. Thread-safe. Throws ConversionError for rates no conversion
// could use, SoxrError when libsoxr refuses.
FilterResponse measureFilterResponse(double sourceRate, double targetRate, const ConversionOptions& options);

// ---- The noise a dither leaves -------------------------------------------------------------

// The noise of integer output quantised with a dither choice, worked out from the choice itself
// (flat TPDF, or TPDF through the shaper designed for the nearest rate), for plotting and comparing.
struct DitherNoise {
    double binHz = 0; // spacing of levelDb, whose first bin is centred at binHz / 2
    std::vector<double> levelDb; // noise power per bin, dB relative to full scale (1.0)
    double weightedDb = 0; // weighted by the threshold of hearing, relative to flat TPDF
    double band1To5kDb = 0; // mean level between 1 and 5 kHz, relative to flat TPDF
};

// `bins` equal bins from 0 Hz to half of `sampleRate`, for int16 or int24 output (int24's steps
// are 48 dB finer; float32 is taken as int16).
DitherNoise ditherNoise(Dither dither, OutputFormat format, double sampleRate, std::size_t bins);

// The threshold of hearing in quiet, in dB SPL (Terhardt's approximation), what shaping weighs by.
double thresholdOfHearingDb(double hz);

// The bandwidth libsoxr's steep recipe sets for `precision` (what a steep conversion uses instead of
// bandwidthPercent).
double steepBandwidthPercent(ConversionOptions::Precision precision);

// soxr_version() of the libsoxr that conversions use (bound on first use), or "unknown".
std::string soxrVersionText();

// ---- Many-file runs ------------------------------------------------------------------------
// What the converter and the batch window share: which output each source goes to, the run's
// progress weighed by length, and the sentences that report it.

// A source of a many-file run, with its folder relative to the folder it was found in.
struct BatchSource {
    std::filesystem::path file;
    std::filesystem::path subfolder; // "" for a file named on its own or directly in its folder
};

// What named files and folders stand for, in their order: a file itself, whatever its extension
// (one that cannot be read fails in its turn); a folder the files findAudioFiles finds there, each
// folder walked once over all of them.
std::vector<BatchSource> findBatchSources(const std::vector<std::filesystem::path>& named);

// Where a many-file run writes: into `folder` with each source's subfolder mirrored under it, or
// next to each source.
struct BatchDestination {
    std::filesystem::path folder; // not used next to the sources
    bool nextToSource = false;
};

struct PlannedOutput {
    std::filesystem::path source;
    std::filesystem::path output;
    std::filesystem::path name; // relative to the destination folder; next to the source, the file name
};

// Two sources that map to one output, as indices into the plan's outputs; first < second.
struct OutputClash {
    std::size_t first = 0, second = 0;
    friend bool operator==(const OutputClash&, const OutputClash&) = default;
};

struct BatchPlan {
    std::vector<PlannedOutput> outputs; // one a source, in the sources' order
    std::vector<OutputClash> clashes; // each later source against the first one mapped to its output
};

// The output of every source under defaultOutputFileName; touches no file. A run with clashes is
// refused before anything runs.
BatchPlan planBatch(
    const std::vector<BatchSource>& sources, const BatchDestination& destination, const ConversionSettings& settings);

// The indices of the planned outputs where something (a file, a link, even a dangling one) is already.
std::vector<std::size_t> existingOutputs(const BatchPlan& plan);

// Makes `folder` and its parents; one that is there already is fine.
std::error_code createOutputFolder(const std::filesystem::path& folder);

// A run's progress with each file weighed by its length, so that a long file counts for more than
// a short one. Files of unknown length (0 seconds) weigh nothing; when no file has a length, each
// file counts the same.
class BatchProgress {
public:
    explicit BatchProgress(std::vector<double> seconds); // each file's length
    void progressed(std::size_t file, double fraction); // of the file read so far
    void finished(std::size_t file); // saved, failed or cancelled: all of its length is done
    std::size_t fileCount() const { return seconds_.size(); }
    std::size_t filesDone() const { return filesDone_; }
    double fraction() const; // of the whole run, 0 to 1
    // The time left at the pace so far, once there is a pace to go by: some done, not all, and at
    // least a second gone.
    std::optional<double> secondsLeft(double elapsedSeconds) const;

private:
    std::vector<double> seconds_;
    std::vector<double> fractions_;
    std::vector<bool> done_;
    double totalSeconds_ = 0;
    std::size_t filesDone_ = 0;
};

// Whole seconds as a clock shows them: "0:42", "12:05", "1:02:09".
std::string clockText(double seconds);

// ---- What a run reports, in one wording ----------------------------------------------------

// A number in the reader's notation, in its shortest form that reads back as the same value:
// 1234 as "1234" or "1.234", 0.31 as "0.31" or "0,31". A minus sign is the function's to write.
using NumberText = std::function<std::string(double value)>;

// The C locale's: "1234", "0.31", "-0.8".
std::string cNumberText(double value);

// "Saved NAME (VERSION)", VERSION being the libsoxr that converted it.
std::string savedSentence(std::string_view name, std::string_view version);

// "Conversion failed: DESCRIPTION"
std::string failedSentence(std::string_view description);

// "379 samples clipped (peak +0.31 dBFS)." for integer output, "The file holds 12 samples over full
// scale (peak +0.8 dBFS)." for float output (the peak to two decimals at most); nothing when
// nothing went past full scale.
std::optional<std::string> clipWarning(const ClipReport& clips, const NumberText& number);

// "12 samples in the source were not numbers and were replaced by silence." (one: "1 sample in the
// source was not a number and was replaced by silence."); nothing when there were none.
std::optional<std::string> nonFiniteWarning(std::uint64_t count, const NumberText& number);

// "The source ended after 0:00.500 of its stated 0:01.000; the rest was missing." or "The source's
// header gave no length (an unfinished recording); the 0:01.000 of audio after it was converted.";
// nothing for a source read to its stated end.
std::optional<std::string> damageWarning(const SourceDamage& source);

// Every warning of a run, each a sentence: what clipped, what was not a number, what was missing,
// what the output type could not hold.
std::vector<std::string> runWarnings(const ConversionReport& report, const NumberText& number);

// A number with a fixed count of decimals in the reader's notation, without a sign: (14.25, 1)
// as "14.3" or "14,3". The sentences write the sign themselves.
using DecimalText = std::function<std::string(double value, int decimals)>;

// The C locale's: "14.3".
std::string cDecimalText(double value, int decimals);

// "−14.2 LUFS · true peak −1.0 dBTP · LRA 6.3 LU", each to one decimal, negative levels with the
// minus sign U+2212 and silence as "−∞".
std::string levelSentence(const LevelFigures& figures, const DecimalText& decimal);

// One level as levelSentence writes it, without its unit: "−14.2", "0.0", "−∞".
std::string levelText(double value, const DecimalText& decimal);

// "Album loudness −14.2 LUFS": the integrated loudness of a run's outputs heard as one programme.
std::string albumLoudnessSentence(double lufs, const DecimalText& decimal);

// What the gain stage did, when it did anything: "Gain −2.4 dB, lowered by 1.4 dB to keep true
// peak below −1.0 dBTP.", "Gain +7.0 dB to reach −16.0 LUFS.", "Gain +5.6 dB, lowered by 1.4 dB to
// keep true peak below −1.0 dBTP: 1.4 LU below the −16.0 LUFS target.", "Gain −6.0 dB."; nothing
// for a run at 0 dB without a ceiling that bound or a loudness target.
std::optional<std::string> gainSentence(const GainReport& gain, const DecimalText& decimal);

// A time to the millisecond as a clock shows it: "0:00.500", "12:05.250", "1:02:09.000".
std::string preciseClockText(double seconds);

// How a many-file run's files ended.
struct BatchCounts {
    std::size_t saved = 0, failed = 0, cancelled = 0, skipped = 0;
};

// "Saved 12 files (VERSION)", "Saved 11 files, 1 failed (VERSION)"; failed, cancelled and skipped
// files are counted, in that order, when there are any.
std::string batchSummary(const BatchCounts& counts, std::string_view version);

// "FIRST and SECOND would both be written to OUTPUT"
std::string clashSentence(std::string_view first, std::string_view second, std::string_view output);

// ---- Gapless albums ------------------------------------------------------------------------

// One track of an album: its source and the file its part of the album goes to.
struct AlbumTrack {
    std::filesystem::path source;
    std::filesystem::path destination;
};

// `fraction` of track `track`'s source read so far.
using AlbumProgress = std::function<void(std::size_t track, double fraction)>;
// Track `track`'s file is complete and in place.
using TrackSaved = std::function<void(std::size_t track, const ConversionReport& report)>;

// Whether `other` can join an album that begins with `first`: the same sample rate and channel count.
bool fitsAlbum(const SourceFileInfo& first, const SourceFileInfo& other);

// "NAME has 48000 Hz, 2 channels; the album's first file has 44100 Hz, 2 channels."
std::string albumMismatchSentence(
    std::string_view name, const SourceFileInfo& info, const SourceFileInfo& first, const NumberText& number);

// Converts the sources, in their order, as one continuous recording: one set of resamplers is fed
// the tracks one after the other, its delay and tail are dealt with once for the whole album, and
// the output is cut into one file per track. Track k's file ends at the rescaled boundary
// round(input frames of tracks 0..k × target / source) (half up, in exact integer arithmetic); the
// last ends where the album's output does. So the files put end to end are, sample for sample, the
// conversion of the tracks put end to end, and no track's join rings or loses a sample.
//
// Each file is written as convertWav writes one: its own source's metadata rescaled, under a
// temporary name renamed into place once complete, its own clip and damage report. `saved` is
// called as each is in place, in order (like `progress`: one call at a time, on this thread or a
// worker's). All the sources must share one whole-hertz rate and one channel count
// (ConversionError naming the first that differs, before anything is written).
//
// A failure or a stop ends the album at the track being written: the files already saved stay,
// nothing else is left behind, and the error is raised as convertWav raises it; the track it
// belongs to is the first one `saved` has not been called for. Returns every track's report.
std::vector<ConversionReport> convertAlbum(const std::vector<AlbumTrack>& tracks, const ConversionSettings& settings,
    const AlbumProgress& progress = {}, const RunControl& control = {}, const TrackSaved& saved = {});

// What named files and folders stand for as an album: as findBatchSources, but with each folder's
// files in natural name order, numbers by their value ("track 2" before "track 10").
std::vector<BatchSource> findAlbumSources(const std::vector<std::filesystem::path>& named);

// Natural name order: runs of digits compare by their value, the rest as it is.
bool naturalNameLess(const std::string& a, const std::string& b);

} // namespace fennick
