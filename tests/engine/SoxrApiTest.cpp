// The binding's precedence (FENNICK_LIBSOXR, then the fixed paths, then the linked libsoxr), with
// libraries that the test build makes itself. Each case needs the
// binding's first access in a process of its own.

#include "EngineTestSupport.h"

#include "FennickEngine.h"
#include "SoxrApi.h"

#include <array>
#include <fstream>
#include <latch>
#include <thread>

namespace fennick {
namespace {

using namespace fennick::test;
using Paths = std::vector<std::string>;

constexpr const char* kFixed[] = {"/usr/local/lib/libsoxr.so.0", "/usr/local/lib/libsoxr.so"};

// `path` null: the linked libsoxr.
void expectBound(const SoxrApi& api, const char* path, const std::string& version = ::soxr_version())
{
    EXPECT_EQ(soxrVersionText(api), version);
    EXPECT_EQ(api.libraryPath, path != nullptr ? std::optional<std::string>(path) : std::nullopt);
    EXPECT_EQ(api.soxr_create == &::soxr_create, path == nullptr);
    EXPECT_NE(api.soxr_runtime_spec, nullptr); // the last name looked up
}

class SoxrApiTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        for (const char* path : kFixed) {
            if (std::filesystem::exists(path)) GTEST_SKIP() << "a libsoxr is installed at " << path;
        }
    }
};

TEST_F(SoxrApiTest, TheFirstCompleteCandidateIsBoundAndNoLaterOneIsTried)
{
    // The variable is taken as it is (not trimmed, not merged with an equal fixed path, bytes that
    // need not be UTF-8), before the fixed paths.
    for (const std::string value : {"relative/libsoxr.so ", "/tmp/caf\xE9.so", kFixed[0]}) {
        setLibsoxrVariable(value.c_str());
        EXPECT_EQ(libsoxrCandidatePaths(), (Paths{value, kFixed[0], kFixed[1]}));
    }
    TempDir dir;
    const std::string missing = (dir / "missing.so").string(), notALibrary = (dir / "text.so").string();
    std::ofstream(notALibrary) << "not a shared library\n";
    const std::tuple<Paths, std::size_t, const char*, std::string> cases[] = {
        {{kStandin, kOtherStandin}, 1, kStandin, "standin-1"},
        {{missing, notALibrary, kIncompleteStandin, kOtherStandin, kStandin}, 4, kOtherStandin, "standin-2"},
        // Neither a relative path nor a folder loads; an empty value makes dlopen hand back the program
        // itself, whose names are the linked libsoxr's.
        {{missing, notALibrary, "lib/libsoxr.so.0", dir.path(), kIncompleteStandin, kFixed[0], kFixed[1]}, 7, nullptr,
            ::soxr_version()},
        {{"", kStandin}, 1, "", ::soxr_version()},
    };
    for (const auto& [candidates, tried, bound, version] : cases) {
        const auto before = static_cast<std::ptrdiff_t>(dlopenedPaths().size());
        expectBound(resolveSoxrApi(candidates), bound, version);
        const Paths log = dlopenedPaths();
        EXPECT_EQ(Paths(log.begin() + before, log.end()), Paths(candidates.begin(), candidates.begin() + tried));
        EXPECT_FALSE(isLoaded(kIncompleteStandin)); // closed again for lacking a name
    }
    SoxrApi silent = linkedSoxrApi();
    silent.soxr_version = []() -> const char* { return nullptr; };
    EXPECT_EQ(soxrVersionText(silent), "unknown");
}

TEST_F(SoxrApiTest, SharedResolvesOnceUnderRacingFirstAccessesAndReadsTheVariableOnlyThen)
{
    setLibsoxrVariable(kStandin);
    std::array<const SoxrApi*, 16> seen{};
    std::latch start(seen.size());
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
    expectBound(*seen[0], kStandin, "standin-1");
    EXPECT_EQ(dlopenedPaths(), Paths{kStandin}); // every resolution would open it again
    setLibsoxrVariable(kOtherStandin);
    EXPECT_EQ(&SoxrApi::shared(), seen[0]);
    EXPECT_FALSE(isLoaded(kOtherStandin));
    // A conversion reaches the linked libsoxr only through the table, which holds the stand-in's.
    TempDir dir;
    writeAudioFile(dir / "in.wav", {44100, 2}, 1000, sine(440, 44100));
    convertWav(dir / "in.wav", dir / "out.wav", {48000.0, OutputFormat::int16, {}});
    EXPECT_EQ(soxrRecord.creates, 0);
}

} // namespace
} // namespace fennick
