// The settings model's own rules; what the window shows of them is checked there.

#include "FennickEngine.h"

#include <gtest/gtest.h>

namespace fennick {
namespace {

using T = TargetSampleRate;
using F = OutputFormat;
using P = ConversionOptions::Precision;
using Ph = ConversionOptions::Phase;
using R = ConversionOptions::Rolloff;

TEST(ConversionSettings, RawValuesMatchExactlyOrNotAtAllAndAreTheIdentity)
{
    EXPECT_EQ(fromRawValue<T>(44100.0), T::r44100);
    for (double rate : {44100.5, 0.0, 44099.99999999999}) EXPECT_FALSE(fromRawValue<T>(rate)) << rate;
    EXPECT_EQ(fromRawValue<F>("float32"), F::float32);
    for (const char* text : {"Int16", "int16 ", ""}) EXPECT_FALSE(fromRawValue<F>(text)) << text;
    EXPECT_EQ(fromRawValue<P>(7), P::bits32);
    EXPECT_EQ(fromRawValue<Ph>(16), Ph::intermediate);
    EXPECT_FALSE(fromRawValue<P>(8) || fromRawValue<Ph>(32) || fromRawValue<Ph>(1) || fromRawValue<R>(3));
    const auto roundTrips = [](auto cases) {
        for (auto each : cases) EXPECT_EQ(fromRawValue<decltype(each)>(rawValue(each)), each);
    };
    roundTrips(allCases<T>());
    roundTrips(allCases<F>());
    roundTrips(allCases<P>());
    roundTrips(allCases<Ph>());
    roundTrips(allCases<R>());
    EXPECT_EQ(id(Ph::minimum), 0x30u);
    EXPECT_EQ(std::hash<T>{}(T::r88200), std::hash<double>{}(88200.0));
    EXPECT_EQ(hertz(T::r176400), 176400);
}

TEST(ConversionSettings, DefaultsAndEquality)
{
    EXPECT_EQ(ConversionOptions{}, (ConversionOptions{P::veryHigh, Ph::linear, false, R::small, 91.3, false, true}));
    EXPECT_NE((ConversionOptions{.bandwidthPercent = 91.4}), ConversionOptions{});
}

} // namespace
} // namespace fennick
