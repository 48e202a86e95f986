#include "RememberedSettings.h"

#include "OutputTypeChoice.h"

#include <QSettings>

#include <cmath>

namespace fennick {

namespace {

// A case by its position, as stored; the default when the number is not one of them.
template <typename E> E caseOr(const QSettings& store, const QString& key, E fallback)
{
    bool ok = false;
    const int index = store.value(key).toInt(&ok);
    const auto& cases = allCases<E>();
    return ok && index >= 0 && static_cast<std::size_t>(index) < cases.size() ? cases[static_cast<std::size_t>(index)]
                                                                              : fallback;
}

bool flagOr(const QSettings& store, const QString& key, bool fallback)
{
    return store.contains(key) ? store.value(key).toBool() : fallback;
}

double numberOr(const QSettings& store, const QString& key, double low, double high, double fallback)
{
    bool ok = false;
    const double value = store.value(key).toDouble(&ok);
    return ok && std::isfinite(value) && value >= low && value <= high ? value : fallback;
}

} // namespace

ConversionSettings rememberedSettings(const QSettings& store)
{
    const ConversionSettings defaults;
    ConversionSettings settings;
    const double rate = numberOr(store, QStringLiteral("output/rate"), 1000, 768000, defaults.targetRate);
    settings.targetRate = std::round(rate) == rate ? rate : defaults.targetRate;
    settings.format = caseOr(store, QStringLiteral("output/format"), defaults.format);
    // By its extension; a pair no file holds (kept by hand) gives way as choosing the type would.
    const QString type = store.value(QStringLiteral("output/type")).toString();
    chooseOutputType(settings, fromRawValue<OutputType>(type.toStdString()).value_or(defaults.type));
    ConversionOptions& options = settings.options;
    options.dither = flagOr(store, QStringLiteral("output/dither"), defaults.options.dither);
    options.precision = caseOr(store, QStringLiteral("quality/precision"), defaults.options.precision);
    options.phase = caseOr(store, QStringLiteral("quality/phase"), defaults.options.phase);
    options.rolloff = caseOr(store, QStringLiteral("quality/rolloff"), defaults.options.rolloff);
    options.bandwidthPercent
        = numberOr(store, QStringLiteral("quality/bandwidth"), 74.0, 99.7, defaults.options.bandwidthPercent);
    options.steepFilter = flagOr(store, QStringLiteral("quality/steep"), defaults.options.steepFilter);
    options.doublePrecision = flagOr(store, QStringLiteral("quality/double"), defaults.options.doublePrecision);
    settings.gainDb = numberOr(store, QStringLiteral("level/gain"), kMinGainDb, kMaxGainDb, defaults.gainDb);
    if (flagOr(store, QStringLiteral("level/ceiling"), false)) {
        settings.ceiling = PeakCeiling{numberOr(store, QStringLiteral("level/ceilingLevel"), -20.0, 0.0, -1.0),
            flagOr(store, QStringLiteral("level/samplePeak"), false) ? PeakCeiling::Kind::samplePeak
                                                                     : PeakCeiling::Kind::truePeak};
    }
    if (flagOr(store, QStringLiteral("level/loudness"), false))
        settings.loudnessTargetLufs = numberOr(store, QStringLiteral("level/loudnessTarget"), -60.0, 0.0, -16.0);
    return settings;
}

void rememberSettings(QSettings& store, const ConversionSettings& settings)
{
    store.setValue(QStringLiteral("output/rate"), settings.targetRate);
    store.setValue(QStringLiteral("output/format"), static_cast<int>(ordinal(settings.format)));
    store.setValue(QStringLiteral("output/type"), QString::fromUtf8(rawValue(settings.type)));
    store.setValue(QStringLiteral("output/dither"), settings.options.dither);
    store.setValue(QStringLiteral("quality/precision"), static_cast<int>(ordinal(settings.options.precision)));
    store.setValue(QStringLiteral("quality/phase"), static_cast<int>(ordinal(settings.options.phase)));
    store.setValue(QStringLiteral("quality/rolloff"), static_cast<int>(ordinal(settings.options.rolloff)));
    store.setValue(QStringLiteral("quality/bandwidth"), settings.options.bandwidthPercent);
    store.setValue(QStringLiteral("quality/steep"), settings.options.steepFilter);
    store.setValue(QStringLiteral("quality/double"), settings.options.doublePrecision);
    store.setValue(QStringLiteral("level/gain"), settings.gainDb);
    store.setValue(QStringLiteral("level/ceiling"), settings.ceiling.has_value());
    if (settings.ceiling) {
        store.setValue(QStringLiteral("level/ceilingLevel"), settings.ceiling->level);
        store.setValue(QStringLiteral("level/samplePeak"), settings.ceiling->kind == PeakCeiling::Kind::samplePeak);
    }
    store.setValue(QStringLiteral("level/loudness"), settings.loudnessTargetLufs.has_value());
    if (settings.loudnessTargetLufs)
        store.setValue(QStringLiteral("level/loudnessTarget"), *settings.loudnessTargetLufs);
}

QString rememberedSourceFolder(const QSettings& store)
{
    return store.value(QStringLiteral("folders/source")).toString();
}

void rememberSourceFolder(QSettings& store, const QString& folder)
{
    store.setValue(QStringLiteral("folders/source"), folder);
}

} // namespace fennick
