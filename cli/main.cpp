// fennick-convert: the conversion engine on the command line, with the window's result lines.

#include "CommandLine.h"
#include "FennickEngine.h"
#include "ProgressBar.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace fennick;
    const auto parsed = cli::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    if (!parsed.request) return parsed.exitCode;
    const cli::ConvertRequest& request = *parsed.request;

    std::error_code ignored;
    if (!request.overwrite && std::filesystem::exists(std::filesystem::symlink_status(request.destination, ignored))) {
        std::cerr << "Conversion failed: " << request.destination.string()
                  << " already exists; use --overwrite to replace it.\n";
        return 1;
    }

    std::optional<cli::ProgressBar> bar;
    if (!request.quiet && ::isatty(STDERR_FILENO)) bar.emplace(stderr);
    ProgressCallback progress;
    if (bar) progress = [&bar](double fraction) { bar->update(fraction); };

    try {
        convertWav(request.source, request.destination, static_cast<double>(request.rate), request.format,
            request.options, progress);
    } catch (const std::exception& error) {
        bar.reset();
        std::cerr << "Conversion failed: " << error.what() << '\n';
        return 1;
    }
    bar.reset();
    std::cout << "Saved " << request.destination.filename().string() << " (" << soxrVersionText() << ")" << std::endl;
    return 0;
}
