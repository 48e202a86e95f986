// Step 2's gain, peak ceiling and loudness target: what each control makes of the settings, locked
// during a run, kept between launches and cleared by "Reset to defaults".

#include "LevelControls.h"
#include "RememberedSettings.h"
#include "UiTestSupport.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QSettings>

namespace fennick::test {
namespace {

// Typed, then confirmed as leaving the field does (Return would also press Convert…).
void type(QDoubleSpinBox* field, const QString& text)
{
    field->selectAll();
    QTest::keyClicks(field, text);
    field->interpretText();
}

TEST(LevelControls, EachControlSetsItsSettingAndResetClearsThem)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("source.wav"));
    LevelControls& level = *f.view->destinationSection()->levelControls();
    const ConversionSettings& settings = f.view->state().settings;
    // Left alone, nothing changes a sample.
    EXPECT_EQ(settings, ConversionSettings{});
    using Kind = PeakCeiling::Kind;
    const struct {
        std::function<void()> act;
        double gain;
        std::optional<PeakCeiling> ceiling;
        std::optional<double> loudness;
    } steps[] = {
        {[&] { type(level.gainField(), "-3.5"); }, -3.5, {}, {}},
        {[&] { click(level.ceilingToggle()); }, -3.5, PeakCeiling{-1.0, Kind::truePeak}, {}},
        {[&] { type(level.ceilingField(), "-0.1"); }, -3.5, PeakCeiling{-0.1, Kind::truePeak}, {}},
        {[&] { QTest::keyClick(level.ceilingKindPicker(), Qt::Key_End); }, -3.5, PeakCeiling{-0.1, Kind::samplePeak},
            {}},
        {[&] { click(level.loudnessToggle()); }, -3.5, PeakCeiling{-0.1, Kind::samplePeak}, -16.0},
        {[&] { type(level.loudnessField(), "-23"); }, -3.5, PeakCeiling{-0.1, Kind::samplePeak}, -23.0},
        {[&] { type(level.gainField(), "2.5"); }, -3.5, PeakCeiling{-0.1, Kind::samplePeak},
            -23.0}, // off with a target
        {[&] { click(level.loudnessToggle()); }, -3.5, PeakCeiling{-0.1, Kind::samplePeak}, {}},
        {[&] { type(level.gainField(), "2.5"); }, 2.5, PeakCeiling{-0.1, Kind::samplePeak}, {}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].act();
        EXPECT_EQ(settings.gainDb, steps[i].gain) << "step " << i;
        EXPECT_EQ(settings.ceiling, steps[i].ceiling) << "step " << i;
        EXPECT_EQ(settings.loudnessTargetLufs, steps[i].loudness) << "step " << i;
    }
    // Kept between launches as they are.
    QSettings store((f.dir / "settings.ini").c_str(), QSettings::IniFormat);
    rememberSettings(store, settings);
    EXPECT_EQ(rememberedSettings(store), settings);

    {
        LibsoxrGate gate;
        startRun(*f.view, f.url("out.wav"));
        for (QWidget* control : QList<QWidget*>{level.gainField(), level.ceilingToggle(), level.loudnessToggle()})
            EXPECT_FALSE(control->isEnabled());
    }
    ASSERT_TRUE(runEnded(*f.view));
    click(f.view->qualitySection()->resetButton());
    EXPECT_EQ(settings, ConversionSettings{});
    EXPECT_FALSE(level.ceilingToggle()->isChecked());
    EXPECT_EQ(level.gainField()->value(), 0.0);
}

} // namespace
} // namespace fennick::test
