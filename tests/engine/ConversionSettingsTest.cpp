#include "ConversionSettings.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace fennick {
namespace {

using P = ConversionOptions::Precision;
using Ph = ConversionOptions::Phase;
using R = ConversionOptions::Rolloff;

TEST(ConversionSettings, RawValuesMatchExactlyOrNotAtAll)
{
    EXPECT_EQ(fromRawValue<TargetSampleRate>(44100.0), TargetSampleRate::r44100);
    EXPECT_EQ(fromRawValue<TargetSampleRate>(192000.0), TargetSampleRate::r192000);
    for (double rate : {44100.5, 0.0, -44100.0, 44099.99999999999}) {
        EXPECT_FALSE(fromRawValue<TargetSampleRate>(rate)) << rate;
    }
    EXPECT_EQ(fromRawValue<OutputFormat>("int16"), OutputFormat::int16);
    EXPECT_EQ(fromRawValue<OutputFormat>("float32"), OutputFormat::float32);
    for (const char* text : {"Int16", "int16 ", " int16", "INT24", "float", ""}) {
        EXPECT_FALSE(fromRawValue<OutputFormat>(text)) << '"' << text << '"';
    }
    EXPECT_EQ(fromRawValue<P>(7), P::bits32);
    EXPECT_FALSE(fromRawValue<P>(8));
    EXPECT_EQ(fromRawValue<Ph>(16), Ph::intermediate);
    EXPECT_EQ(fromRawValue<Ph>(48), Ph::minimum);
    EXPECT_FALSE(fromRawValue<Ph>(32));
    EXPECT_FALSE(fromRawValue<Ph>(1));
    EXPECT_EQ(fromRawValue<R>(2), R::none);
    EXPECT_FALSE(fromRawValue<R>(3));

    // Every case comes back from its own raw value, which is also its identity and its hash.
    const auto roundTrips = [](auto cases) {
        for (auto each : cases) {
            using E = decltype(each);
            EXPECT_EQ(fromRawValue<E>(rawValue(each)), each);
            EXPECT_EQ(id(each), rawValue(each));
            EXPECT_EQ(std::hash<E>{}(each), std::hash<RawValueOf<E>>{}(rawValue(each)));
        }
    };
    roundTrips(allCases<TargetSampleRate>());
    roundTrips(allCases<OutputFormat>());
    roundTrips(allCases<P>());
    roundTrips(allCases<Ph>());
    roundTrips(allCases<R>());
}

TEST(ConversionSettings, CasesDefaultsAndEquality)
{
    using T = TargetSampleRate;
    EXPECT_EQ(allCases<T>(), (std::array{T::r44100, T::r48000, T::r88200, T::r96000, T::r176400, T::r192000}));
    EXPECT_EQ(allCases<OutputFormat>(), (std::array{OutputFormat::int16, OutputFormat::int24, OutputFormat::float32}));
    EXPECT_EQ(allCases<P>(),
        (std::array{P::quick, P::low, P::medium, P::bits16, P::high, P::bits24, P::veryHigh, P::bits32}));
    EXPECT_EQ(allCases<Ph>(), (std::array{Ph::linear, Ph::intermediate, Ph::minimum}));
    EXPECT_EQ(allCases<R>(), (std::array{R::small, R::medium, R::none}));
    EXPECT_EQ(rawValue(Ph::minimum), 0x30u);

    for (P precision : allCases<P>()) {
        const bool above20Bits = precision == P::bits24 || precision == P::veryHigh || precision == P::bits32;
        EXPECT_EQ(requiresDoublePrecision(precision), above20Bits) << rawValue(precision);
    }
    EXPECT_EQ(hertz(T::r176400), 176400);
    EXPECT_EQ(hertz(T::r88200), 88200);
    EXPECT_EQ(bitsPerSample(OutputFormat::int16), 16);
    EXPECT_EQ(bitsPerSample(OutputFormat::int24), 24);
    EXPECT_EQ(bitsPerSample(OutputFormat::float32), 32);

    const ConversionOptions defaults;
    EXPECT_EQ(defaults, (ConversionOptions{P::veryHigh, Ph::linear, false, R::small, 91.3, false, true}));
    ConversionOptions other = defaults;
    other.bandwidthPercent = 91.4;
    EXPECT_NE(other, defaults);
    other = defaults;
    other.dither = false;
    EXPECT_NE(other, defaults);

    const std::unordered_set<OutputFormat> formats{OutputFormat::int24, *fromRawValue<OutputFormat>("int24")};
    EXPECT_EQ(formats.size(), 1u);
}

} // namespace
} // namespace fennick
