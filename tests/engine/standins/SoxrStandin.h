#pragma once

// What a libsoxr stand-in built by the tests records of the calls it receives. The tests reach
// it through dlsym on the stand-in that the binding loaded, never by linking against it, so the
// stand-in's libsoxr names can never take the place of the linked libsoxr's.

#include <soxr.h>

#include <cstddef>

namespace fennick::test {

struct StandinRecord {
    // soxr_quality_spec: its arguments and what the real libsoxr returned for them.
    unsigned long qualityRecipe = 0;
    unsigned long qualityFlags = 0;
    soxr_quality_spec_t qualityReturned{};
    // soxr_io_spec: what the real libsoxr returned.
    soxr_io_spec_t ioReturned{};
    // soxr_create: its arguments.
    double inputRate = 0;
    double outputRate = 0;
    unsigned channels = 0;
    soxr_io_spec_t ioGiven{};
    soxr_quality_spec_t qualityGiven{};
    bool runtimeSpecGiven = false;
    int creates = 0; // handles handed out
    int deletes = 0;
    // soxr_process: the output length of the first call, and whether any later call differed.
    std::size_t outputLength = 0;
    bool outputLengthVaried = false;
};

// Exported by the stand-in with C linkage.
using StandinRecordFn = StandinRecord* (*)();
inline constexpr const char* kStandinRecordName = "fennick_standin_record";
// Registers a function that soxr_delete calls before deleting the handle.
using StandinDeleteHookFn = void (*)(void (*hook)());
inline constexpr const char* kStandinDeleteHookName = "fennick_standin_set_delete_hook";

// Makes the stand-in fail on demand: "create" (null handle with an error text),
// "create-silently" (null handle, no text), "process" (an error for the first block of input)
// or "flush" (an error once the input has ended).
inline constexpr const char* kStandinFailVariable = "FENNICK_STANDIN_FAIL";
inline constexpr const char* kStandinCreateError = "stand-in: resampler refused";
inline constexpr const char* kStandinProcessError = "stand-in: processing failed";
inline constexpr const char* kStandinFlushError = "stand-in: flushing failed";

} // namespace fennick::test
