#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <limits>
#include <utility>
#include <vector>
#include <ostream>

namespace fennick::cli {

namespace {

using Precision = ConversionOptions::Precision;
using Phase = ConversionOptions::Phase;
using Rolloff = ConversionOptions::Rolloff;

// Option values are the case names, so scripts read like the window's settings.
const std::vector<std::pair<std::string, OutputFormat>> kFormats{
    {"int16", OutputFormat::int16}, {"int24", OutputFormat::int24}, {"float32", OutputFormat::float32}};
const std::vector<std::pair<std::string, Precision>> kPrecisions{{"quick", Precision::quick}, {"low", Precision::low},
    {"medium", Precision::medium}, {"bits16", Precision::bits16}, {"high", Precision::high},
    {"bits24", Precision::bits24}, {"veryHigh", Precision::veryHigh}, {"bits32", Precision::bits32}};
const std::vector<std::pair<std::string, Phase>> kPhases{
    {"linear", Phase::linear}, {"intermediate", Phase::intermediate}, {"minimum", Phase::minimum}};
const std::vector<std::pair<std::string, Rolloff>> kRolloffs{
    {"small", Rolloff::small}, {"medium", Rolloff::medium}, {"none", Rolloff::none}};

// Accepts exactly one of the names, in the order given, and names them all when it does not.
template <typename E>
CLI::Option* addChoice(CLI::App& app, const std::string& flags, E& target,
    const std::vector<std::pair<std::string, E>>& choices, const std::string& defaultName, const std::string& help)
{
    std::string list;
    for (const auto& [name, value] : choices) list += (list.empty() ? "" : " | ") + name;
    auto* option = app.add_option_function<std::string>(
        flags,
        [&target, choices](const std::string& given) {
            for (const auto& [name, value] : choices) {
                if (name == given) target = value;
            }
        },
        help.empty() ? list : help);
    option->check(CLI::Validator(
        [choices, list](std::string& given) -> std::string {
            for (const auto& choice : choices) {
                if (choice.first == given) return {};
            }
            return "'" + given + "' is not one of " + list;
        },
        "", "choice"));
    option->default_str(defaultName);
    return option;
}

// The first line of a CLI11 message, which may run on with hints.
std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

} // namespace

ParseResult parseCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    ConvertRequest request;
    CLI::App app{"Resamples an audio file into a WAV file with libsoxr.", "fennick-convert"};
    app.set_version_flag("--version", std::string("fennick-convert ") + FENNICK_VERSION);
    app.footer("Examples:\n"
               "  fennick-convert take.wav take_96000-32f.wav -r 96000 -f float32\n"
               "  fennick-convert mix.wav mix_48000-24.wav -r 48000 -f int24 -q bits32 --steep\n"
               "  fennick-convert voice.wav voice_44100-16.wav --no-dither --overwrite");
    app.add_option("SOURCE", request.source, "audio file to read")->required();
    app.add_option("DESTINATION", request.destination, "WAV file to write")->required();
    app.add_option("-r,--rate", request.rate, "target rate in Hz: 44100, 48000, 88200, 96000, 176400, 192000 or any other")
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{std::numeric_limits<int>::max()}))
        ->capture_default_str();
    addChoice(app, "-f,--format", request.format, kFormats, "int16", "");
    addChoice(app, "-q,--quality", request.options.precision, kPrecisions, "veryHigh", "");
    addChoice(app, "--phase", request.options.phase, kPhases, "linear", "");
    addChoice(app, "--rolloff", request.options.rolloff, kRolloffs, "small", "");
    app.add_option("--bandwidth", request.options.bandwidthPercent, "passband end in percent, 74.0 to 99.7")
        ->check(CLI::Range(74.0, 99.7))
        ->default_str("91.3");
    app.add_flag("--steep", request.options.steepFilter, "steep filter");
    app.add_flag("--double-precision", request.options.doublePrecision, "64-bit internal processing");
    bool noDither = false;
    app.add_flag("--no-dither", noDither, "no TPDF dither for int16 output");
    app.add_flag("--overwrite", request.overwrite, "replace an existing DESTINATION");
    app.add_flag("--quiet", request.quiet, "no progress display");

    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return {std::nullopt, 0};
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << '\n';
        return {std::nullopt, 0};
    } catch (const CLI::ParseError& error) {
        err << "fennick-convert: " << firstLine(error.what()) << " (see --help)\n";
        return {std::nullopt, 2};
    }
    request.options.dither = !noDither;
    return {request, 0};
}

} // namespace fennick::cli
