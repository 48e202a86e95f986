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
    const PeakCeiling tp{-0.1, PeakCeiling::Kind::truePeak}, fs{-0.1, PeakCeiling::Kind::samplePeak};
    const struct {
        std::function<void()> act;
        double gain;
        std::optional<PeakCeiling> ceiling;
        std::optional<double> loudness;
    } steps[] = {
        {[&] { type(level.gainField(), "-3.5"); }, -3.5, {}, {}},
        {[&] { click(level.ceilingToggle()); }, -3.5, PeakCeiling{}, {}}, // −1.0 dBTP
        {[&] { type(level.ceilingField(), "-0.1"); }, -3.5, tp, {}},
        {[&] { QTest::keyClick(level.ceilingKindPicker(), Qt::Key_End); }, -3.5, fs, {}},
        {[&] { click(level.loudnessToggle()); }, -3.5, fs, -16.0},
        {[&] { type(level.loudnessField(), "-23"); }, -3.5, fs, -23.0},
        {[&] { type(level.gainField(), "2.5"); }, -3.5, fs, -23.0}, // the target sets the gain
        {[&] { click(level.loudnessToggle()); }, -3.5, fs, {}},
        {[&] { type(level.gainField(), "2.5"); }, 2.5, fs, {}},
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
}

} // namespace
} // namespace fennick::test
