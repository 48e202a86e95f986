// fennick-convert: the conversion engine on the command line, with the window's result lines.

#include "BatchRun.h"
#include "CommandLine.h"
#include "FennickEngine.h"
#include "FilterReport.h"
#include "JsonReport.h"
#include "ProgressBar.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM stop the conversion at its next block, as a shell user expects of ^C, and the
// run cleans up after itself. They are taken from every thread and waited for on one of its own,
// where stopping the run is ordinary code rather than a signal handler's.
class StopOnSignal {
public:
    StopOnSignal()
    {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
        std::thread([this] {
            pthread_setname_np(pthread_self(), "fennick-signals"); // as ps -T and debuggers show it
            int received = 0;
            if (sigwait(&signals_, &received) != 0) return;
            signal_ = received;
            stop_.request_stop();
        }).detach(); // waits until the process ends
    }
    std::stop_token token() const { return stop_.get_token(); }
    int signal() const { return signal_; }

private:
    sigset_t signals_{};
    std::stop_source stop_;
    std::atomic<int> signal_{0};
};

// Many files into one folder: every check before the first file is touched, then the run.
int convertMany(const fennick::cli::ConvertRequest& request, const StopOnSignal& stopOnSignal)
{
    using namespace fennick;
    const BatchPlan plan
        = planBatch(request.gapless ? findAlbumSources(request.sources) : findBatchSources(request.sources),
            {*request.outputDir}, request.settings);
    if (!plan.clashes.empty()) {
        const auto [first, second] = plan.clashes.front();
        std::cerr << "fennick-convert: "
                  << clashSentence(plan.outputs[first].source.string(), plan.outputs[second].source.string(),
                         plan.outputs[second].output.string())
                  << '\n';
        return 2;
    }
    if (plan.outputs.empty()) {
        std::cerr << "fennick-convert: no audio files in the sources given\n";
        return 2;
    }
    if (request.gapless) {
        // An album is one rate and one channel count; a source that differs is named before anything runs.
        std::optional<SourceFileInfo> first;
        for (const PlannedOutput& output : plan.outputs) {
            try {
                const SourceFileInfo info = readSourceFileInfo(output.source);
                if (!first) first = info;
                if (!fitsAlbum(*first, info)) {
                    std::cerr << "fennick-convert: "
                              << albumMismatchSentence(output.source.string(), info, *first, cNumberText)
                              << " (see --help)\n";
                    return 2;
                }
            } catch (const std::exception& error) {
                std::cerr << failedSentence(output.source.string() + ": " + error.what()) << '\n';
                return 1;
            }
        }
    }
    if (!request.overwrite) {
        const std::vector<std::size_t> existing = existingOutputs(plan);
        for (const std::size_t i : existing) {
            std::cerr << failedSentence(plan.outputs[i].output.string())
                      << " already exists; use --overwrite to replace it.\n";
        }
        if (!existing.empty()) return 1;
    }
    if (const std::error_code error = createOutputFolder(*request.outputDir)) {
        std::cerr << failedSentence(request.outputDir->string() + ": " + error.message()) << '\n';
        return 1;
    }
    std::FILE* const terminal = !request.quiet && ::isatty(STDERR_FILENO) ? stderr : nullptr;
    const auto run = request.gapless ? cli::runAlbum : cli::runBatch;
    switch (run(plan.outputs, request, stopOnSignal.token(), terminal, std::cout, std::cerr)) {
    case cli::BatchOutcome::allSaved: return 0;
    case cli::BatchOutcome::someFailed: return 1;
    case cli::BatchOutcome::cancelled: return 128 + stopOnSignal.signal();
    }
    return 1;
}

// Measures each source as it is; a line (text or JSON) for each, failures on stderr.
int analyzeSources(const fennick::cli::ConvertRequest& request)
{
    using namespace fennick;
    int status = 0;
    for (const std::filesystem::path& source : request.sources) {
        try {
            const SourceFileInfo info = readSourceFileInfo(source);
            const LevelFigures level = analyzeFile(source);
            if (request.jsonReport) {
                cli::FileResult result;
                result.source = source;
                result.sourceRate = info.sampleRate;
                result.format = info.sampleFormat;
                result.channels = info.channelCount;
                result.frames = info.frames;
                result.level = level;
                std::cout << cli::jsonLine(result, true) << std::endl;
            } else {
                std::cout << source.string() << ": " << levelSentence(level, cDecimalText) << " \u00B7 sample peak "
                          << (std::isfinite(level.samplePeakDbfs) ? (level.samplePeakDbfs < -0.05 ? "\u2212" : "")
                                         + cDecimalText(level.samplePeakDbfs, 1)
                                                                  : std::string("\u2212\u221E"))
                          << " dBFS" << std::endl;
            }
        } catch (const std::exception& error) {
            std::cerr << "Measurement failed: " << source.string() << ": " << error.what() << '\n';
            status = 1;
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace fennick;
    const auto parsed = cli::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    if (!parsed.request) return parsed.exitCode;
    const cli::ConvertRequest& request = *parsed.request;
    if (request.filterReport) {
        try {
            const ConversionSettings& settings = request.settings;
            std::cout << cli::filterReport(
                measureFilterResponse(static_cast<double>(request.sourceRate), settings.targetRate, settings.options));
            if (settings.format != OutputFormat::float32) {
                std::cout << cli::ditherReport(
                    ditherNoise(ditherFor(settings), settings.format, settings.targetRate, 64));
            }
        } catch (const std::exception& error) {
            std::cerr << "Measurement failed: " << error.what() << '\n';
            return 1;
        }
        return 0;
    }

    if (request.analyze) return analyzeSources(request);

    // A file-size limit must fail a write (and so the run, which then cleans up), not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    static const StopOnSignal stopOnSignal; // its thread may outlast main's frame

    if (request.outputDir) return convertMany(request, stopOnSignal);

    const auto refuseExisting = [&] {
        std::cerr << failedSentence(request.destination.string())
                  << " already exists; use --overwrite to replace it.\n";
        return 1;
    };
    std::error_code ignored;
    if (!request.overwrite && std::filesystem::exists(std::filesystem::symlink_status(request.destination, ignored))) {
        return refuseExisting();
    }

    std::optional<cli::ProgressBar> bar;
    if (!request.quiet && ::isatty(STDERR_FILENO)) bar.emplace(stderr);
    ProgressCallback progress;
    if (bar) progress = [&bar](double fraction) { bar->update(fraction); };

    ConversionReport report;
    const auto started = std::chrono::steady_clock::now();
    try {
        report = convertWav(request.source, request.destination, request.settings, progress,
            {stopOnSignal.token(), request.overwrite, request.carryMetadata, request.jsonReport});
    } catch (const ConversionCancelled&) {
        bar.reset();
        return 128 + stopOnSignal.signal();
    } catch (const DestinationExists&) {
        bar.reset();
        return refuseExisting();
    } catch (const std::exception& error) {
        bar.reset();
        std::cerr << failedSentence(error.what()) << '\n';
        return 1;
    }
    bar.reset();
    if (request.jsonReport) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::cout << cli::jsonLine(
            cli::conversionResult(request.source, request.destination, request.settings, report, seconds), false)
                  << std::endl;
        return 0;
    }
    std::cout << savedSentence(request.destination.filename().string(), soxrVersionText()) << std::endl;
    if (const auto gain = gainSentence(report.gain, cDecimalText)) std::cout << *gain << '\n';
    for (const std::string& warning : runWarnings(report, cNumberText)) std::cerr << "warning: " << warning << '\n';
    return 0;
}
