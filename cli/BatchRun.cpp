#include "BatchRun.h"

#include "ClipWarning.h"
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

// "0:42", "12:05", "1:02:09"
std::string clockText(long long seconds)
{
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    }
    return text;
}

class BatchRun {
public:
    BatchRun(const std::vector<BatchFile>& files, const ConvertRequest& request, std::stop_token stop,
        std::FILE* terminal, std::ostream& out, std::ostream& err)
        : files_(files), request_(request), stop_(std::move(stop)), out_(out), err_(err), seconds_(files.size(), 0.0),
          fractions_(files.size(), 0.0)
    {
        // The bar weighs each file by its length; a file whose header cannot be read weighs nothing
        // and fails in its turn.
        for (std::size_t i = 0; i < files_.size(); ++i) {
            try {
                const SourceFileInfo info = readSourceFileInfo(files_[i].source);
                if (info.sampleRate > 0) seconds_[i] = static_cast<double>(info.frames) / info.sampleRate;
            } catch (const std::exception&) {
            }
            totalSeconds_ += seconds_[i];
        }
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
        if (cancelled_ || (stop_.stop_requested() && done_ < files_.size())) return BatchOutcome::cancelled;
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
        const BatchFile& file = files_[index];
        try {
            std::error_code error;
            std::filesystem::create_directories(file.output.parent_path(), error);
            if (error) throw std::filesystem::filesystem_error(error.message(), file.output.parent_path(), error);
            const ClipReport clips = convertWav(file.source, file.output, request_.settings,
                [this, index](double fraction) { progressed(index, fraction); },
                {stop_, request_.overwrite, request_.carryMetadata});
            std::string line = "Saved " + file.name.string() + " (" + soxrVersionText() + ")";
            const auto warning = clipWarning(clips);
            finished(index, line, warning ? "warning: " + file.name.string() + ": " + *warning : "", false);
        } catch (const ConversionCancelled&) {
            const std::lock_guard lock(mutex_);
            cancelled_ = true;
        } catch (const std::filesystem::filesystem_error& error) {
            finished(index, "", "Conversion failed: " + file.source.string() + ": " + error.code().message(), true);
        } catch (const std::exception& error) {
            finished(index, "", "Conversion failed: " + file.source.string() + ": " + error.what(), true);
        }
    }

    void progressed(std::size_t index, double fraction)
    {
        const std::lock_guard lock(mutex_);
        fractions_[index] = fraction;
        redraw();
    }

    void finished(std::size_t index, const std::string& outLine, const std::string& errLine, bool failed)
    {
        const std::lock_guard lock(mutex_);
        if (bar_) bar_->clear();
        if (!outLine.empty()) out_ << outLine << std::endl;
        if (!errLine.empty()) err_ << errLine << std::endl;
        fractions_[index] = 1.0;
        ++done_;
        failed_ = failed_ || failed;
        redraw();
    }

    // Files done, the audio done as a share of all of it, and the time left at the pace so far.
    void redraw()
    {
        if (!bar_) return;
        double doneSeconds = 0;
        for (std::size_t i = 0; i < files_.size(); ++i) doneSeconds += fractions_[i] * seconds_[i];
        const double fraction = totalSeconds_ > 0 ? doneSeconds / totalSeconds_
                                                  : static_cast<double>(done_) / static_cast<double>(files_.size());
        std::string detail = std::to_string(done_) + "/" + std::to_string(files_.size()) + " files";
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        if (fraction > 0.0 && fraction < 1.0 && elapsed >= 1.0) {
            detail += ", " + clockText(static_cast<long long>(elapsed * (1.0 - fraction) / fraction + 0.5)) + " left";
        }
        bar_->update(fraction, detail);
    }

    const std::vector<BatchFile>& files_;
    const ConvertRequest& request_;
    const std::stop_token stop_;
    std::ostream& out_;
    std::ostream& err_;
    const Clock::time_point start_ = Clock::now();
    std::vector<double> seconds_; // each file's length
    double totalSeconds_ = 0;
    std::atomic<std::size_t> next_{0}; // the next file to start

    std::mutex mutex_; // guards what follows, the bar and both streams
    std::vector<double> fractions_;
    std::optional<ProgressBar> bar_;
    std::size_t done_ = 0;
    bool failed_ = false;
    bool cancelled_ = false;
};

} // namespace

BatchOutcome runBatch(const std::vector<BatchFile>& files, const ConvertRequest& request, std::stop_token stop,
    std::FILE* terminal, std::ostream& out, std::ostream& err)
{
    return BatchRun(files, request, std::move(stop), terminal, out, err).run();
}

} // namespace fennick::cli
