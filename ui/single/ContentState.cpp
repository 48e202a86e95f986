#include "ContentState.h"

#include "ConversionJob.h"

namespace fennick {

ContentState::RunLine ContentState::runLine() const
{
    if (isConverting) return RunLine::progress;
    if (errorMessage) return RunLine::error;
    if (conversionMessage) return RunLine::message;
    return RunLine::empty;
}

void conversionSaved(ContentState& state, const QUrl& destination, const ConversionReport& report)
{
    state.conversionMessage
        = QString::fromStdString(savedSentence(destination.fileName().toStdString(), soxrVersionText()));
    state.conversionWarning = runWarning(report);
    state.lastSavedURL = destination;
    state.isConverting = false;
}

void conversionCancelled(ContentState& state)
{
    state.conversionMessage = QStringLiteral("Conversion cancelled.");
    state.conversionWarning.reset();
    state.isConverting = false;
}

void conversionFailed(ContentState& state, const QString& description)
{
    state.errorMessage = QString::fromStdString(failedSentence(description.toStdString()));
    state.isConverting = false;
}

} // namespace fennick
