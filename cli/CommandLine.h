#pragma once

#include "FennickEngine.h"

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace fennick::cli {

struct ConvertRequest {
    std::filesystem::path source; // one file: SOURCE DESTINATION
    std::filesystem::path destination;
    std::vector<std::filesystem::path> sources; // many files, with outputDir: files and folders
    std::optional<std::filesystem::path> outputDir;
    unsigned jobs = 1; // files converted at the same time; the core count unless given
    ConversionSettings settings; // the rate is a whole number of hertz, as --rate takes it
    bool overwrite = false;
    bool quiet = false;
    bool carryMetadata = true; // false: fmt and data only
    bool gapless = false; // with outputDir: the sources, in order, as one continuous recording
    bool filterReport = false; // print the filter's figures for sourceRate -> rate instead
    std::int64_t sourceRate = 0;
    bool jsonReport = false; // one JSON object per file on stdout instead of the "Saved" lines
    bool analyze = false; // measure `sources` and convert nothing
};

// Outcome of parsing: a request to run, or an exit code after help, version or a usage error
// (whose one-line reason has already been written to `err`).
struct ParseResult {
    std::optional<ConvertRequest> request;
    int exitCode = 0;
};

ParseResult parseCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace fennick::cli
