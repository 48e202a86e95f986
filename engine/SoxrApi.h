#pragma once

// The process-wide table of libsoxr's sixteen entry points. On first use an external libsoxr
// (FENNICK_LIBSOXR, then two fixed install locations) is bound by name; if none binds
// completely, the libsoxr Fennick is linked against is used. Built once, never released.

#include "FennickEngine.h"

#include <soxr.h>

#include <optional>
#include <string>
#include <vector>

namespace fennick {

struct SoxrApi {
    // Path the entries were bound from, exactly as tried; empty for the linked libsoxr.
    std::optional<std::string> libraryPath;

    // Field order is also the order in which the names are looked up.
    decltype(&::soxr_version) soxr_version = nullptr;
    decltype(&::soxr_create) soxr_create = nullptr;
    decltype(&::soxr_process) soxr_process = nullptr;
    decltype(&::soxr_set_input_fn) soxr_set_input_fn = nullptr;
    decltype(&::soxr_output) soxr_output = nullptr;
    decltype(&::soxr_error) soxr_error = nullptr;
    decltype(&::soxr_num_clips) soxr_num_clips = nullptr;
    decltype(&::soxr_delay) soxr_delay = nullptr;
    decltype(&::soxr_engine) soxr_engine = nullptr;
    decltype(&::soxr_clear) soxr_clear = nullptr;
    decltype(&::soxr_delete) soxr_delete = nullptr;
    decltype(&::soxr_oneshot) soxr_oneshot = nullptr;
    decltype(&::soxr_set_io_ratio) soxr_set_io_ratio = nullptr;
    decltype(&::soxr_io_spec) soxr_io_spec = nullptr;
    decltype(&::soxr_quality_spec) soxr_quality_spec = nullptr;
    decltype(&::soxr_runtime_spec) soxr_runtime_spec = nullptr;

    // Thread-safe; the first call resolves the table, every later call returns the same one.
    // Never fails.
    static const SoxrApi& shared();
};

// FENNICK_LIBSOXR (if set, its bytes unchanged: a path need not be UTF-8), then the two fixed
// locations of a locally installed libsoxr.
std::vector<std::string> libsoxrCandidatePaths();

// Binds all sixteen names from the library at `path` (dlopen RTLD_NOW | RTLD_LOCAL), or returns
// nothing; a library lacking a name is closed again. A bound library stays loaded for good.
std::optional<SoxrApi> loadSoxrApi(const std::string& path);

// The first candidate that binds completely, else the linked libsoxr.
SoxrApi resolveSoxrApi();
SoxrApi resolveSoxrApi(const std::vector<std::string>& candidates);

// The linked libsoxr's own functions, with no library path.
SoxrApi linkedSoxrApi();

// Version text of the bound library, or "unknown" when it returns none.
std::string soxrVersionText(const SoxrApi& api);

} // namespace fennick
