#include "SourceFile.h"

#include "ConversionJob.h"
#include "FennickEngine.h"

#include <QFile>
#include <QFileInfo>

#include <exception>

namespace fennick {

void loadSourceFile(ContentState& state, const QUrl& url)
{
    try {
        if (!url.isLocalFile()) throw AudioFileError("The file is not on this computer.");
        const SourceFileInfo info = readSourceFileInfo(localPath(url));
        state.sourceURL = url;
        state.fileName = url.fileName();
        state.sampleRate = info.sampleRate;
        state.sourceFormat = QString::fromStdString(info.sampleFormat);
        state.sourceMetadata = QString::fromStdString(info.metadataSummary);
        state.sourceNote = QString::fromStdString(info.note);
        state.errorMessage.reset();
        state.conversionMessage.reset();
        state.conversionWarning.reset();
    } catch (const std::exception& error) {
        state.sourceURL.reset();
        state.fileName = url.fileName();
        state.sampleRate.reset();
        state.sourceFormat.reset();
        state.sourceMetadata.reset();
        state.sourceNote.clear();
        state.errorMessage = QStringLiteral("Could not read file: ") + QString::fromUtf8(error.what());
    }
}

std::optional<QUrl> firstWavUrl(const QList<QUrl>& urls)
{
    for (const QUrl& url : urls) {
        if (QFileInfo(url.path()).suffix().toLower() == QLatin1String("wav")) return url;
    }
    return std::nullopt;
}

} // namespace fennick
