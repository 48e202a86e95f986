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

std::array<void*, 16> entries(const SoxrApi& a)
{
    const auto p = [](auto function) { return reinterpret_cast<void*>(function); };
    return {p(a.soxr_version), p(a.soxr_create), p(a.soxr_process), p(a.soxr_set_input_fn), p(a.soxr_output),
        p(a.soxr_error), p(a.soxr_num_clips), p(a.soxr_delay), p(a.soxr_engine), p(a.soxr_clear), p(a.soxr_delete),
        p(a.soxr_oneshot), p(a.soxr_set_io_ratio), p(a.soxr_io_spec), p(a.soxr_quality_spec), p(a.soxr_runtime_spec)};
}

// `path` null: the linked libsoxr.
void expectBound(const SoxrApi& api, const char* path, const char* version = "libsoxr-0.1.3")
{
    EXPECT_EQ(soxrVersionText(api), version);
    if (path == nullptr) {
        EXPECT_FALSE(api.libraryPath);
        EXPECT_EQ(entries(api), entries(linkedSoxrApi()));
        EXPECT_EQ(api.soxr_create, &::soxr_create);
    } else {
        EXPECT_EQ(api.libraryPath, path);
        for (void* entry : entries(api)) EXPECT_NE(entry, nullptr);
        EXPECT_NE(api.soxr_create, &::soxr_create);
    }
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
        {"/tmp/\xC3", "/tmp/\uFFFD"},                     // cut short
        {"/tmp/\xE0\x80.so", "/tmp/\uFFFD\uFFFD.so"},     // overlong: each byte on its own
        {"/tmp/\xF0\x9F\x98.so", "/tmp/\uFFFD.so"},       // one maximal subpart
        {"/tmp/\xED\xA0\x80", "/tmp/\uFFFD\uFFFD\uFFFD"}, // a surrogate
        {"/tmp/caf\xC3\xA9.so", "/tmp/caf\u00E9.so"},     // valid, unchanged
    };
    for (const auto& [bytes, expected] : invalidUtf8) {
        setLibsoxrVariable(bytes);
        EXPECT_EQ(libsoxrCandidatePaths().front(), expected);
    }
    // A fixed path named by the variable is tried first and again at its own place.
    setLibsoxrVariable(kFixed[0]);
    expectBound(resolveSoxrApi(), nullptr);
    EXPECT_EQ(dlopenedPaths(), (std::vector<std::string>{kFixed[0], kFixed[0], kFixed[1]}));
}

TEST_F(SoxrApiTest, TheFirstCompleteCandidateIsBoundAndNoLaterOneIsTried)
{
    struct Case {
        std::vector<std::string> candidates;
        std::size_t tried;
        const char* bound;
        const char* version;
    };
    const Case cases[] = {
        {{kStandin, kOtherStandin}, 1, kStandin, "standin-1"},
        {{kOtherStandin, kStandin}, 1, kOtherStandin, "standin-2"},
        {{missing, notALibrary, kStandinWithoutRuntimeSpec, kStandin, kOtherStandin}, 4, kStandin, "standin-1"},
        {{missing, notALibrary, kStandinWithoutRuntimeSpec}, 3, nullptr, "libsoxr-0.1.3"},
        {{}, 0, nullptr, "libsoxr-0.1.3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.candidates));
        const auto before = static_cast<std::ptrdiff_t>(dlopenedPaths().size());
        expectBound(resolveSoxrApi(c.candidates), c.bound, c.version);
        const auto log = dlopenedPaths();
        EXPECT_EQ(std::vector(log.begin() + before, log.end()),
            std::vector(c.candidates.begin(), c.candidates.begin() + static_cast<std::ptrdiff_t>(c.tried)));
        EXPECT_FALSE(isLoaded(kStandinWithoutRuntimeSpec)); // closed again for lacking a name
    }
}

TEST_F(SoxrApiTest, SharedBindsTheVariableFirstAndReadsItOnlyOnce)
{
    setLibsoxrVariable(kStandin);
    const SoxrApi& first = SoxrApi::shared();
    expectBound(first, kStandin, "standin-1");
    setLibsoxrVariable(kOtherStandin);
    EXPECT_EQ(&SoxrApi::shared(), &first);
    expectBound(SoxrApi::shared(), kStandin, "standin-1");
    EXPECT_FALSE(isLoaded(kOtherStandin));
}

TEST_F(SoxrApiTest, SharedFallsBackToTheLinkedLibsoxrAfterTryingEveryCandidate)
{
    setLibsoxrVariable(notALibrary.c_str());
    expectBound(SoxrApi::shared(), nullptr);
    EXPECT_EQ(dlopenedPaths(), (std::vector<std::string>{notALibrary, kFixed[0], kFixed[1]}));
}

TEST_F(SoxrApiTest, RacingFirstAccessesResolveOnceAndShareOneTable)
{
    // Every resolution opens the incomplete stand-in (and closes it again), so the log counts them.
    setLibsoxrVariable(kStandinWithoutRuntimeSpec);
    constexpr int kThreads = 16;
    std::array<const SoxrApi*, kThreads> seen{};
    std::latch start(kThreads);
    {
        std::vector<std::jthread> threads;
        for (auto& slot : seen) {
            threads.emplace_back([&] {
                start.arrive_and_wait();
                slot = &SoxrApi::shared();
            });
        }
    }
    for (const SoxrApi* each : seen) EXPECT_EQ(each, seen[0]);
    expectBound(*seen[0], nullptr);
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
