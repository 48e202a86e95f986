// Steps 2 and 3: the pickers, the two toggles with rules, the bandwidth slider, reset, and
// that all of it is off until a file is loaded; then keyboard order and labels.

#include "BottomBar.h"
#include "DestinationSection.h"
#include "QualitySection.h"
#include "SourceSection.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace fennick::test {
namespace {

using Precision = ConversionOptions::Precision;

int index(auto value) { return static_cast<int>(ordinal(value)); }

struct LoadedView : ViewFixture {
    LoadedView() { view->loadSourceFile(audioFile("source.wav")); }
    DestinationSection& step2() const { return *view->destinationSection(); }
    QualitySection& step3() const { return *view->qualitySection(); }
};

qreal ditherOpacity(const DestinationSection& step2)
{
    return static_cast<QGraphicsOpacityEffect*>(step2.ditherGroup()->graphicsEffect())->opacity();
}

TEST(SettingsSteps, PickersListEveryCaseInOrder)
{
    ViewFixture f;
    const auto items = [](const QComboBox* picker) {
        QStringList texts;
        for (int i = 0; i < picker->count(); ++i) texts << picker->itemText(i);
        return texts;
    };
    DestinationSection& step2 = *f.view->destinationSection();
    QualitySection& step3 = *f.view->qualitySection();
    EXPECT_EQ(step2.title(), QStringLiteral("Step 2 — Destination format"));
    EXPECT_EQ(step3.title(), QStringLiteral("Step 3 — Resampling quality (libsoxr)"));
    EXPECT_EQ(items(step2.sampleRatePicker()),
        QStringList({"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz", "176.4 kHz", "192 kHz"}));
    EXPECT_EQ(items(step2.formatPicker()), QStringList({"16-bit integer", "24-bit integer", "32-bit float"}));
    EXPECT_EQ(items(step3.qualityPicker()), QStringList({"Quick (cubic)", "Low", "Medium", "16-bit", "High (20-bit)",
                                                "24-bit", "Very High (28-bit)", "32-bit"}));
    EXPECT_EQ(items(step3.phasePicker()), QStringList({"Linear (no phase distortion, pre-ring)", "Intermediate",
                                              "Minimum (no pre-ring, phase shift)"}));
    EXPECT_EQ(items(step3.rolloffPicker()),
        QStringList({QStringLiteral("Small (≤ 0.01 dB)"), QStringLiteral("Medium (≤ 0.35 dB)"), "None"}));

    // The initial values, shown while both sections are still disabled.
    EXPECT_EQ(step2.sampleRatePicker()->currentText(), QStringLiteral("44.1 kHz"));
    EXPECT_EQ(step2.formatPicker()->currentText(), QStringLiteral("16-bit integer"));
    EXPECT_TRUE(step2.ditherToggle()->isChecked());
    EXPECT_EQ(step3.qualityPicker()->currentText(), QStringLiteral("Very High (28-bit)"));
    EXPECT_EQ(step3.bandwidthLabel()->text(), QStringLiteral("Bandwidth: 91.3%"));
    EXPECT_FALSE(step3.steepFilterToggle()->isChecked());
    EXPECT_TRUE(step3.doublePrecisionToggle()->isChecked());
    EXPECT_FALSE(step3.doublePrecisionToggle()->isEnabled());
}

TEST(SettingsSteps, DitherShowsOffOutside16BitWithoutForgettingIt)
{
    LoadedView f;
    QCheckBox* dither = f.step2().ditherToggle();
    EXPECT_TRUE(dither->isChecked());
    EXPECT_TRUE(dither->isEnabled());
    EXPECT_EQ(ditherOpacity(f.step2()), 1.0);

    for (OutputFormat format : {OutputFormat::int24, OutputFormat::float32}) {
        choose(f.step2().formatPicker(), index(format));
        EXPECT_EQ(f.view->state().outputFormat, format);
        EXPECT_FALSE(dither->isChecked());
        EXPECT_FALSE(dither->isEnabled());
        EXPECT_EQ(ditherOpacity(f.step2()), DestinationSection::kInapplicableOpacity);
        EXPECT_TRUE(f.view->state().options.dither);
        click(dither); // disabled: nothing happens
        EXPECT_TRUE(f.view->state().options.dither);
    }

    choose(f.step2().formatPicker(), index(OutputFormat::int16));
    EXPECT_TRUE(dither->isChecked());
    EXPECT_EQ(ditherOpacity(f.step2()), 1.0);

    // Turned off by the user, it stays off across another format.
    click(dither);
    EXPECT_FALSE(f.view->state().options.dither);
    choose(f.step2().formatPicker(), index(OutputFormat::float32));
    choose(f.step2().formatPicker(), index(OutputFormat::int16));
    EXPECT_FALSE(dither->isChecked());
    EXPECT_TRUE(dither->isEnabled());
}

class DoublePrecisionToggle : public testing::TestWithParam<Precision> {};

TEST_P(DoublePrecisionToggle, LockedOnOnlyAbove20Bits)
{
    LoadedView f;
    QCheckBox* toggle = f.step3().doublePrecisionToggle();
    choose(f.step3().qualityPicker(), index(GetParam()));
    ASSERT_EQ(f.view->state().options.precision, GetParam());
    EXPECT_EQ(toggle->parentWidget()->graphicsEffect(), nullptr); // full opacity either way

    const bool locked = GetParam() == Precision::bits24 || GetParam() == Precision::veryHigh
        || GetParam() == Precision::bits32;
    if (locked) {
        EXPECT_TRUE(toggle->isChecked());
        EXPECT_FALSE(toggle->isEnabled());
        click(toggle);
        EXPECT_FALSE(f.view->state().options.doublePrecision);
        // Below the lock the stored value (still off) is what shows.
        choose(f.step3().qualityPicker(), index(Precision::high));
        EXPECT_FALSE(toggle->isChecked());
        EXPECT_TRUE(toggle->isEnabled());
        return;
    }
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_TRUE(toggle->isEnabled());
    click(toggle);
    EXPECT_TRUE(f.view->state().options.doublePrecision);
    EXPECT_TRUE(toggle->isChecked());
    // Locked and back: the user's choice reappears.
    click(toggle);
    choose(f.step3().qualityPicker(), index(Precision::bits32));
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_FALSE(f.view->state().options.doublePrecision);
    choose(f.step3().qualityPicker(), index(GetParam()));
    EXPECT_FALSE(toggle->isChecked());
}

INSTANTIATE_TEST_SUITE_P(EveryQuality, DoublePrecisionToggle, testing::ValuesIn(allCases<Precision>()),
    [](const testing::TestParamInfo<Precision>& info) { return "precision" + std::to_string(rawValue(info.param)); });

TEST(SettingsSteps, ResetRestoresTheQualitySettingsOnly)
{
    LoadedView f;
    click(f.step2().ditherToggle());
    choose(f.step2().sampleRatePicker(), index(TargetSampleRate::r96000));
    choose(f.step2().formatPicker(), index(OutputFormat::int24));
    choose(f.step3().qualityPicker(), index(Precision::bits16));
    choose(f.step3().phasePicker(), index(ConversionOptions::Phase::minimum));
    choose(f.step3().rolloffPicker(), index(ConversionOptions::Rolloff::none));
    QTest::keyClick(f.step3().bandwidthSlider(), Qt::Key_Home);
    click(f.step3().steepFilterToggle());
    click(f.step3().doublePrecisionToggle());
    const ConversionOptions changed{Precision::bits16, ConversionOptions::Phase::minimum, true,
        ConversionOptions::Rolloff::none, 74.0, true, false};
    ASSERT_TRUE(f.view->state().options == changed);

    click(f.step3().resetButton());

    EXPECT_TRUE(f.view->state().options == ConversionOptions{});
    EXPECT_EQ(f.view->state().targetRate, TargetSampleRate::r96000);
    EXPECT_EQ(f.view->state().outputFormat, OutputFormat::int24);
    EXPECT_EQ(f.step3().qualityPicker()->currentIndex(), index(Precision::veryHigh));
    EXPECT_EQ(f.step3().phasePicker()->currentIndex(), 0);
    EXPECT_EQ(f.step3().rolloffPicker()->currentIndex(), 0);
    EXPECT_EQ(f.step3().bandwidthLabel()->text(), QStringLiteral("Bandwidth: 91.3%"));
    EXPECT_EQ(f.step3().bandwidthSlider()->value(), QualitySection::sliderValue(91.3));
    EXPECT_FALSE(f.step3().steepFilterToggle()->isChecked());
    EXPECT_EQ(f.step2().sampleRatePicker()->currentText(), QStringLiteral("96 kHz"));
}

TEST(SettingsSteps, SliderEndsAreExactAndTheLabelKeepsOneDecimal)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    LoadedView f;
    QSlider* slider = f.step3().bandwidthSlider();
    QLabel* label = f.step3().bandwidthLabel();

    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(f.view->state().options.bandwidthPercent, 99.7);
    EXPECT_EQ(label->text(), QStringLiteral("Bandwidth: 99.7%"));
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(f.view->state().options.bandwidthPercent, 74.0);
    EXPECT_EQ(label->text(), QStringLiteral("Bandwidth: 74.0%"));
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_EQ(label->text(), QStringLiteral("Bandwidth: 75.0%"));

