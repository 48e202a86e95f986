// Steps 2 and 3: the two toggles whose rule depends on another setting, the bandwidth slider,
// and "Reset to defaults".

#include "UiTestSupport.h"

#include "FilterChart.h"
#include "FilterPlot.h"
#include "LevelControls.h"
#include "LocaleFormat.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>

namespace fennick::test {
namespace {

using Precision = ConversionOptions::Precision;

struct LoadedView : ViewFixture {
    LoadedView() { view->loadSourceFile(audioFile("source.wav")); }
    DestinationSection& step2() const { return *view->destinationSection(); }
    QualitySection& step3() const { return *view->qualitySection(); }
};

// A toggle as shown: "on"/"off", and "fixed" when it cannot be clicked.
QString shown(const QCheckBox* toggle)
{
    return QString(toggle->isChecked() ? "on" : "off") + (toggle->isEnabled() ? "" : " fixed");
}

TEST(SettingsSteps, DitherAndDoublePrecisionApplyOnlySometimesAndAreNotForgottenMeanwhile)
{
    LoadedView f;
    // A dither choice shows for integer output, None fixed and dimmed for float, and is kept meanwhile.
    QComboBox* dither = f.step2().ditherPicker();
    choose(dither, Dither::shaped);
    for (OutputFormat format : allCases<OutputFormat>()) {
        choose(f.step2().formatPicker(), format);
        const bool applies = format != OutputFormat::float32;
        EXPECT_EQ(dither->currentText(), applies ? "Shaped" : "None");
        EXPECT_EQ(f.step2().ditherHelp()->text(), ditherHelpText(applies ? Dither::shaped : Dither::none));
        for (QWidget* part : QList<QWidget*>{dither, f.step2().ditherLabel(), f.step2().ditherHelp()})
            EXPECT_EQ(part->isEnabled(), applies);
        EXPECT_EQ(f.view->state().settings.dither, Dither::shaped);
    }
    // None and TPDF for 16 bits are the options' switch, as before; 24 bits is undithered by default.
    choose(f.step2().formatPicker(), OutputFormat::int16);
    choose(dither, Dither::none);
    EXPECT_EQ(f.view->state().settings.dither, std::nullopt);
    EXPECT_FALSE(f.view->state().settings.options.dither);
    choose(dither, Dither::tpdf);
    choose(f.step2().formatPicker(), OutputFormat::int24);
    EXPECT_EQ(dither->currentText(), "None");
    EXPECT_TRUE(f.view->state().settings.options.dither);

    // 64-bit processing is locked on above 20 bits, without forgetting the user's choice either.
    QCheckBox* toggle = f.step3().doublePrecisionToggle();
    for (Precision precision : allCases<Precision>()) {
        const bool locked = requiresDoublePrecision(precision);
        choose(f.step3().qualityPicker(), precision);
        EXPECT_EQ(shown(toggle), locked ? "on fixed" : "off") << ordinal(precision);
        EXPECT_EQ(toggle->parentWidget()->graphicsEffect(), nullptr); // full opacity either way
        // Quick has no filter: its settings are dimmed, and the note says why.
        const bool filtered = precision != Precision::quick;
        for (QWidget* control : QList<QWidget*>{f.step3().phasePicker(), f.step3().rolloffPicker(),
                 f.step3().bandwidthSlider(), f.step3().bandwidthLabel(), f.step3().steepFilterToggle()})
            EXPECT_EQ(control->isEnabled(), filtered) << control->objectName().toStdString();
        EXPECT_EQ(f.step3().quickNote()->isVisibleTo(f.view.get()), !filtered);
        if (!filtered) saveScreenshot(*f.view, "quality-quick.png");
        click(toggle);
        EXPECT_EQ(f.view->state().settings.options.doublePrecision, !locked);
        // Across the lock and back: the stored value shows again wherever the lock is off.
        choose(f.step3().qualityPicker(), locked ? Precision::high : Precision::bits32);
        EXPECT_EQ(toggle->isChecked(), !locked);
        choose(f.step3().qualityPicker(), precision);
        if (!locked) click(toggle);
    }
}

TEST(SettingsSteps, ResetRestoresTheQualitySettingsOnlyAndTheSliderEndsAreExact)
{
    LoadedView f;
    choose(f.step2().ditherPicker(), Dither::shaped);
    choose(f.step2().sampleRatePicker(), TargetSampleRate::r96000);
    choose(f.step2().formatPicker(), OutputFormat::int24);
    choose(f.step3().qualityPicker(), Precision::bits16);
    choose(f.step3().phasePicker(), ConversionOptions::Phase::minimum);
    choose(f.step3().rolloffPicker(), ConversionOptions::Rolloff::none);
    QTest::keyClick(f.step3().bandwidthSlider(), Qt::Key_Home);
    click(f.step3().steepFilterToggle());
    click(f.step3().doublePrecisionToggle());
    ASSERT_EQ(f.view->state().settings.options,
        (ConversionOptions{Precision::bits16, ConversionOptions::Phase::minimum, true, ConversionOptions::Rolloff::none,
            74.0, true, true}));
    // Steep brings libsoxr's own bandwidth, fixed; turned off, the user's is back.
    EXPECT_EQ(f.step3().bandwidthLabel()->text().remove('&'), bandwidthText(steepBandwidthPercent(Precision::bits16)));
    EXPECT_FALSE(f.step3().bandwidthSlider()->isEnabled());
    click(f.step3().steepFilterToggle());
    EXPECT_EQ(f.step3().bandwidthLabel()->text().remove('&'), "Bandwidth: 74.0%");
    QTest::keyClick(f.step3().bandwidthSlider(), Qt::Key_End);
    EXPECT_EQ(f.view->state().settings.options.bandwidthPercent, 99.7);
    switchLocale(*f.view, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(f.step3().bandwidthLabel()->text().remove('&'), "Bandwidth: 99,7%");

    click(f.step3().resetButton());
    EXPECT_EQ(f.view->state().settings.options, ConversionOptions{});
    EXPECT_EQ(f.view->state().settings.targetRate, 96000.0);
    EXPECT_EQ(f.view->state().settings.format, OutputFormat::int24);
    const QStringList onScreen{f.step3().qualityPicker()->currentText(), f.step3().phasePicker()->currentText(),
        f.step3().rolloffPicker()->currentText(), f.step3().bandwidthLabel()->text().remove('&'),
        shown(f.step3().steepFilterToggle()), f.step2().sampleRatePicker()->currentText(),
        f.step2().ditherPicker()->currentText()};
    EXPECT_EQ(onScreen.join(" | "),
        "Very High (28-bit) | Linear (no phase distortion, pre-ring) | Small (≤ 0.01 dB) | "
        "Bandwidth: 91,3% | off | 96 kHz | None"); // the 24-bit default, not the shaped choice
}

// The plot follows every setting, measured off the main thread; held half-way, the newest
// request is the one shown in the end. Without a file it is dimmed and shows 44.1 kHz in.
TEST(SettingsSteps, ThePlotShowsTheNewestMeasurementOfTheSettings)
{
    ViewFixture f;
    FilterPlot* plot = f.view->qualitySection()->filterPlot();
    ASSERT_TRUE(waitUntil([&] { return f.view->state().filterResponse != nullptr; }));
    EXPECT_FALSE(plot->chart()->isEnabled());
    EXPECT_EQ(plot->caption()->text(), "Equal rates: the samples pass through unfiltered.");

    f.view->loadSourceFile(f.audioFile("hi.wav", {96000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}));
    const auto shows = [&](const ConversionOptions& options) {
        const QString expected = filterCaption(measureFilterResponse(96000, 44100, options));
        return waitUntil([&] { return plot->caption()->text() == expected; });
    };
    EXPECT_TRUE(shows({}));
    const QString before = plot->caption()->text();
    {
        LibsoxrGate gate;
        click(f.view->qualitySection()->steepFilterToggle());
        choose(f.view->qualitySection()->qualityPicker(), Precision::bits16);
        choose(f.view->qualitySection()->phasePicker(), ConversionOptions::Phase::minimum);
        QCoreApplication::processEvents();
        EXPECT_EQ(plot->caption()->text(), before);
    }
    const ConversionOptions newest{Precision::bits16, ConversionOptions::Phase::minimum, true};
    EXPECT_TRUE(shows(newest));
    settleFilterPlot();
    EXPECT_EQ(plot->caption()->text(), filterCaption(measureFilterResponse(96000, 44100, newest)));

    QTest::mouseClick(plot->viewPicker(), Qt::LeftButton, {}, plot->viewPicker()->tabRect(2).center());
    EXPECT_TRUE(f.view->state().filterView == FilterView::impulse && plot->chart()->showsImpulse());
}

// The passband close up tells Small from Medium rolloff, read under the pointer; the Dither noise
// view follows the dither and rate with its two figures, and says when there is no noise.
TEST(SettingsSteps, ThePlotReadsOutThePassbandAndTheDitherNoise)
{
    ViewFixture f;
    f.view->loadSourceFile(f.audioFile("hi.wav", {96000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16}));
    FilterPlot* plot = f.view->qualitySection()->filterPlot();
    FilterChart* chart = plot->chart();
    const auto pointAt = [chart](double x) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, chart->plotArea().center().y()), QPointF(), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
        return chart->readout()->isVisible() ? chart->readout()->text() : QStringLiteral("(hidden)");
    };
    const auto showTab = [plot](int tab) {
        QTest::mouseClick(plot->viewPicker(), Qt::LeftButton, {}, plot->viewPicker()->tabRect(tab).center());
    };
    settleFilterPlot();
    saveScreenshot(*plot, "plot-magnitude.png");
    showTab(1);
    double atEdge[2] = {};
    for (const auto rolloff : {ConversionOptions::Rolloff::small, ConversionOptions::Rolloff::medium}) {
        choose(f.view->qualitySection()->rolloffPicker(), rolloff);
        settleFilterPlot();
        EXPECT_EQ(pointAt(chart->positionOf(10000)), "10.0 kHz · 0.00 dB");
        const QString edge = pointAt(chart->positionOf(20000));
        saveScreenshot(*plot,
            rolloff == ConversionOptions::Rolloff::small ? "plot-passband-small.png"
                                                         : "plot-passband-medium-readout.png");
        atEdge[ordinal(rolloff)] = edge.section(' ', 3, 3).replace(QChar(0x2212), '-').toDouble();
    }
    EXPECT_EQ(pointAt(0), "(hidden)");
    EXPECT_LT(atEdge[1], atEdge[0] - 0.05) << "Medium rolls off where Small is still flat";

