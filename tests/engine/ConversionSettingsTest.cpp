// The settings model's own rules; the order of allCases and requiresDoublePrecision are what the
// window's pickers and toggles show, and are checked there.

#include "FennickEngine.h"

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

    // Every case comes back from its raw value.
    const auto roundTrips = [](auto cases) {
        for (auto each : cases) EXPECT_EQ(fromRawValue<decltype(each)>(rawValue(each)), each);
    };
    roundTrips(allCases<T>());
    roundTrips(allCases<F>());
    roundTrips(allCases<P>());
    roundTrips(allCases<Ph>());
    roundTrips(allCases<R>());
}

TEST(ConversionSettings, DefaultsEqualityIdentityAndHash)
{
    EXPECT_EQ(ConversionOptions{}, (ConversionOptions{P::veryHigh, Ph::linear, false, R::small, 91.3, false, true}));
    EXPECT_NE((ConversionOptions{.bandwidthPercent = 91.4}), ConversionOptions{});
    // The raw value is the identity and the hash.
    EXPECT_EQ(id(Ph::minimum), 0x30u);
    EXPECT_EQ(std::hash<T>{}(T::r88200), std::hash<double>{}(88200.0));
}

} // namespace
} // namespace fennick