    // Dragged with the mouse all the way to the right.
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = option.sliderValue = slider->value();
    const QPoint handle =
        slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider).center();
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handle);
    QTest::mouseMove(slider, QPoint(slider->width() + 200, slider->height() / 2));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() + 200, slider->height() / 2));
    EXPECT_EQ(f.view->state().options.bandwidthPercent, 99.7);

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QEvent change(QEvent::LocaleChange);
    QApplication::sendEvent(f.view.get(), &change);
    EXPECT_EQ(label->text(), QStringLiteral("Bandwidth: 99,7%"));
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(label->text(), QStringLiteral("Bandwidth: 74,0%"));
}

TEST(SettingsSteps, WithoutAFileNoClickOrKeyChangesAnything)
{
    ViewFixture f;
    // Before any file, and again after a read that failed.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) f.view->loadSourceFile(f.textFile("broken.wav"));
        const ContentState before = f.view->state();
        EXPECT_FALSE(f.view->destinationSection()->isEnabled());
        EXPECT_FALSE(f.view->qualitySection()->isEnabled());
        QList<QWidget*> controls = f.view->destinationSection()->findChildren<QWidget*>();
        controls += f.view->qualitySection()->findChildren<QWidget*>();
        for (QWidget* control : controls) {
            if (control->focusPolicy() == Qt::NoFocus) continue;
            EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
            click(control);
            for (auto key : {Qt::Key_Space, Qt::Key_Down, Qt::Key_End, Qt::Key_Home}) QTest::keyClick(control, key);
        }
        expectSameState(before, f.view->state());
    }
}

