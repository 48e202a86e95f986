// Steps 2 and 3: the pickers, the two toggles with rules, the bandwidth slider, reset, and
// that all of it is off until a file is loaded; then keyboard order and labels.

#include "UiTestSupport.h"

#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QSlider>

namespace fennick::test {
namespace {

using Precision = ConversionOptions::Precision;

struct LoadedView : ViewFixture {
    LoadedView() { view->loadSourceFile(audioFile("source.wav")); }
    DestinationSection& step2() const { return *view->destinationSection(); }
    QualitySection& step3() const { return *view->qualitySection(); }
};

// A picker's rows as one line.
QString items(const QComboBox* picker)
{
    QStringList texts;
    for (int i = 0; i < picker->count(); ++i) texts << picker->itemText(i);
    return texts.join(" | ");
}

TEST(SettingsSteps, PickersListEveryCaseInOrder)
{
    LoadedView f;
    EXPECT_EQ(f.step2().title(), "Step 2 — Destination format");
    EXPECT_EQ(f.step3().title(), "Step 3 — Resampling quality (libsoxr)");
    EXPECT_EQ(items(f.step2().sampleRatePicker()), "44.1 kHz | 48 kHz | 88.2 kHz | 96 kHz | 176.4 kHz | 192 kHz");
    EXPECT_EQ(items(f.step2().formatPicker()), "16-bit integer | 24-bit integer | 32-bit float");
    EXPECT_EQ(items(f.step3().qualityPicker()),
        "Quick (cubic) | Low | Medium | 16-bit | High (20-bit) | 24-bit | Very High (28-bit) | 32-bit");
    EXPECT_EQ(items(f.step3().phasePicker()),
        "Linear (no phase distortion, pre-ring) | Intermediate | Minimum (no pre-ring, phase shift)");
    EXPECT_EQ(items(f.step3().rolloffPicker()), "Small (≤ 0.01 dB) | Medium (≤ 0.35 dB) | None");
}

TEST(SettingsSteps, DitherShowsOffOutside16BitWithoutForgettingIt)
{
    LoadedView f;
    QCheckBox* dither = f.step2().ditherToggle();
    auto* effect = static_cast<QGraphicsOpacityEffect*>(f.step2().ditherGroup()->graphicsEffect());
    for (OutputFormat format : {OutputFormat::int24, OutputFormat::float32}) {
        choose(f.step2().formatPicker(), format);
        EXPECT_EQ(f.view->state().outputFormat, format);
        EXPECT_FALSE(dither->isChecked() || dither->isEnabled());
        EXPECT_EQ(effect->opacity(), DestinationSection::kInapplicableOpacity);
        click(dither);
        EXPECT_TRUE(f.view->state().options.dither);
    }
    choose(f.step2().formatPicker(), OutputFormat::int16);
    EXPECT_TRUE(dither->isChecked() && dither->isEnabled());
    EXPECT_EQ(effect->opacity(), 1.0);

    // Turned off by the user, it stays off across another format.
    click(dither);
    EXPECT_FALSE(f.view->state().options.dither);
    choose(f.step2().formatPicker(), OutputFormat::float32);
    choose(f.step2().formatPicker(), OutputFormat::int16);
    EXPECT_FALSE(dither->isChecked());
}

TEST(SettingsSteps, DoublePrecisionLockedOnAbove20BitsWithoutForgettingTheUsersChoice)
{
    LoadedView f;
    QCheckBox* toggle = f.step3().doublePrecisionToggle();
    for (Precision precision : allCases<Precision>()) {
        SCOPED_TRACE(f.step3().qualityPicker()->itemText(static_cast<int>(ordinal(precision))).toStdString());
        const bool locked
            = precision == Precision::bits24 || precision == Precision::veryHigh || precision == Precision::bits32;
        choose(f.step3().qualityPicker(), precision);
        EXPECT_EQ(toggle->isChecked(), locked);
        EXPECT_EQ(toggle->isEnabled(), !locked);
        EXPECT_EQ(toggle->parentWidget()->graphicsEffect(), nullptr); // full opacity either way
        click(toggle);
        EXPECT_EQ(f.view->state().options.doublePrecision, !locked);
        // Across the lock and back: what shows is the stored value wherever the lock is off.
        choose(f.step3().qualityPicker(), locked ? Precision::high : Precision::bits32);
        EXPECT_EQ(toggle->isChecked(), !locked);
        choose(f.step3().qualityPicker(), precision);
        EXPECT_TRUE(toggle->isChecked());
        if (!locked) click(toggle);
    }
}

TEST(SettingsSteps, ResetRestoresTheQualitySettingsOnly)
{
    LoadedView f;
    click(f.step2().ditherToggle());
    choose(f.step2().sampleRatePicker(), TargetSampleRate::r96000);
    choose(f.step2().formatPicker(), OutputFormat::int24);
    choose(f.step3().qualityPicker(), Precision::bits16);
    choose(f.step3().phasePicker(), ConversionOptions::Phase::minimum);
    choose(f.step3().rolloffPicker(), ConversionOptions::Rolloff::none);
    QTest::keyClick(f.step3().bandwidthSlider(), Qt::Key_Home);
    click(f.step3().steepFilterToggle());
    click(f.step3().doublePrecisionToggle());
    ASSERT_EQ(f.view->state().options,
        (ConversionOptions{Precision::bits16, ConversionOptions::Phase::minimum, true, ConversionOptions::Rolloff::none,
            74.0, true, false}));

    click(f.step3().resetButton());
    EXPECT_EQ(f.view->state().options, ConversionOptions{});
    EXPECT_EQ(f.view->state().targetRate, TargetSampleRate::r96000);
    EXPECT_EQ(f.view->state().outputFormat, OutputFormat::int24);
    // And on screen.
    EXPECT_EQ(f.step3().qualityPicker()->currentText(), "Very High (28-bit)");
    EXPECT_EQ(f.step3().rolloffPicker()->currentText(), "Small (≤ 0.01 dB)");
    EXPECT_EQ(f.step3().bandwidthLabel()->text(), "Bandwidth: 91.3%");
    EXPECT_FALSE(f.step3().steepFilterToggle()->isChecked());
    EXPECT_EQ(f.step2().sampleRatePicker()->currentText(), "96 kHz");
}

TEST(SettingsSteps, SliderEndsAreExactAndTheLabelKeepsOneDecimal)
{
    LoadedView f;
    QSlider* slider = f.step3().bandwidthSlider();
    const std::tuple<QLocale, QString, QString> cases[]
        = {{QLocale(QLocale::English, QLocale::UnitedStates), "Bandwidth: 99.7%", "Bandwidth: 74.0%"},
            {QLocale(QLocale::German, QLocale::Germany), "Bandwidth: 99,7%", "Bandwidth: 74,0%"}};
    for (const auto& [locale, top, bottom] : cases) {
        switchLocale(*f.view, locale);
        QTest::keyClick(slider, Qt::Key_End);
        EXPECT_EQ(f.view->state().options.bandwidthPercent, 99.7);
        EXPECT_EQ(f.step3().bandwidthLabel()->text(), top);
        QTest::keyClick(slider, Qt::Key_Home);
        EXPECT_EQ(f.view->state().options.bandwidthPercent, 74.0);
        EXPECT_EQ(f.step3().bandwidthLabel()->text(), bottom);
    }
}

TEST(SettingsSteps, WithoutAFileNoClickOrKeyChangesAnything)
{
    ViewFixture f;
    // Before any file, and again after a read that failed.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) f.view->loadSourceFile(f.textFile("broken.wav"));
        const ContentState before = f.view->state();
        EXPECT_FALSE(f.view->destinationSection()->isEnabled() || f.view->qualitySection()->isEnabled());
        QList<QWidget*> controls = f.view->destinationSection()->findChildren<QWidget*>();
        controls += f.view->qualitySection()->findChildren<QWidget*>();
        for (QWidget* control : controls) {
            if (control->focusPolicy() == Qt::NoFocus) continue;
            click(control);
            for (auto key : {Qt::Key_Space, Qt::Key_Down, Qt::Key_End, Qt::Key_Home}) QTest::keyClick(control, key);
        }
        EXPECT_TRUE(sameState(before, f.view->state()));
    }
}

TEST(SettingsSteps, TabVisitsEveryControlInVisualOrderAndLabelsAreBuddies)
{
    LoadedView f;
    f.view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.view.get()));
    choose(f.step3().qualityPicker(), Precision::high); // unlocks 64-bit processing, so that Tab reaches it
    QMap<QWidget*, QString> buddyText; // what assistive technology announces for a control
    for (QLabel* label : f.view->findChildren<QLabel*>()) buddyText[label->buddy()] = label->text();
    f.view->sourceSection()->chooseButton()->setFocus();
    QStringList visited;
    QPoint previous(-1, -1);
    for (int i = 0; i < 12; ++i) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        visited << focus->objectName() + (buddyText.contains(focus) ? ": " + buddyText[focus] : "");
        // Further down, or further along the same row.
        const QPoint at = focus->mapTo(f.view.get(), QPoint(0, 0));
        EXPECT_TRUE(at.y() > previous.y() || (at.y() >= previous.y() - 20 && at.x() > previous.x())) << i;
        EXPECT_FALSE(focus->accessibleName().isEmpty() && !qobject_cast<QAbstractButton*>(focus)) << i;
        previous = at;
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(visited,
        QStringList({"chooseButton: File", "sampleRatePicker: Sample rate", "formatPicker: Format", "ditherToggle",
            "resetButton", "qualityPicker: Quality", "phasePicker: Phase response", "rolloffPicker: Passband rolloff",
            "bandwidthSlider: Bandwidth: 91.3%", "steepFilterToggle", "doublePrecisionToggle", "convertButton"}));
    EXPECT_EQ(f.step3().bandwidthSlider()->accessibleName(), "Bandwidth"); // not the changing label text
}

} // namespace
} // namespace fennick::test