    showTab(3);
    choose(f.view->destinationSection()->ditherPicker(), Dither::shaped);
    const auto decibels = [](double level) { return QString::number(level, 'f', 1).replace('-', QChar(0x2212)); };
    for (const auto rate : {TargetSampleRate::r44100, TargetSampleRate::r96000}) {
        choose(f.view->destinationSection()->sampleRatePicker(), rate);
        const DitherNoise noise = ditherNoise(Dither::shaped, OutputFormat::int16, rawValue(rate), 64);
        EXPECT_EQ(plot->caption()->text(),
            "Weighted noise " + decibels(noise.weightedDb) + " dB · 1–5 kHz " + decibels(noise.band1To5kDb)
                + " dB, relative to flat TPDF");
        EXPECT_TRUE(chart->accessibleDescription().startsWith("Dither noise. "));
        EXPECT_TRUE(pointAt(chart->plotArea().center().x()).endsWith(" dB"));
        saveScreenshot(*plot, rate == TargetSampleRate::r44100 ? "plot-dither-44k.png" : "plot-dither-96k.png");
    }
    choose(f.view->destinationSection()->formatPicker(), OutputFormat::float32);
    EXPECT_EQ(plot->caption()->text(), "32-bit float output is not dithered");
    EXPECT_TRUE(chart->accessibleDescription().startsWith("No dither noise. "));
    saveScreenshot(*plot, "plot-dither-none.png");
}

// On a small screen, at scale 2 (800×500 points), in a 12 pt font, on a wide screen and in a dark
// palette, the bottom bar is whole and the steps scroll above it; the plot takes the height to
// spare. The wheel over a control without focus scrolls the page and leaves the setting.
TEST(SettingsSteps, TheWindowFitsAnyScreenAndTheWheelScrollsPastTheSettings)
{
    LoadedView f;
    // A dark theme's palette, given to the whole application as a desktop does.
    const QPalette light = QApplication::palette();
    QPalette dark(QColor(0x3a, 0x3a, 0x3a), QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
    const std::tuple<QSize, int, const char*> cases[] = {{{1024, 540}, 0, "fit-1024x600.png"},
        {{800, 440}, 0, "fit-scale2-points.png"}, {{560, 540}, 12, "fit-12pt.png"}, {{480, 360}, 0, "fit-minimum.png"},
        {{1600, 1200}, 0, "fit-wide.png"}, {{560, 880}, -1, "fit-dark.png"}};
    int plotHeight = 0;
    for (const auto& [size, points, screenshot] : cases) {
        QFont font = QApplication::font();
        if (points > 0) font.setPointSize(points);
        f.view->setFont(font);
        QApplication::setPalette(points < 0 ? dark : light);
        f.view->resize(size);
        for (int pass = 0; pass < 3; ++pass) QCoreApplication::processEvents(); // the wrapped texts' heights
        saveScreenshot(*f.view, screenshot);
        if (points < 0) { // an unchecked box and the slider's empty groove stand out from the dark window
            const auto brightest = [](QWidget* control, double from, double to) {
                const QImage image = control->grab().toImage();
                int most = 0;
                for (int y = 0; y < image.height(); ++y)
                    for (int x = int(from * image.width()); x < int(to * image.width()); ++x)
                        most = std::max(most, image.pixelColor(x, y).lightness());
                return most;
            };
            QCheckBox* box = f.step3().steepFilterToggle();
            EXPECT_GT(brightest(box, 0, double(box->height()) / box->width()), 0x2b + 40);
            EXPECT_GT(brightest(f.step3().bandwidthSlider(), 0.85, 0.98), 0x2b + 40);
        }
        const QWidget* convert = f.view->bottomBar()->convertButton();
        EXPECT_TRUE(f.view->rect().contains(QRect(convert->mapTo(f.view.get(), QPoint()), convert->size())));
        const int height = f.step3().filterPlot()->chart()->height();
        EXPECT_GE(height, f.step3().filterPlot()->chart()->minimumSizeHint().height()) << screenshot;
        if (size.width() == 1024) plotHeight = height;
        if (size.width() == 1600) {
            EXPECT_GT(height, plotHeight + 40) << "the plot grows with the window";
        }
    }
    QApplication::setPalette(light);
    f.view->resize(1024, 540);
    QCoreApplication::processEvents();
    QScrollBar* page = f.view->findChild<QScrollArea*>()->verticalScrollBar();
    ASSERT_GT(page->maximum(), 0);
    const auto wheel = [](QWidget* control) {
        QWheelEvent down(QPointF(5, 5), control->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(control, &down);
    };
    for (QWidget* control :
        QList<QWidget*>{f.step3().rolloffPicker(), f.step3().bandwidthSlider(), f.step2().sampleRatePicker()}) {
        page->setValue(0);
        wheel(control);
        EXPECT_GT(page->value(), 0) << control->objectName().toStdString();
    }
    EXPECT_EQ(f.view->state().settings, ConversionSettings{});
    f.view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.view.get()));
    f.step3().rolloffPicker()->setFocus(); // a focused picker takes the wheel
    wheel(f.step3().rolloffPicker());
    EXPECT_NE(f.view->state().settings, ConversionSettings{});
}

// What a screen reader finds walking the window: every control named by its label (a picker, as
// Linux reads it, through its label relation), the slider's value in percent, the plot named and
// described with its figures.
TEST(SettingsSteps, TheAccessibleTreeNamesEveryControlByItsLabel)
{
    LoadedView f;
    settleFilterPlot();
    QHash<QObject*, QAccessibleInterface*> tree;
    const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        tree.insert(node->object(), node);
        for (int i = 0; i < node->childCount(); ++i) walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(f.view.get()));
    const auto name = [&tree](QWidget* control) {
        QAccessibleInterface* node = tree.value(control);
        if (node == nullptr) return QStringLiteral("(not in the tree)");
        if (node->role() != QAccessible::ComboBox) return node->text(QAccessible::Name);
        const auto labels = node->relations(QAccessible::Label);
        return labels.isEmpty() ? QStringLiteral("(no label)") : labels.first().first->text(QAccessible::Name);
    };
    const std::pair<QWidget*, const char*> expected[]{{f.view->sourceSection()->chooseButton(), "Choose…"},
        {f.step2().typePicker(), "File type"}, {f.step2().sampleRatePicker(), "Sample rate"},
        {f.step2().formatPicker(), "Format"}, {f.step2().ditherPicker(), "Dither"},
        {f.step2().levelControls()->gainField(), "Gain"},
        {f.step2().levelControls()->ceilingToggle(), "Keep peaks below"},
        {f.step2().levelControls()->ceilingField(), "Peak level"},
        {f.step2().levelControls()->loudnessToggle(), "Loudness"},
        {f.step2().levelControls()->loudnessField(), "Loudness target"}, {f.step3().resetButton(), "Reset to defaults"},
        {f.step3().qualityPicker(), "Quality"}, {f.step3().phasePicker(), "Phase response"},
        {f.step3().rolloffPicker(), "Passband rolloff"}, {f.step3().bandwidthSlider(), "Bandwidth"},
        {f.step3().steepFilterToggle(), "Steep filter"},
        {f.step3().doublePrecisionToggle(), "64-bit float internal processing"},
        {f.step3().filterPlot()->chart(), "Filter response"}, {f.view->bottomBar()->convertButton(), "Convert…"}};
    for (const auto& [control, text] : expected) EXPECT_EQ(name(control), text);
    QAccessibleInterface* slider = tree.value(f.step3().bandwidthSlider());
    ASSERT_TRUE(slider && slider->valueInterface());
    EXPECT_EQ(slider->text(QAccessible::Value), "91.3 %");
    EXPECT_EQ(slider->valueInterface()->currentValue().toDouble(), 91.3);
    EXPECT_EQ(tree.value(f.step2().sampleRatePicker())->text(QAccessible::Value), "44.1 kHz");
    const QString plot = tree.value(f.step3().filterPlot()->chart())->text(QAccessible::Description);
    EXPECT_TRUE(plot.startsWith("Magnitude response. ")) << plot.toStdString();
    EXPECT_TRUE(plot.endsWith(f.step3().filterPlot()->caption()->text()));
}

} // namespace
} // namespace fennick::test
