// How long measureFilterResponse takes, which step 3's plot runs on every change of a setting: each
// quality, both ends of the phase and of the bandwidth slider, steep, over the window's kinds of rate
// pair. Prints one Markdown row per rate pair: median and slowest of all settings, and which was slowest.

#include "FennickEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main()
{
    using namespace fennick;
    using P = ConversionOptions::Precision;
    const std::pair<double, double> pairs[]
        = {{44100, 48000}, {44100, 192000}, {96000, 44100}, {192000, 44100}, {48000, 44100}};
    std::printf("| measurement | settings | median ms | slowest ms | slowest setting |\n|---|---:|---:|---:|---|\n");
    for (const auto& [in, out] : pairs) {
        std::vector<std::pair<double, std::string>> times;
        for (P precision : allCases<P>()) {
            for (auto phase : {ConversionOptions::Phase::linear, ConversionOptions::Phase::minimum}) {
                for (double bandwidth : {74.0, 91.3, 99.7}) {
                    for (bool steep : {false, true}) {
                        if (steep && bandwidth != 91.3) continue; // steep sets its own
                        const ConversionOptions options{.precision = precision,
                            .phase = phase,
                            .steepFilter = steep,
                            .bandwidthPercent = bandwidth};
                        double best = 1e9;
                        for (int round = 0; round < 3; ++round) { // the least of 3: the machine is shared
                            const auto start = std::chrono::steady_clock::now();
                            measureFilterResponse(in, out, options);
                            best = std::min(best,
                                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                                    .count());
                        }
                        static const char* const names[]
                            = {"quick", "low", "medium", "bits16", "high", "bits24", "veryHigh", "bits32"};
                        char name[96];
                        std::snprintf(name, sizeof name, "%s, %s, %s", names[ordinal(precision)],
                            phase == ConversionOptions::Phase::linear ? "linear" : "minimum",
                            steep                   ? "steep"
                                : bandwidth == 74.0 ? "74.0 %"
                                : bandwidth == 91.3 ? "91.3 %"
                                                    : "99.7 %");
                        times.emplace_back(best, name);
                    }
                }
            }
        }
        std::sort(times.begin(), times.end());
        std::printf("| %g k → %g k | %zu | %.1f | %.1f | %s |\n", in / 1000, out / 1000, times.size(),
            times[times.size() / 2].first, times.back().first, times.back().second.c_str());
    }
}
