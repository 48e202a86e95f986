#pragma once

// A many-file run: the planned files converted on a few threads at once, each through convertWav
// exactly as a one-file run would, with a result line per file as it completes.

#include "CommandLine.h"
#include "FennickEngine.h"

#include <cstdio>
#include <ostream>
#include <stop_token>
#include <vector>

namespace fennick::cli {

enum class BatchOutcome { allSaved, someFailed, cancelled };

// Converts `files` with the request's settings on at most request.jobs threads. "Saved NAME
// (VERSION)" goes to `out` and every failure and clip warning to `err`, one line each, as each file
// completes; the others go on after a failure. A stop cancels the files under way and starts no
// more. With a `terminal`, one bar there shows the whole run.
BatchOutcome runBatch(const std::vector<PlannedOutput>& files, const ConvertRequest& request, std::stop_token stop,
    std::FILE* terminal, std::ostream& out, std::ostream& err);

// Converts `files` with the request's settings as one gapless album (convertAlbum), one file after
// the other, with the same lines as runBatch; a failure ends the album at the file it names.
BatchOutcome runAlbum(const std::vector<PlannedOutput>& files, const ConvertRequest& request, std::stop_token stop,
    std::FILE* terminal, std::ostream& out, std::ostream& err);

} // namespace fennick::cli
