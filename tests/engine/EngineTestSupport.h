#pragma once

// Helpers of the engine tests: the libsoxr stand-ins of the test build, records of what the
// engine asks the loader and the linked libsoxr for, and real I/O failures on demand.

#include "ThreadBudget.h"

#include <TestAudio.h>

#include <gtest/gtest.h>
#include <soxr.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace fennick::test {

inline constexpr const char* kStandin = FENNICK_TEST_STANDIN; // soxr_version "standin-1"
inline constexpr const char* kOtherStandin = FENNICK_TEST_OTHER_STANDIN; // "standin-2"
inline constexpr const char* kIncompleteStandin = FENNICK_TEST_INCOMPLETE_STANDIN; // no soxr_runtime_spec

// Sets FENNICK_LIBSOXR, or unsets it for null.
inline void setLibsoxrVariable(const char* value)
{
    value != nullptr ? ::setenv("FENNICK_LIBSOXR", value, 1) : ::unsetenv("FENNICK_LIBSOXR");
}

// The paths this process has handed to dlopen, in order (RTLD_NOLOAD look-ups left out).
std::vector<std::string> dlopenedPaths();
bool isLoaded(const char* library);

// What this process has passed to the linked libsoxr, and the failures it is to see there.
struct SoxrRecord {
    unsigned long recipe = 0, flags = 0; // soxr_quality_spec's arguments
    soxr_io_spec_t io{}; // the records soxr_create was given
    soxr_quality_spec_t quality{};
    unsigned runtimeThreads = 0; // of the runtime record soxr_create was given; 0 for none
    int creates = 0, deletes = 0, flushes = 0;
    std::size_t outputLength = 0; // of the first soxr_process call
    bool outputLengthVaried = false;
    bool failCreate = false; // a null handle and no error text
    bool failProcess = false; // "processing failed" for input
    bool failFlush = false; // "flushing failed" once input has ended
    std::function<void()> onDelete{}; // called by soxr_delete first
    int closesOfClosedDescriptors = 0; // the engine's own close() calls that found none
};
inline SoxrRecord soxrRecord;

// Each test starts with a fresh record and the linked libsoxr, which every test of a process that
// runs them all together shares.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        soxrRecord = {};
        setLibsoxrVariable(nullptr);
        fennick::ThreadBudget::setCores(0);
    }
};

// Points every descriptor of this process on the file whose name contains `namePart` at
// `replacement` (opened write-only), so that the next read or write through it fails for real.
void redirectDescriptor(const std::string& namePart, const char* replacement);

} // namespace fennick::test