TEST(SettingsSteps, TabVisitsEveryControlInVisualOrderAndLabelsAreBuddies)
{
    LoadedView f;
    f.view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.view.get()));
    f.view->sourceSection()->chooseButton()->setFocus();
    const QStringList expected{"chooseButton", "sampleRatePicker", "formatPicker", "ditherToggle", "resetButton",
        "qualityPicker", "phasePicker", "rolloffPicker", "bandwidthSlider", "steepFilterToggle",
        "doublePrecisionToggle", "convertButton"};
    // 64-bit processing is locked at the default quality; unlock it so that Tab reaches it.
    choose(f.step3().qualityPicker(), index(Precision::high));
    f.view->sourceSection()->chooseButton()->setFocus();

    QStringList visited;
    QPoint previous(-1, -1);
    for (int i = 0; i < expected.size(); ++i) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        visited << focus->objectName();
        const QPoint at = focus->mapTo(f.view.get(), QPoint(0, 0));
        // Further down, or further along the same row.
        EXPECT_TRUE(at.y() > previous.y() || (at.y() >= previous.y() - 20 && at.x() > previous.x()))
            << focus->objectName().toStdString();
        previous = at;
        EXPECT_FALSE(focus->accessibleName().isEmpty() && !qobject_cast<QAbstractButton*>(focus))
            << focus->objectName().toStdString();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(visited, expected);

    const auto buddyText = [&](QWidget* control) {
        for (QLabel* label : f.view->findChildren<QLabel*>()) {
            if (label->buddy() == control) return label->text();
        }
        return QString();
    };
    EXPECT_EQ(buddyText(f.view->sourceSection()->chooseButton()), QStringLiteral("File"));
    EXPECT_EQ(buddyText(f.step2().sampleRatePicker()), QStringLiteral("Sample rate"));
    EXPECT_EQ(buddyText(f.step2().formatPicker()), QStringLiteral("Format"));
    EXPECT_EQ(buddyText(f.step3().qualityPicker()), QStringLiteral("Quality"));
    EXPECT_EQ(buddyText(f.step3().phasePicker()), QStringLiteral("Phase response"));
    EXPECT_EQ(buddyText(f.step3().rolloffPicker()), QStringLiteral("Passband rolloff"));
    EXPECT_EQ(buddyText(f.step3().bandwidthSlider()), QStringLiteral("Bandwidth: 91.3%"));
    EXPECT_EQ(f.step2().sampleRatePicker()->accessibleName(), QStringLiteral("Sample rate"));
    EXPECT_EQ(f.step3().bandwidthSlider()->accessibleName(), QStringLiteral("Bandwidth"));
}

} // namespace
} // namespace fennick::test
