#include "ContentState.h"

#include "ConversionJob.h"
#include "LevelText.h"

namespace fennick {

ContentState::RunLine ContentState::runLine() const
{
    if (isConverting) return RunLine::progress;
    if (errorMessage) return RunLine::error;
    if (conversionMessage) return RunLine::message;
    return RunLine::empty;
}

std::optional<qint64> estimatedOutputBytes(const ContentState& state)
{
    if (!state.hasSource() || !state.sampleRate || *state.sampleRate <= 0) return std::nullopt;
    constexpr qint64 kHeaderBytes = 80; // WAVE_FORMAT_EXTENSIBLE's fmt chunk and the rest
    const double frames = static_cast<double>(state.sourceFrames) * state.settings.targetRate / *state.sampleRate;
    return kHeaderBytes
        + static_cast<qint64>(frames) * state.sourceChannelCount * (bitsPerSample(state.settings.format) / 8);
}

void conversionSaved(ContentState& state, const QUrl& destination, const ConversionReport& report)
{
    state.conversionMessage
        = QString::fromStdString(savedSentence(destination.fileName().toStdString(), soxrVersionText()));
    state.conversionWarning = runWarning(report);
    state.conversionLevel = resultLevelLine(report);
    state.lastSavedURL = destination;
    state.lastSavedSourceURL = state.sourceURL; // the run's own: the source cannot change during it
    state.lastRunSaved = true;
    state.isConverting = false;
}

void conversionCancelled(ContentState& state)
{
    state.conversionMessage = QStringLiteral("Conversion cancelled.");
    state.lastRunSaved = false;
    state.conversionWarning.reset();
    state.isConverting = false;
}

void conversionFailed(ContentState& state, const QString& description)
{
    state.errorMessage = QString::fromStdString(failedSentence(description.toStdString()));
    state.isConverting = false;
}

} // namespace fennick
