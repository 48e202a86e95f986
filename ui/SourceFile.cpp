#include "SourceFile.h"

#include "FennickEngine.h"

#include <QFile>
#include <QFileInfo>

#include <exception>

namespace fennick {

namespace {

// Stands in for security-scoped access, which Linux does not have: granting always succeeds
// and giving access back does nothing. Kept so that every read is bracketed the same way on
// a platform that does have it.
class ScopedFileAccess {
public:
    explicit ScopedFileAccess(const QUrl& url) : url_(url), granted_(startAccessing(url_)) { }
    ~ScopedFileAccess()
    {
        if (granted_) stopAccessing(url_);
    }
    ScopedFileAccess(const ScopedFileAccess&) = delete;
    ScopedFileAccess& operator=(const ScopedFileAccess&) = delete;

private:
    static bool startAccessing(const QUrl&) { return true; }
    static void stopAccessing(const QUrl&) { }

    QUrl url_;
    bool granted_;
};

} // namespace

std::filesystem::path localPath(const QUrl& url)
{
    return std::filesystem::path(QFile::encodeName(url.toLocalFile()).toStdString());
}

void loadSourceFile(ContentState& state, const QUrl& url)
{
    const ScopedFileAccess access(url);
    try {
        if (!url.isLocalFile()) throw AudioFileError("The file is not on this computer.");
        const SourceFileInfo info = readSourceFileInfo(localPath(url));
        state.sourceURL = url;
        state.fileName = url.fileName();
        state.sampleRate = info.sampleRate;
        state.sourceFormat = QString::fromStdString(info.sampleFormat);
        state.sourceMetadata = QString::fromStdString(info.metadataSummary);
        state.errorMessage.reset();
        state.conversionMessage.reset();
        state.conversionWarning.reset();
    } catch (const std::exception& error) {
        state.sourceURL.reset();
        state.fileName = url.fileName();
        state.sampleRate.reset();
        state.sourceFormat.reset();
        state.sourceMetadata.reset();
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
