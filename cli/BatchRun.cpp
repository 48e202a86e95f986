#include "BatchRun.h"

#include "JsonReport.h"
#include "ProgressBar.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace fennick::cli {

namespace {

using Clock = std::chrono::steady_clock;

class BatchRun {
public:
    BatchRun(const std::vector<PlannedOutput>& files, const ConvertRequest& request, std::stop_token stop,
        std::FILE* terminal, std::ostream& out, std::ostream& err)
        : files_(files), request_(request), stop_(std::move(stop)), out_(out), err_(err), progress_(lengths(files))
    {
        if (terminal != nullptr) bar_.emplace(terminal);
    }

    BatchOutcome run()
    {
        redraw();
        {
            std::vector<std::jthread> workers;
            const std::size_t count = std::min<std::size_t>(request_.jobs, files_.size());
            for (std::size_t i = 0; i < count; ++i) workers.emplace_back([this] { work(); });
        }
        bar_.reset();
        if (cancelled_ || (stop_.stop_requested() && progress_.filesDone() < files_.size()))
            return BatchOutcome::cancelled;
        return failed_ ? BatchOutcome::someFailed : BatchOutcome::allSaved;
    }

    BatchOutcome runAlbum()
    {
        redraw();
        std::vector<AlbumTrack> tracks;
        for (const PlannedOutput& file : files_) tracks.push_back({file.source, file.output});
        std::size_t index = 0;
        try {
            for (; index < files_.size(); ++index) makeFolder(files_[index]);
            index = 0;
            // Each track's time runs from the end of the one before it.
            auto started = Clock::now();
            convertAlbum(
                tracks, request_.settings, [this](std::size_t track, double fraction) { progressed(track, fraction); },
                {stop_, request_.overwrite, request_.carryMetadata, request_.jsonReport},
                [&](std::size_t track, const ConversionReport& report) {
                    saved(track, report, started);
                    started = Clock::now();
                    index = track + 1;
                });
        } catch (const ConversionCancelled&) {
            cancelled_ = true;
        } catch (const std::filesystem::filesystem_error& error) {
            failed(index, error.code().message());
        } catch (const std::exception& error) {
            failed(index, error.what());
        }
        bar_.reset();
        if (cancelled_) return BatchOutcome::cancelled;
        return failed_ ? BatchOutcome::someFailed : BatchOutcome::allSaved;
    }

private:
    void work()
    {
        while (!stop_.stop_requested()) {
            const std::size_t index = next_++;
            if (index >= files_.size()) return;
            convert(index);
        }
    }

    void convert(std::size_t index)
    {
        const PlannedOutput& file = files_[index];
        try {
            makeFolder(file);
            const auto started = Clock::now();
            saved(index,
                convertWav(file.source, file.output, request_.settings,
                    [this, index](double fraction) { progressed(index, fraction); },
                    {stop_, request_.overwrite, request_.carryMetadata, request_.jsonReport}),
                started);
        } catch (const ConversionCancelled&) {
            const std::lock_guard lock(mutex_);
            cancelled_ = true;
        } catch (const std::filesystem::filesystem_error& error) {
            failed(index, error.code().message());
        } catch (const std::exception& error) {
            failed(index, error.what());
        }
    }

    static void makeFolder(const PlannedOutput& file)
    {
        if (const std::error_code error = createOutputFolder(file.output.parent_path()))
            throw std::filesystem::filesystem_error(error.message(), file.output.parent_path(), error);
    }

    void saved(std::size_t index, const ConversionReport& report, Clock::time_point started)
    {
        const PlannedOutput& file = files_[index];
        if (request_.jsonReport) {
            const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
            finished(index,
                jsonLine(conversionResult(file.source, file.output, request_.settings, report, seconds), false), "",
                false);
            return;
        }
        std::string line = savedSentence(file.name.string(), soxrVersionText());
        if (const auto gain = gainSentence(report.gain, cDecimalText)) line += "\n" + file.name.string() + ": " + *gain;
        std::string warnings;
        for (const std::string& warning : runWarnings(report, cNumberText)) {
            warnings += (warnings.empty() ? "" : "\n") + ("warning: " + file.name.string() + ": " + warning);
        }
        finished(index, line, warnings, false);
    }

    void failed(std::size_t index, const std::string& description)
    {
        finished(index, "", failedSentence(files_[index].source.string() + ": " + description), true);
    }

    void progressed(std::size_t index, double fraction)
    {
        const std::lock_guard lock(mutex_);
        progress_.progressed(index, fraction);
        redraw();
    }

    void finished(std::size_t index, const std::string& outLine, const std::string& errLine, bool failed)
    {
        const std::lock_guard lock(mutex_);
        if (bar_) bar_->clear();
        if (!outLine.empty()) out_ << outLine << std::endl;
        if (!errLine.empty()) err_ << errLine << std::endl;
        progress_.finished(index);
        failed_ = failed_ || failed;
        redraw();
    }

    // Files done, the audio done as a share of all of it, and the time left at the pace so far.
    void redraw()
    {
        if (!bar_) return;
        std::string detail = std::to_string(progress_.filesDone()) + "/" + std::to_string(files_.size()) + " files";
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        if (const auto left = progress_.secondsLeft(elapsed)) detail += ", " + clockText(*left) + " left";
        bar_->update(progress_.fraction(), detail);
    }

    // The bar weighs each file by its length; a file whose header cannot be read weighs nothing
    // and fails in its turn.
    static std::vector<double> lengths(const std::vector<PlannedOutput>& files)
    {
        std::vector<double> seconds(files.size(), 0.0);
        for (std::size_t i = 0; i < files.size(); ++i) {
            try {
                const SourceFileInfo info = readSourceFileInfo(files[i].source);
                if (info.sampleRate > 0) seconds[i] = static_cast<double>(info.frames) / info.sampleRate;
            } catch (const std::exception&) {
            }
        }
        return seconds;
    }

    const std::vector<PlannedOutput>& files_;
    const ConvertRequest& request_;
    const std::stop_token stop_;
    std::ostream& out_;
    std::ostream& err_;
    const Clock::time_point start_ = Clock::now();
    std::atomic<std::size_t> next_{0}; // the next file to start

    std::mutex mutex_; // guards what follows, the bar and both streams
    BatchProgress progress_;
    std::optional<ProgressBar> bar_;
    bool failed_ = false;
    bool cancelled_ = false;
};

} // namespace

BatchOutcome runAlbum(const std::vector<PlannedOutput>& files, const ConvertRequest& request, std::stop_token stop,
    std::FILE* terminal, std::ostream& out, std::ostream& err)
{
    return BatchRun(files, request, std::move(stop), terminal, out, err).runAlbum();
}

BatchOutcome runBatch(const std::vector<PlannedOutput>& files, const ConvertRequest& request, std::stop_token stop,
    std::FILE* terminal, std::ostream& out, std::ostream& err)
{
    return BatchRun(files, request, std::move(stop), terminal, out, err).run();
}

} // namespace fennick::cli
