#include "ConversionSettings.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

using T = TargetSampleRate;
using F = OutputFormat;
using P = ConversionOptions::Precision;
using Ph = ConversionOptions::Phase;
using R = ConversionOptions::Rolloff;

TEST(ConversionSettings, RawValuesMatchExactlyOrNotAtAll)
{
    EXPECT_EQ(fromRawValue<T>(44100.0), T::r44100);
    for (double rate : {44100.5, 0.0, 44099.99999999999}) EXPECT_FALSE(fromRawValue<T>(rate)) << rate;
    EXPECT_EQ(fromRawValue<F>("float32"), F::float32);
    for (const char* text : {"Int16", "int16 ", ""}) EXPECT_FALSE(fromRawValue<F>(text)) << text;
    EXPECT_EQ(fromRawValue<P>(7), P::bits32);
    EXPECT_FALSE(fromRawValue<P>(8));
    EXPECT_EQ(fromRawValue<Ph>(16), Ph::intermediate);
    EXPECT_FALSE(fromRawValue<Ph>(32));
    EXPECT_FALSE(fromRawValue<Ph>(1));
    EXPECT_FALSE(fromRawValue<R>(3));

    // Every case comes back from its raw value, which is also its identity and its hash.
    const auto roundTrips = [](auto cases) {
        for (auto each : cases) {
            EXPECT_EQ(fromRawValue<decltype(each)>(rawValue(each)), each);
            EXPECT_EQ(id(each), rawValue(each));
            EXPECT_EQ(std::hash<decltype(each)>{}(each), std::hash<RawValueOf<decltype(each)>>{}(rawValue(each)));
        }
    };
    roundTrips(allCases<T>());
    roundTrips(allCases<F>());
    roundTrips(allCases<P>());
    roundTrips(allCases<Ph>());
    roundTrips(allCases<R>());
}

TEST(ConversionSettings, CasesDefaultsAndEquality)
{
    EXPECT_EQ(allCases<T>(), (std::array{T::r44100, T::r48000, T::r88200, T::r96000, T::r176400, T::r192000}));
    EXPECT_EQ(allCases<F>(), (std::array{F::int16, F::int24, F::float32}));
    EXPECT_EQ(allCases<P>(),
        (std::array{P::quick, P::low, P::medium, P::bits16, P::high, P::bits24, P::veryHigh, P::bits32}));
    EXPECT_EQ(allCases<Ph>(), (std::array{Ph::linear, Ph::intermediate, Ph::minimum}));
    EXPECT_EQ(allCases<R>(), (std::array{R::small, R::medium, R::none}));
    EXPECT_FALSE(requiresDoublePrecision(P::high));
    EXPECT_TRUE(requiresDoublePrecision(P::bits24));
    EXPECT_EQ(hertz(T::r176400), 176400);

    const ConversionOptions defaults;
    EXPECT_EQ(defaults, (ConversionOptions{P::veryHigh, Ph::linear, false, R::small, 91.3, false, true}));
    EXPECT_NE((ConversionOptions{.bandwidthPercent = 91.4}), defaults);
}

} // namespace
} // namespace fennick
