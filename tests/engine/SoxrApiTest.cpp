#include "EngineTestSupport.h"

#include "SoxrApi.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <latch>
#include <thread>

namespace fennick {
namespace {

using namespace fennick::test;

constexpr const char* kFixed[] = {"/usr/local/lib/libsoxr.so.0", "/usr/local/lib/libsoxr.so"};

std::array<void*, 16> entries(const SoxrApi& api)
{
    return {reinterpret_cast<void*>(api.soxr_version), reinterpret_cast<void*>(api.soxr_create),
        reinterpret_cast<void*>(api.soxr_process), reinterpret_cast<void*>(api.soxr_set_input_fn),
        reinterpret_cast<void*>(api.soxr_output), reinterpret_cast<void*>(api.soxr_error),
        reinterpret_cast<void*>(api.soxr_num_clips), reinterpret_cast<void*>(api.soxr_delay),
        reinterpret_cast<void*>(api.soxr_engine), reinterpret_cast<void*>(api.soxr_clear),
        reinterpret_cast<void*>(api.soxr_delete), reinterpret_cast<void*>(api.soxr_oneshot),
        reinterpret_cast<void*>(api.soxr_set_io_ratio), reinterpret_cast<void*>(api.soxr_io_spec),
        reinterpret_cast<void*>(api.soxr_quality_spec), reinterpret_cast<void*>(api.soxr_runtime_spec)};
}

void expectLinked(const SoxrApi& api)
{
    EXPECT_FALSE(api.libraryPath);
    EXPECT_EQ(soxrVersionText(api), "libsoxr-0.1.3");
    EXPECT_EQ(entries(api), entries(linkedSoxrApi()));
    EXPECT_EQ(api.soxr_create, &::soxr_create);
}

void expectStandin(const SoxrApi& api, const char* path, const char* version)
{
    EXPECT_EQ(api.libraryPath, path);
    EXPECT_EQ(soxrVersionText(api), version);
    for (void* entry : entries(api)) EXPECT_NE(entry, nullptr);
    EXPECT_NE(api.soxr_create, &::soxr_create);
}

class SoxrApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* path : kFixed) {
            if (std::filesystem::exists(path)) GTEST_SKIP() << "a libsoxr is installed at " << path;
        }
        std::ofstream(notALibrary) << "not a shared library\n";
    }

    TempDir dir;
    std::string notALibrary = (dir / "libsoxr-text.so").string();
    std::string missing = (dir / "libsoxr-missing.so").string();
};

TEST_F(SoxrApiTest, CandidatesAreTheVariableThenTheFixedPaths)
{
    setLibsoxrVariable(nullptr);
    EXPECT_EQ(libsoxrCandidatePaths(), (std::vector<std::string>{kFixed[0], kFixed[1]}));
    for (const std::string value : {"/opt/soxr/libsoxr.so", "", "relative/libsoxr.so ", kFixed[0]}) {
        setLibsoxrVariable(value.c_str());
        // Taken as it is: not trimmed, not checked, not merged with an equal fixed path.
        EXPECT_EQ(libsoxrCandidatePaths(), (std::vector<std::string>{value, kFixed[0], kFixed[1]}));
    }
    const std::pair<const char*, const char*> invalidUtf8[] = {
        {"/tmp/\xFF.so", "/tmp/\uFFFD.so"},
        {"/tmp/\xC3", "/tmp/\uFFFD"},                      // cut short
        {"/tmp/\xE0\x80.so", "/tmp/\uFFFD\uFFFD.so"},      // overlong: each byte on its own
        {"/tmp/\xF0\x9F\x98.so", "/tmp/\uFFFD.so"},        // one maximal subpart
        {"/tmp/\xED\xA0\x80", "/tmp/\uFFFD\uFFFD\uFFFD"},  // a surrogate
        {"/tmp/caf\xC3\xA9.so", "/tmp/caf\u00E9.so"},      // valid, unchanged
    };
    for (const auto& [bytes, expected] : invalidUtf8) {
        setLibsoxrVariable(bytes);
        EXPECT_EQ(libsoxrCandidatePaths().front(), expected);
    }
}

