#include "QualitySection.h"

#include "BandwidthSlider.h"
#include "FilterPlot.h"
#include "LevelControls.h"
#include "LocaleFormat.h"
#include "TextStyles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace fennick {

using Precision = ConversionOptions::Precision;
using Phase = ConversionOptions::Phase;
using Rolloff = ConversionOptions::Rolloff;

QString pickerLabel(Precision precision)
{
    switch (precision) {
    case Precision::quick: return QStringLiteral("Quick (cubic)");
    case Precision::low: return QStringLiteral("Low");
    case Precision::medium: return QStringLiteral("Medium");
    case Precision::bits16: return QStringLiteral("16-bit");
    case Precision::high: return QStringLiteral("High (20-bit)");
    case Precision::bits24: return QStringLiteral("24-bit");
    case Precision::veryHigh: return QStringLiteral("Very High (28-bit)");
    case Precision::bits32: return QStringLiteral("32-bit");
    }
    return {};
}

QString pickerLabel(Phase phase)
{
    switch (phase) {
    case Phase::linear: return QStringLiteral("Linear (no phase distortion, pre-ring)");
    case Phase::intermediate: return QStringLiteral("Intermediate");
    case Phase::minimum: return QStringLiteral("Minimum (no pre-ring, phase shift)");
    }
    return {};
}

QString pickerLabel(Rolloff rolloff)
{
    switch (rolloff) {
    case Rolloff::small: return QStringLiteral("Small (≤ 0.01 dB)");
    case Rolloff::medium: return QStringLiteral("Medium (≤ 0.35 dB)");
    case Rolloff::none: return QStringLiteral("None");
    }
    return {};
}

namespace {

template <typename E> QComboBox* makePicker(const QString& objectName, QWidget* parent)
{
    auto* picker = new QComboBox(parent);
    picker->setObjectName(objectName);
    for (auto value : allCases<E>()) picker->addItem(pickerLabel(value));
    return picker;
}

template <typename E> E caseAt(int index) { return allCases<E>().at(static_cast<std::size_t>(index)); }

} // namespace

double QualitySection::bandwidthPercent(int sliderValue) { return BandwidthSlider::percent(sliderValue); }

int QualitySection::sliderValue(double bandwidthPercent) { return BandwidthSlider::value(bandwidthPercent); }

QualitySection::QualitySection(QWidget* parent)
    : SectionBox(QStringLiteral("Step 3 — Resampling quality (libsoxr)"), parent)
{
    setObjectName(QStringLiteral("qualitySection"));

    resetButton_ = new QPushButton(QStringLiteral("R&eset to defaults"));
    resetButton_->setObjectName(QStringLiteral("resetButton"));
    resetButton_->setAutoDefault(true); // Return presses it while it has focus
    setCaptionFont(resetButton_);
    setHeaderAccessory(resetButton_);

    // The settings' form, then the plot, which takes whatever height the window has to spare.
    auto* column = new QVBoxLayout(this);
    auto* form = makeSectionForm(nullptr);
    column->addLayout(form);
    form_ = form;

    qualityPicker_ = makePicker<Precision>(QStringLiteral("qualityPicker"), this);
    addLabelledRow(form, QStringLiteral("&Quality"),
        makeControlColumn(qualityPicker_,
            makeHelpText(QStringLiteral("Precision of the conversion — higher settings push aliasing and imaging "
                                        "artifacts further below the noise floor, at the cost of compute time."))),
        qualityPicker_);

    quickNote_ = makeHelpText(QStringLiteral("Quick interpolates without a filter: phase, rolloff, bandwidth and "
                                             "steepness do not apply."),
        this);
    quickNote_->setObjectName(QStringLiteral("quickNote"));
    form->addRow(QString(), quickNote_);
    quickNoteRow_ = form->rowCount() - 1;

    phasePicker_ = makePicker<Phase>(QStringLiteral("phasePicker"), this);
    filterLabels_ << addLabelledRow(form, QStringLiteral("&Phase response"),
        makeControlColumn(phasePicker_,
            makeHelpText(QStringLiteral("How the filter distributes its time-domain ringing. Linear keeps timing "
                                        "perfectly intact but pre-rings before transients; minimum eliminates "
                                        "pre-ringing at the cost of slight phase shift in the top octave."))),
        phasePicker_);

    rolloffPicker_ = makePicker<Rolloff>(QStringLiteral("rolloffPicker"), this);
    filterLabels_ << addLabelledRow(form, QStringLiteral("Passband ro&lloff"),
        makeControlColumn(rolloffPicker_,
            makeHelpText(QStringLiteral("How much high-frequency level loss is tolerated just below the cutoff. "
                                        "Smaller rolloff preserves the top end flatter but needs a longer filter."))),
        rolloffPicker_);

    bandwidthSlider_ = new BandwidthSlider(this);
    bandwidthSlider_->setObjectName(QStringLiteral("bandwidthSlider"));
    bandwidthSlider_->setAccessibleName(QStringLiteral("Bandwidth"));
    auto* bandwidthGroup = makeControlGroup(bandwidthSlider_,
        makeHelpText(QStringLiteral("How much of the output's frequency range is preserved before the filter begins "
                                    "to cut. Higher values keep more air near Nyquist; lower values give the filter "
                                    "room and reduce ringing. libsoxr default is 91.3%.")),
        this);
    // The slider spans the field; the other controls keep their natural width.
    static_cast<QBoxLayout*>(bandwidthGroup->layout())->setAlignment(bandwidthSlider_, Qt::Alignment());
    bandwidthLabel_ = new QLabel(this);
    bandwidthLabel_->setObjectName(QStringLiteral("bandwidthLabel"));
    bandwidthLabel_->setBuddy(bandwidthSlider_);
    form->addRow(bandwidthLabel_, bandwidthGroup);

    steepFilterToggle_ = new QCheckBox(QStringLiteral("S&teep filter"), this);
    steepFilterToggle_->setObjectName(QStringLiteral("steepFilterToggle"));
    form->addRow(QString(),
        makeControlGroup(steepFilterToggle_,
            makeHelpText(QStringLiteral("Narrows the transition band for a sharper cutoff, trading a longer filter and "
                                        "more ringing near Nyquist.")),
            this));

    doublePrecisionToggle_ = new QCheckBox(QStringLiteral("&64-bit float internal processing"), this);
    doublePrecisionToggle_->setObjectName(QStringLiteral("doublePrecisionToggle"));
    form->addRow(QString(),
        makeControlGroup(doublePrecisionToggle_,
            makeHelpText(QStringLiteral("Runs the resampler math in 64-bit float instead of 32-bit. Always on for "
                                        "quality above 20-bit.")),
            this));

    filterPlot_ = new FilterPlot(this);
    column->addWidget(filterPlot_, 1);

    connect(filterPlot_, &FilterPlot::viewEdited, this, &QualitySection::filterViewEdited);
    // The dither and step 2's level controls as well: a shaped choice would otherwise outlive the
    // reset of the switch it overrides, and the level goes back to no gain, which changes no sample.
    connect(resetButton_, &QPushButton::clicked, this, [this] {
        ConversionSettings settings = withDefaultLevel(settings_);
        settings.options = {};
        settings.dither.reset();
        emit settingsEdited(settings);
    });
    connect(qualityPicker_, &QComboBox::activated, this,
        [this](int index) { edit([index](ConversionOptions& o) { o.precision = caseAt<Precision>(index); }); });
    connect(phasePicker_, &QComboBox::activated, this,
        [this](int index) { edit([index](ConversionOptions& o) { o.phase = caseAt<Phase>(index); }); });
    connect(rolloffPicker_, &QComboBox::activated, this,
        [this](int index) { edit([index](ConversionOptions& o) { o.rolloff = caseAt<Rolloff>(index); }); });
    connect(bandwidthSlider_, &QSlider::valueChanged, this,
        [this](int value) { edit([value](ConversionOptions& o) { o.bandwidthPercent = bandwidthPercent(value); }); });
    connect(steepFilterToggle_, &QCheckBox::clicked, this,
        [this](bool on) { edit([on](ConversionOptions& o) { o.steepFilter = on; }); });
    connect(doublePrecisionToggle_, &QCheckBox::clicked, this,
        [this](bool on) { edit([on](ConversionOptions& o) { o.doublePrecision = on; }); });
}

