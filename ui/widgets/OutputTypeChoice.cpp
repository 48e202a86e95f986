#include "OutputTypeChoice.h"

namespace fennick {

QString pickerLabel(OutputType type) { return QString::fromUtf8(fileTypeName(type)); }

QString outputTypeHelpText(OutputType type)
{
    switch (type) {
    case OutputType::wav:
        return QStringLiteral("Plays everywhere and carries all of the source's metadata; turns into RF64 by itself "
                              "past 4 GiB.");
    case OutputType::rf64:
        return QStringLiteral("WAV's successor for broadcast archives: RF64 at any size, with all of the metadata.");
    case OutputType::w64: return QStringLiteral("Sony Wave64: any size, the audio alone without its metadata.");
    case OutputType::aiff:
        return QStringLiteral("For Macs and samplers: name, author and copyright, markers and two loops. AIFF-C for "
                              "float.");
    case OutputType::flac:
        return QStringLiteral("Lossless compression to about half the size, with the tags and the channel layout.");
    case OutputType::caf:
        return QStringLiteral("Apple's Core Audio Format: any size, the tags and the channel layout.");
    }
    return {};
}

QString saveNameFilter(OutputType type)
{
    QStringList patterns;
    for (const std::string& extension : writableFileTypes()) {
        if (outputTypeOf("a." + extension) == type) {
            const QString pattern = QStringLiteral("*.") + QString::fromStdString(extension);
            patterns << pattern << pattern.toUpper();
        }
    }
    return QStringLiteral("%1 audio (%2)").arg(pickerLabel(type), patterns.join(QLatin1Char(' ')));
}

QStringList saveNameFilters(OutputType chosen)
{
    QStringList filters{saveNameFilter(chosen)};
    for (OutputType type : allCases<OutputType>()) {
        if (type != chosen) filters << saveNameFilter(type);
    }
    return filters;
}

std::optional<OutputFormat> chooseOutputType(ConversionSettings& settings, OutputType type)
{
    settings.type = type;
    if (canHold(type, settings.format)) return std::nullopt;
    const OutputFormat givenUp = settings.format;
    // The widest format the type holds: the least that is lost.
    for (OutputFormat format : allCases<OutputFormat>()) {
        if (canHold(type, format)) settings.format = format;
    }
    return givenUp;
}

} // namespace fennick
