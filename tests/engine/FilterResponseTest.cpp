// The measured filter against what libsoxr documents of its recipes.

#include "FennickEngine.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

using P = ConversionOptions::Precision;

TEST(FilterResponse, FiguresFollowTheSettingsAsLibsoxrDocumentsThem)
{
    const auto measure = [](const ConversionOptions& o) { return measureFilterResponse(44100, 48000, o); };
    // Stopband about 6 dB per bit of the recipe, up and down, over 0 Hz to the higher Nyquist frequency.
    const std::pair<P, double> recipes[]
        = {{P::bits16, 16}, {P::high, 20}, {P::bits24, 24}, {P::veryHigh, 28}, {P::bits32, 32}};
    for (const auto& [precision, bits] : recipes) {
        for (const auto& [in, out] : {std::pair{44100.0, 48000.0}, {96000.0, 44100.0}}) {
            const FilterResponse r = measureFilterResponse(in, out, {.precision = precision});
            EXPECT_NEAR(r.stopbandDb, -6.02 * bits - 12.5, 12.5) << bits << " bits " << in;
            EXPECT_NEAR(r.binHz * static_cast<double>(r.magnitudeDb.size() - 1), std::max(in, out) / 2, r.binHz);
        }
    }
    // The -3 dB point moves up with the bandwidth, above the passband edge.
    double previous = 0;
    for (double percent : {74.0, 91.3, 99.7}) {
        const FilterResponse r = measure({.bandwidthPercent = percent});
        EXPECT_GT(r.minus3DbHz, std::max(previous, r.passbandEndHz)) << percent;
        previous = r.minus3DbHz;
    }
    // Steep moves it up at every quality but quick.
    for (P precision : {P::low, P::medium, P::bits16, P::high, P::bits24, P::veryHigh, P::bits32}) {
        const FilterResponse plain = measure({.precision = precision, .bandwidthPercent = 95});
        const FilterResponse steep = measure({.precision = precision, .steepFilter = true, .bandwidthPercent = 95});
        EXPECT_GT(steep.minus3DbHz, plain.minus3DbHz + 300) << rawValue(precision);
    }
    // Minimum phase hardly rings before its peak; linear rings alike on both sides.
    const FilterResponse minimum = measure({.phase = ConversionOptions::Phase::minimum}), linear = measure({});
    EXPECT_LT(minimum.preRingSeconds, 0.05 * minimum.postRingSeconds);
    EXPECT_NEAR(linear.preRingSeconds, linear.postRingSeconds, 0.05 * linear.postRingSeconds);
    // Rolloff none is the flattest at the passband's end, medium the least flat.
    const double none = measure({.rolloff = ConversionOptions::Rolloff::none}).passbandRippleDb;
    const double medium = measure({.rolloff = ConversionOptions::Rolloff::medium}).passbandRippleDb;
    EXPECT_LT(none, linear.passbandRippleDb);
    EXPECT_LT(linear.passbandRippleDb, medium);
    EXPECT_THROW(measureFilterResponse(44100, 1e9, {}), ConversionError); // no conversion could use it
}

} // namespace
} // namespace fennick