void QualitySection::edit(const std::function<void(ConversionOptions&)>& change)
{
    ConversionSettings settings = settings_;
    change(settings.options);
    emit settingsEdited(settings);
}

void QualitySection::render(const ConversionSettings& settings, bool editable)
{
    const ConversionOptions& options = settings.options;
    settings_ = settings;

    const QSignalBlocker qualityBlocker(qualityPicker_);
    const QSignalBlocker phaseBlocker(phasePicker_);
    const QSignalBlocker rolloffBlocker(rolloffPicker_);
    const QSignalBlocker sliderBlocker(bandwidthSlider_);
    const QSignalBlocker steepBlocker(steepFilterToggle_);
    const QSignalBlocker doubleBlocker(doublePrecisionToggle_);

    qualityPicker_->setCurrentIndex(static_cast<int>(ordinal(options.precision)));
    phasePicker_->setCurrentIndex(static_cast<int>(ordinal(options.phase)));
    rolloffPicker_->setCurrentIndex(static_cast<int>(ordinal(options.rolloff)));
    // Only move the slider when the stored value is not already what it shows, so that a drag
    // is never pulled back by rounding.
    // The steep filter brings libsoxr's own bandwidth: shown, not editable; the stored one is kept
    // for when it is turned off.
    const double shown = options.steepFilter ? steepBandwidthPercent(options.precision) : options.bandwidthPercent;
    if (bandwidthPercent(bandwidthSlider_->value()) != shown) bandwidthSlider_->setValue(sliderValue(shown));
    // Quick is a cubic interpolator: the filter's settings change nothing, and look it.
    const bool filtered = options.precision != Precision::quick;
    form_->setRowVisible(quickNoteRow_, !filtered);
    bandwidthSlider_->setEnabled(editable && filtered && !options.steepFilter);
    bandwidthLabel_->setText(QLatin1Char('&') + bandwidthText(shown)); // its mnemonic focuses the slider
    bandwidthLabel_->setEnabled(editable && filtered);
    for (QLabel* label : std::as_const(filterLabels_)) label->setEnabled(editable && filtered);
    steepFilterToggle_->setChecked(options.steepFilter);

    // Above 20 bits libsoxr computes in double precision anyway: show it on, keep the stored choice.
    const bool forced = requiresDoublePrecision(options.precision);
    doublePrecisionToggle_->setChecked(forced || options.doublePrecision);
    doublePrecisionToggle_->setEnabled(editable && !forced);
    for (QWidget* control : {static_cast<QWidget*>(resetButton_), static_cast<QWidget*>(qualityPicker_)})
        control->setEnabled(editable);
    for (QWidget* control : {static_cast<QWidget*>(phasePicker_), static_cast<QWidget*>(rolloffPicker_),
             static_cast<QWidget*>(steepFilterToggle_)})
        control->setEnabled(editable && filtered);
}

} // namespace fennick
