#include "SourceFile.h"

#include "ConversionJob.h"
#include "FennickEngine.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
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
        state.sourceContents = info.metadata;
        state.sourceNote = QString::fromStdString(info.note);
        state.sourceChannels = info.channelLayout.empty()
            ? QString::number(info.channelCount)
            : QStringLiteral("%1 \u00b7 %2").arg(info.channelCount).arg(QString::fromStdString(info.channelLayout));
        state.sourceSeconds = info.sampleRate > 0 ? static_cast<double>(info.frames) / info.sampleRate : 0.0;
        state.sourceBytes = QFileInfo(url.toLocalFile()).size();
        state.sourceFrames = info.frames;
        state.sourceChannelCount = static_cast<int>(info.channelCount);
        state.errorMessage.reset();
        state.conversionMessage.reset();
        state.lastRunSaved = false;
        state.conversionWarning.reset();
    } catch (const std::exception& error) {
        state.sourceURL.reset();
        state.fileName = url.fileName();
        state.sampleRate.reset();
        state.sourceFormat.reset();
        state.sourceMetadata.reset();
        state.sourceContents = {};
        state.sourceNote.clear();
        state.sourceChannels.reset();
        state.sourceSeconds.reset();
        state.sourceBytes.reset();
        state.sourceFrames = 0;
        state.sourceChannelCount = 0;
        state.errorMessage = QStringLiteral("Could not read file: ") + QString::fromUtf8(error.what());
    }
}

std::optional<QUrl> firstAudioUrl(const QList<QUrl>& urls)
{
    static const std::vector<std::string> types = readableFileTypes();
    for (const QUrl& url : urls) {
        const std::string suffix = QFileInfo(url.path()).suffix().toLower().toStdString();
        if (std::find(types.begin(), types.end(), suffix) != types.end()) return url;
    }
    return std::nullopt;
}

} // namespace fennick
