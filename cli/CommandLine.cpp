#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace fennick::cli {

namespace {

using Precision = ConversionOptions::Precision;
using Phase = ConversionOptions::Phase;
using Rolloff = ConversionOptions::Rolloff;

// A usage error in our own words; main turns it into one line and exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Option values are the case names, so scripts read like the window's settings.
template <typename E> using Choices = std::vector<std::pair<std::string, E>>;
const Choices<OutputFormat> kFormats{
    {"int16", OutputFormat::int16}, {"int24", OutputFormat::int24}, {"float32", OutputFormat::float32}};
const Choices<OutputType> kTypes{{"wav", OutputType::wav}, {"rf64", OutputType::rf64}, {"w64", OutputType::w64},
    {"aiff", OutputType::aiff}, {"flac", OutputType::flac}, {"caf", OutputType::caf}};
const Choices<Precision> kPrecisions{{"quick", Precision::quick}, {"low", Precision::low},
    {"medium", Precision::medium}, {"bits16", Precision::bits16}, {"high", Precision::high},
    {"bits24", Precision::bits24}, {"veryHigh", Precision::veryHigh}, {"bits32", Precision::bits32}};
const Choices<Phase> kPhases{
    {"linear", Phase::linear}, {"intermediate", Phase::intermediate}, {"minimum", Phase::minimum}};
const Choices<Rolloff> kRolloffs{{"small", Rolloff::small}, {"medium", Rolloff::medium}, {"none", Rolloff::none}};
const Choices<Dither> kDithers{
    {"none", Dither::none}, {"tpdf", Dither::tpdf}, {"shaped-light", Dither::shapedLight}, {"shaped", Dither::shaped}};

// "a, b or c"
template <typename E> std::string listOf(const Choices<E>& choices)
{
    std::string list;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i].first;
    }
    return list;
}

template <typename E>
void parseChoice(const std::string& option, const std::string& given, const Choices<E>& choices, E& target)
{
    for (const auto& [name, value] : choices) {
        if (name == given) {
            target = value;
            return;
        }
    }
    throw UsageError(option + " takes " + listOf(choices) + ", not '" + given + "'");
}

std::int64_t parseRate(const std::string& option, const std::string& given)
{
    std::int64_t rate = 0;
    const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), rate);
    if (error != std::errc() || end != given.data() + given.size() || rate < 1
        || rate > std::numeric_limits<int>::max()) {
        throw UsageError(option + " takes a whole number of hertz from 1 to 2147483647, not '" + given + "'");
    }
    return rate;
}

double parseBandwidth(const std::string& given)
{
    double percent = 0;
    const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), percent);
    if (error != std::errc() || end != given.data() + given.size() || !(percent >= 74.0 && percent <= 99.7)) {
        throw UsageError("--bandwidth takes a percentage from 74.0 to 99.7, not '" + given + "'");
    }
    return percent;
}

std::uint64_t parseSeed(const std::string& given)
{
    std::uint64_t seed = 0;
    const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), seed);
    if (error != std::errc() || end != given.data() + given.size() || given.empty()) {
        throw UsageError("--dither-seed takes a whole number from 0 to 18446744073709551615, not '" + given + "'");
    }
    return seed;
}

// A decibel figure with an optional unit, case-insensitive: "-1dBTP", "-16LUFS", "-6.0206". The
// unit is cut off and returned.
double parseLevel(const std::string& option, const std::string& given, const std::vector<std::string>& units,
    double low, double high, std::string& unit, const std::string& expected)
{
    std::string number = given;
    unit.clear();
    for (const std::string& each : units) {
        if (given.size() > each.size()) {
            std::string tail = given.substr(given.size() - each.size());
            std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
            std::string lower = each;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            if (tail == lower) {
                number = given.substr(0, given.size() - each.size());
                unit = each;
                break;
            }
        }
    }
    double value = 0;
    const char* begin = number.data() + (number.rfind('+', 0) == 0 ? 1 : 0);
    const auto [end, error] = std::from_chars(begin, number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !(value >= low && value <= high)) {
        throw UsageError(option + " takes " + expected + ", not '" + given + "'");
    }
    return value;
}

