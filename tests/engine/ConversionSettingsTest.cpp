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
}

TEST(ConversionSettings, CasesInDeclarationOrderComeBackFromTheirRawValues)
{
    const auto expectCases = [](auto cases, auto expected) {
        EXPECT_EQ(cases, expected);
        for (auto each : cases) EXPECT_EQ(fromRawValue<decltype(each)>(rawValue(each)), each);
    };
    expectCases(allCases<T>(), std::array{T::r44100, T::r48000, T::r88200, T::r96000, T::r176400, T::r192000});
    expectCases(allCases<F>(), std::array{F::int16, F::int24, F::float32});
    expectCases(allCases<P>(),
        std::array{P::quick, P::low, P::medium, P::bits16, P::high, P::bits24, P::veryHigh, P::bits32});
    expectCases(allCases<Ph>(), std::array{Ph::linear, Ph::intermediate, Ph::minimum});
    expectCases(allCases<R>(), std::array{R::small, R::medium, R::none});
    // The raw value is the identity and the hash.
    EXPECT_EQ(id(Ph::minimum), 0x30u);
    EXPECT_EQ(std::hash<T>{}(T::r88200), std::hash<double>{}(88200.0));
}

TEST(ConversionSettings, DefaultsEqualityAndDerivedValues)
{
    EXPECT_EQ(ConversionOptions{}, (ConversionOptions{P::veryHigh, Ph::linear, false, R::small, 91.3, false, true}));
    EXPECT_NE((ConversionOptions{.bandwidthPercent = 91.4}), ConversionOptions{});
    EXPECT_FALSE(requiresDoublePrecision(P::high));
    EXPECT_TRUE(requiresDoublePrecision(P::bits24));
    EXPECT_EQ(hertz(T::r176400), 176400);
}

} // namespace
} // namespace fennick
