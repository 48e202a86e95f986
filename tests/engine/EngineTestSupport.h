#pragma once

// Helpers of the engine tests: the libsoxr stand-ins of the test build, a log of what the engine
// asks the loader for, real I/O failures on demand, and libsoxr's one-shot conversion as the
// reference for the pipeline's output.
//
// Every test case runs in its own process, so each may choose what the first access of
// SoxrApi::shared() binds.

#include "ConversionSettings.h"
#include "standins/SoxrStandin.h"

#include <TestAudio.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fennick::test {

inline constexpr const char* kStandin = FENNICK_TEST_STANDIN; // soxr_version "standin-1"
inline constexpr const char* kOtherStandin = FENNICK_TEST_OTHER_STANDIN; // "standin-2"
inline constexpr const char* kStandinWithoutRuntimeSpec = FENNICK_TEST_STANDIN_WITHOUT_RUNTIME_SPEC;

// Sets FENNICK_LIBSOXR, or unsets it for null.
void setLibsoxrVariable(const char* value);

// The paths this process has handed to dlopen, in order (RTLD_NOLOAD look-ups left out).
std::vector<std::string> dlopenedPaths();
bool isLoaded(const char* library);

// The record of a stand-in that the binding has loaded, and a hook its soxr_delete calls first.
StandinRecord& standinRecord(const char* library);
void setStandinDeleteHook(const char* library, void (*hook)());

// Points this process's descriptor on `path` at `replacement` opened with `flags`, so that the
// next read or write through it fails for real.
void redirectDescriptor(const std::filesystem::path& path, const char* replacement, int flags);

// libsoxr's one-shot conversion of the whole source with the io and quality records that the
// pipeline builds, as samples at full scale ±1.0.
std::vector<double> oneshot(const AudioData& source, double targetRate, OutputFormat format,
    const ConversionOptions& options);

} // namespace fennick::test