unsigned parseJobs(const std::string& given)
{
    unsigned jobs = 0;
    const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), jobs);
    if (error != std::errc() || end != given.data() + given.size() || jobs < 1 || jobs > 1024) {
        throw UsageError("--jobs takes a whole number from 1 to 1024, not '" + given + "'");
    }
    return jobs;
}

// CLI11's own complaints, reworded.
std::string describe(const CLI::ParseError& error)
{
    const std::string text = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        const auto quote = text.find(": ");
        const std::string extra = quote == std::string::npos ? text : text.substr(quote + 2);
        return (extra.rfind('-', 0) == 0 ? "unknown option '" : "unexpected argument '") + extra + "'";
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
        return text.substr(0, text.find(':')) + " needs a value";
    }
    return text.substr(0, text.find('\n'));
}

} // namespace

ParseResult parseCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    ConvertRequest request;
    CLI::App app{
        "Resamples an audio file into a WAV, RF64, W64, AIFF, FLAC or CAF file with libsoxr.", "fennick-convert"};
    app.set_version_flag("--version", std::string("fennick-convert ") + FENNICK_VERSION);
    app.footer("Many files: fennick-convert [OPTIONS] -o FOLDER SOURCE...\n"
               "  A SOURCE folder stands for the audio files libsndfile reads in it, subfolders mirrored in FOLDER.\n"
               "  One file: the type is DESTINATION's extension (.wav .rf64 .w64 .aif .aiff .flac .caf).\n"
               "Gapless album: fennick-convert [OPTIONS] --gapless -o FOLDER SOURCE...\n"
               "  The sources, in the order given (a folder's in natural name order), as one recording.\n\n"
               "Examples:\n"
               "  fennick-convert take.wav take_96000-32f.wav -r 96000 -f float32\n"
               "  fennick-convert -o album-48k -r 48000 -f int24 -j 2 album/\n"
               "  fennick-convert -o delivery --type flac -r 44100 -f int24 masters/\n"
               "  fennick-convert --gapless -o live-48k -r 48000 -f int24 live/\n"
               "  fennick-convert mix.wav mix_48000-24.wav -r 48000 -f int24 -q bits32 --steep\n"
               "  fennick-convert master.wav master_44100-16.wav --dither shaped\n"
               "  fennick-convert voice.wav voice_44100-16.wav --no-dither --overwrite\n"
               "  fennick-convert master.wav master_48000-24.wav -r 48000 -f int24 --ceiling -1dBTP\n"
               "  fennick-convert --analyze --report json album/*.wav");
    // SOURCE DESTINATION, with --output-dir any number of sources, with --filter-report none: sorted
    // out after parsing.
    std::vector<std::string> operands;
    app.add_option("SOURCE DESTINATION", operands, "audio file to read and file to write")
        ->type_name("")
        ->expected(0, -1);

    // Every value is taken as text and checked below, so that each complaint names its option in
    // our words; a repeated option takes its last value, as getopt tools do.
    std::string rate, format, type, quality, phase, rolloff, bandwidth, sourceRate, outputDir, jobs, dither, seed;
    const auto single = [&app](const std::string& flags, std::string& target, const std::string& type,
                            const std::string& help, const std::string& fallback) {
        return app.add_option(flags, target, help)
            ->type_name(type)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
            ->default_str(fallback);
    };
    CLI::Option* const rateOption = single(
        "-r,--rate", rate, "HZ", "target rate in Hz: 44100, 48000, 88200, 96000, 176400, 192000 or any other", "44100");
    CLI::Option* const formatOption = single("-f,--format", format, "FORMAT", listOf(kFormats), "int16");
    CLI::Option* const typeOption = single("-t,--type", type, "TYPE",
        "output file type: " + listOf(kTypes) + "; with one file, DESTINATION's extension", "wav");
    CLI::Option* const qualityOption = single("-q,--quality", quality, "LEVEL", listOf(kPrecisions), "veryHigh");
    CLI::Option* const phaseOption = single("--phase", phase, "P", listOf(kPhases), "linear");
    CLI::Option* const rolloffOption = single("--rolloff", rolloff, "R", listOf(kRolloffs), "small");
    CLI::Option* const bandwidthOption
        = single("--bandwidth", bandwidth, "PCT", "passband end in percent, 74.0 to 99.7", "91.3");
    CLI::Option* const outputDirOption = single("-o,--output-dir", outputDir, "FOLDER",
        "write each output into FOLDER under its suggested name, BASE_RATE-16|24|32f.TYPE", "");
    CLI::Option* const jobsOption
        = single("-j,--jobs", jobs, "N", "files converted at the same time, with -o", "cores");
    app.add_flag(
        "--steep", request.settings.options.steepFilter, "steep filter, with libsoxr's own bandwidth for the quality");
    app.add_flag("--gapless", request.gapless,
        "with -o: convert the sources in their order as one continuous recording, cut into one file each");
    app.add_flag("--filter-report", request.filterReport,
        "print the figures of the filter from --source-rate to --rate and convert nothing");
    CLI::Option* const sourceRateOption
        = single("--source-rate", sourceRate, "HZ", "source rate in Hz for --filter-report", "");
    std::string gain, ceiling, loudness, report;
    CLI::Option* const gainOption
        = single("--gain", gain, "DB", "one linear gain in dB before quantising, -60 to +24", "0");
    CLI::Option* const ceilingOption = single("--ceiling", ceiling, "LEVEL",
        "keep peaks below LEVEL: -1dBTP (true peak) or -0.1dBFS (sample peak); only ever lowers the gain", "");
    CLI::Option* const loudnessOption = single(
        "--loudness", loudness, "LUFS", "the gain that brings the integrated loudness to LUFS, e.g. -16LUFS", "");
    CLI::Option* const reportOption
        = single("--report", report, "FORMAT", "json: one JSON object per file on stdout instead of the lines", "");
    app.add_flag("--analyze", request.analyze,
        "measure each SOURCE's loudness and peaks and convert nothing: fennick-convert --analyze SOURCE...");
    app.add_flag("--double-precision", request.settings.options.doublePrecision, "64-bit internal processing");
    CLI::Option* const ditherOption = single("--dither", dither, "D",
        "dither of int16 and int24 output: " + listOf(kDithers), "tpdf for int16, none for int24");
    CLI::Option* const seedOption = single(
        "--dither-seed", seed, "N", "start the dither's noise from N instead of from the source", "from the source");
    bool noDither = false;
    app.add_flag("--no-dither", noDither, "no dither: the same as --dither none");
    app.add_flag("--overwrite", request.overwrite, "replace an existing DESTINATION");
    app.add_flag("--quiet", request.quiet, "no progress display");
    bool noMetadata = false;
    app.add_flag("--no-metadata", noMetadata, "write only the format and the audio, without the source's metadata");

    try {
        // CLI11 takes its arguments last first.
        app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));
        if (rateOption->count() > 0) request.settings.targetRate = static_cast<double>(parseRate("--rate", rate));
        if (request.filterReport) {
            if (sourceRateOption->count() == 0) throw UsageError("--filter-report needs --source-rate");
            request.sourceRate = parseRate("--source-rate", sourceRate);
        } else if (sourceRateOption->count() > 0) {
            throw UsageError("--source-rate is only for --filter-report");
        }
        if (formatOption->count() > 0) parseChoice("--format", format, kFormats, request.settings.format);
        if (typeOption->count() > 0) parseChoice("--type", type, kTypes, request.settings.type);
        if (qualityOption->count() > 0)
            parseChoice("--quality", quality, kPrecisions, request.settings.options.precision);
        if (phaseOption->count() > 0) parseChoice("--phase", phase, kPhases, request.settings.options.phase);
        if (rolloffOption->count() > 0) parseChoice("--rolloff", rolloff, kRolloffs, request.settings.options.rolloff);
        if (bandwidthOption->count() > 0) request.settings.options.bandwidthPercent = parseBandwidth(bandwidth);
        if (ditherOption->count() > 0) {
            if (noDither) throw UsageError("--no-dither is --dither none; give one of them");
            request.settings.dither.emplace();
            parseChoice("--dither", dither, kDithers, *request.settings.dither);
        }
        if (seedOption->count() > 0) request.settings.ditherSeed = parseSeed(seed);
        request.jobs = jobsOption->count() > 0 ? parseJobs(jobs) : std::max(1u, std::thread::hardware_concurrency());
        std::string unit;
        if (gainOption->count() > 0)
            request.settings.gainDb = parseLevel("--gain", gain, {"dB"}, kMinGainDb, kMaxGainDb, unit, "-60 to +24 dB");
        if (ceilingOption->count() > 0) {
            const double level = parseLevel(
                "--ceiling", ceiling, {"dBTP", "dBFS"}, -60, 0, unit, "a level from -60 to 0 in dBTP or dBFS");
            if (unit.empty()) throw UsageError("--ceiling needs its unit, dBTP or dBFS: '" + ceiling + "dBTP'");
            request.settings.ceiling
                = PeakCeiling{level, unit == "dBTP" ? PeakCeiling::Kind::truePeak : PeakCeiling::Kind::samplePeak};
        }
        if (loudnessOption->count() > 0) {
            request.settings.loudnessTargetLufs
                = parseLevel("--loudness", loudness, {"LUFS"}, -70, 0, unit, "a loudness from -70 to 0 LUFS");
            if (gainOption->count() > 0) throw UsageError("--loudness sets the gain itself; leave out --gain");
        }
        if (reportOption->count() > 0) {
            if (report != "json") throw UsageError("--report takes json, not '" + report + "'");
            request.jsonReport = true;
        }
        if (request.gapless && (request.analyze || request.filterReport || outputDirOption->count() == 0)) {
            throw UsageError("--gapless needs -o FOLDER");
        }
        if (request.analyze) {
            if (request.filterReport || outputDirOption->count() > 0)
                throw UsageError("--analyze converts nothing; leave out --filter-report and --output-dir");
            if (operands.empty()) throw UsageError("--analyze needs a SOURCE");
            request.sources.assign(operands.begin(), operands.end());
        } else if (request.filterReport) {
            if (!operands.empty() || outputDirOption->count() > 0) {
                throw UsageError("--filter-report converts nothing; leave out the files");
            }
        } else if (outputDirOption->count() > 0) {
            if (outputDir.empty()) throw UsageError("--output-dir needs a value");
            request.outputDir = outputDir;
            if (operands.empty()) throw UsageError("a SOURCE is needed");
            request.sources.assign(operands.begin(), operands.end());
        } else {
            if (operands.size() < 2) throw UsageError("a SOURCE and a DESTINATION are needed");
            if (operands.size() > 2) throw UsageError("unexpected argument '" + operands[2] + "'");
            request.source = operands[0];
            request.destination = operands[1];
            if (!isWritableDestination(request.destination)) {
                std::string types;
                for (const std::string& type : writableFileTypes()) types += (types.empty() ? "." : ", .") + type;
                throw UsageError("DESTINATION '" + operands[1] + "' names a type not written; it must end in " + types
                    + " or have no extension");
            }
            // The name says what it holds; --type, if given, must agree with it.
            if (const std::optional<OutputType> named = outputTypeOf(request.destination)) {
                if (typeOption->count() > 0 && *named != request.settings.type) {
                    throw UsageError("DESTINATION '" + operands[1] + "' names a " + std::string(fileTypeName(*named))
                        + " file, not --type " + type);
                }
                request.settings.type = *named;
            }
        }
        if (!request.filterReport && !canHold(request.settings.type, request.settings.format)) {
            throw UsageError(cannotHoldSentence(request.settings.type, request.settings.format));
        }
        if (request.settings.options.steepFilter && bandwidthOption->count() > 0) {
            throw UsageError("--steep sets its own bandwidth; leave out --bandwidth");
        }
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return {std::nullopt, 0};
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << '\n';
        return {std::nullopt, 0};
    } catch (const CLI::ParseError& error) {
        err << "fennick-convert: " << describe(error) << " (see --help)\n";
        return {std::nullopt, 2};
    } catch (const UsageError& error) {
        err << "fennick-convert: " << error.what() << " (see --help)\n";
        return {std::nullopt, 2};
    }
    request.settings.options.dither = !noDither;
    request.carryMetadata = !noMetadata;
    return {request, 0};
}

} // namespace fennick::cli
