#pragma once

// What the libsoxr stand-in records of the calls it receives. Tests reach the record through
// dlsym on the stand-in that the binding loaded, never by linking against it, so the stand-in's
// names can never take the place of the linked libsoxr's.

#include <soxr.h>

#include <cstddef>

namespace fennick::test {

struct StandinRecord {
    unsigned long qualityRecipe = 0, qualityFlags = 0; // soxr_quality_spec's arguments
    soxr_quality_spec_t qualityReturned{};             // and the real libsoxr's answer
    soxr_io_spec_t ioReturned{};                        // soxr_io_spec's answer
    double inputRate = 0, outputRate = 0;               // soxr_create's arguments
    unsigned channels = 0;
    soxr_io_spec_t ioGiven{};
    soxr_quality_spec_t qualityGiven{};
    bool runtimeSpecGiven = false;
    int creates = 0, deletes = 0; // handles handed out and deleted
    std::size_t outputLength = 0; // of the first soxr_process call
    bool outputLengthVaried = false;
};

inline constexpr const char* kStandinRecordName = "fennick_standin_record";     // StandinRecord* ()
inline constexpr const char* kStandinDeleteHookName = "fennick_standin_on_delete"; // void (void (*)())

// Failure on demand: "create" (null handle and an error text), "create-silently" (null handle
// only), "process" (an error for input) or "flush" (an error once input has ended).
inline constexpr const char* kStandinFailVariable = "FENNICK_STANDIN_FAIL";
inline constexpr const char* kStandinCreateError = "stand-in: resampler refused";
inline constexpr const char* kStandinProcessError = "stand-in: processing failed";
inline constexpr const char* kStandinFlushError = "stand-in: flushing failed";

} // namespace fennick::test