TEST_F(SoxrApiTest, TheFirstCompleteCandidateIsBoundAndNoLaterOneIsTried)
{
    struct Case {
        std::vector<std::string> candidates;
        const char* bound; // null: the linked libsoxr
        const char* version;
        std::size_t tried;
    };
    const Case cases[] = {
        {{kStandin, kOtherStandin}, kStandin, kStandinVersion, 1},
        {{kOtherStandin, kStandin}, kOtherStandin, kOtherStandinVersion, 1},
        {{missing, notALibrary, kStandinWithoutRuntimeSpec, kStandin, kOtherStandin}, kStandin, kStandinVersion, 4},
        {{missing, notALibrary, kStandinWithoutRuntimeSpec}, nullptr, nullptr, 3},
        {{}, nullptr, nullptr, 0},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(testing::PrintToString(each.candidates));
        const std::size_t before = dlopenedPaths().size();
        const SoxrApi api = resolveSoxrApi(each.candidates);
        if (each.bound != nullptr) {
            expectStandin(api, each.bound, each.version);
        } else {
            expectLinked(api);
        }
        const auto log = dlopenedPaths();
        EXPECT_EQ(std::vector(log.begin() + static_cast<std::ptrdiff_t>(before), log.end()),
            std::vector(each.candidates.begin(), each.candidates.begin() + static_cast<std::ptrdiff_t>(each.tried)));
        // A library that lacked a name was closed again.
        EXPECT_FALSE(isLoaded(kStandinWithoutRuntimeSpec));
    }
    EXPECT_FALSE(loadSoxrApi(kStandinWithoutRuntimeSpec));
    EXPECT_FALSE(loadSoxrApi(notALibrary));
}

TEST_F(SoxrApiTest, SharedBindsTheVariableFirstAndReadsItOnlyOnce)
{
    setLibsoxrVariable(kStandin);
    const SoxrApi& first = SoxrApi::shared();
    expectStandin(first, kStandin, kStandinVersion);
    setLibsoxrVariable(kOtherStandin);
    EXPECT_EQ(&SoxrApi::shared(), &first);
    expectStandin(SoxrApi::shared(), kStandin, kStandinVersion);
    EXPECT_FALSE(isLoaded(kOtherStandin));
}

TEST_F(SoxrApiTest, SharedFallsBackToTheLinkedLibsoxrAfterTryingEveryCandidate)
{
    setLibsoxrVariable(notALibrary.c_str());
    expectLinked(SoxrApi::shared());
    EXPECT_EQ(dlopenedPaths(), (std::vector<std::string>{notALibrary, kFixed[0], kFixed[1]}));
}

TEST_F(SoxrApiTest, RacingFirstAccessesResolveOnceAndShareOneTable)
{
    // Each resolution would open (and close again) the incomplete stand-in, so the log counts them.
    setLibsoxrVariable(kStandinWithoutRuntimeSpec);
    constexpr int kThreads = 16;
    std::array<const SoxrApi*, kThreads> seen{};
    std::latch start(kThreads);
    std::vector<std::jthread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            seen[static_cast<std::size_t>(i)] = &SoxrApi::shared();
        });
    }
    threads.clear();
    for (const SoxrApi* each : seen) EXPECT_EQ(each, seen[0]);
    expectLinked(*seen[0]);
    EXPECT_EQ(dlopenedPaths(), (std::vector<std::string>{kStandinWithoutRuntimeSpec, kFixed[0], kFixed[1]}));
}

TEST(SoxrError, DescribesItselfWithTheLibraryPrefix)
{
    for (const std::string message : {"unknown libsoxr error", "", "invalid quality type"}) {
        const SoxrError error(message);
        EXPECT_EQ(error.message(), message);
        EXPECT_EQ(std::string(error.what()), "libsoxr: " + message);
    }
    SoxrApi silent = linkedSoxrApi();
    silent.soxr_version = []() -> const char* { return nullptr; };
    EXPECT_EQ(soxrVersionText(silent), "unknown");
}

} // namespace
} // namespace fennick
