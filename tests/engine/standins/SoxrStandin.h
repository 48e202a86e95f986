#pragma once

// What the libsoxr stand-in records of the engine's calls, and the failures it can be told to
// make. Tests reach the record through dlsym on the copy that the binding loaded, never by
// linking to it, so the stand-in's names never take the place of the linked libsoxr's.

#include <soxr.h>

#include <cstddef>

namespace fennick::test {

struct StandinRecord {
    unsigned long recipe = 0, flags = 0; // soxr_quality_spec's arguments
    soxr_io_spec_t io{};                 // the records soxr_create was given
    soxr_quality_spec_t quality{};
    bool runtimeGiven = false;
    int creates = 0, deletes = 0;
    std::size_t outputLength = 0; // of the first soxr_process call
    bool outputLengthVaried = false;
    bool failCreate = false;      // a null handle and no error text
    bool failFlush = false;       // kStandinFlushError once input has ended
    void (*onDelete)() = nullptr; // called by soxr_delete first
};

inline constexpr const char* kStandinRecordName = "fennick_standin_record";
inline constexpr const char* kStandinFlushError = "stand-in: flushing failed";

} // namespace fennick::test
