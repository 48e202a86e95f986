// The main window's state without widgets: which line the bottom bar shows and when Convert can be
// pressed. What a run's end leaves behind is seen on screen in ConversionRunTest.

#include "ContentState.h"
#include "RememberedSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

namespace fennick {
namespace {

using RunLine = ContentState::RunLine;

TEST(ContentState, TheRunUnderWayThenAFailureThenTheLastOutcome)
{
    ContentState loaded;
    loaded.sourceURL = QUrl::fromLocalFile("/music/take.wav");
    ContentState failed = loaded, told = loaded, running = loaded;
    failed.errorMessage = "Could not read file: Format not recognised.";
    failed.conversionMessage = told.conversionMessage = "Saved take_44100-16.wav (0.1.3)";
    running.errorMessage = failed.errorMessage;
    running.isConverting = true;
    const std::tuple<ContentState, RunLine, bool> cases[] = {
        {ContentState(), RunLine::empty, false},
        {loaded, RunLine::empty, true},
        {told, RunLine::message, true},
        {failed, RunLine::error, true},
        {running, RunLine::progress, false},
    };
    for (const auto& [state, line, canConvert] : cases) {
        EXPECT_EQ(state.runLine(), line);
        EXPECT_EQ(state.canConvert(), canConvert);
    }
}

// Kept settings come back as they were; a value the window does not offer (edited by hand, or
// from another version) falls back to its default alone.
TEST(ContentState, RememberedSettingsComeBackAndOddValuesFallBackAlone)
{
    QSettings store(QDir::temp().filePath(QStringLiteral("fennick-%1.ini").arg(QCoreApplication::applicationPid())),
        QSettings::IniFormat);
    store.clear();
    EXPECT_EQ(rememberedSettings(store), ConversionSettings{});
    const ConversionSettings chosen{22050, OutputFormat::float32,
        {ConversionOptions::Precision::bits16, ConversionOptions::Phase::minimum, true,
            ConversionOptions::Rolloff::none, 80.5, true, false},
        OutputType::caf};
    rememberSettings(store, chosen);
    EXPECT_EQ(rememberedSettings(store), chosen);
    for (const auto& [key, odd] :
        {std::pair{"output/rate", QVariant(44100.5)}, {"output/format", QVariant(3)}, {"output/type", QVariant("mp3")},
            {"quality/phase", QVariant("linear")}, {"quality/bandwidth", QVariant(99.8)}}) {
        store.setValue(key, odd);
        EXPECT_NE(rememberedSettings(store), chosen) << key;
        rememberSettings(store, chosen);
    }
    QFile::remove(store.fileName());
}

} // namespace
} // namespace fennick
