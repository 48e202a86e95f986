#include "MainWindow.h"

#include "ContentView.h"
#include "RememberedSettings.h"
#include "WindowMenus.h"

#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>

namespace fennick {

MainWindow::MainWindow(Updater& updater, QWidget* parent) : QMainWindow(parent), contentView_(new ContentView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Fennick"));
    setCentralWidget(contentView_);
    // Where the last window left off: its settings, and the open dialog in its source's folder.
    contentView_->setSettings(rememberedSettings(QSettings()));
    contentView_->setOpenFileChooser([this](QWidget* parent) { return chooseFileToOpen(parent, openDialogFolder()); });
    connect(contentView_, &ContentView::stateChanged, this, [this] {
        const ContentState& state = contentView_->state();
        if (state.settings != rememberedSettings_) {
            rememberedSettings_ = state.settings;
            QSettings store;
            rememberSettings(store, state.settings);
        }
        if (state.sourceURL != rememberedSource_) {
            rememberedSource_ = state.sourceURL;
            QSettings store;
            if (state.sourceURL && state.sourceURL->isLocalFile())
                rememberSourceFolder(store, QFileInfo(state.sourceURL->toLocalFile()).absolutePath());
        }
        // Named after its source, so that windows and task bar entries can be told apart.
        const std::optional<QUrl>& source = state.sourceURL;
        setWindowTitle(source ? source->fileName() + QStringLiteral(" \u2014 Fennick") : QStringLiteral("Fennick"));
    });
    // The save dialog would open in the working directory, which for a window started from a file
    // manager has nothing to do with the source; the suggested name belongs next to the source,
    // unless this window last saved a file from that same folder elsewhere: an album's outputs go
    // together, and the next album's do not follow them.
    contentView_->setSaveFileChooser([this](QWidget* parent, const QString& suggestedName) {
        const ContentState& state = contentView_->state();
        const auto folder = [](const std::optional<QUrl>& url) {
            return url && url->isLocalFile() ? QFileInfo(url->toLocalFile()).absolutePath() : QString();
        };
        const bool sameFolder = state.lastSavedURL && folder(state.lastSavedSourceURL) == folder(state.sourceURL);
        const std::optional<QUrl>& near = sameFolder ? state.lastSavedURL : state.sourceURL;
        if (!near || !near->isLocalFile()) return saveDialog_(parent, suggestedName);
        return saveDialog_(parent, QFileInfo(near->toLocalFile()).dir().filePath(suggestedName));
    });
    addWindowMenus(*this, updater,
        {[this] { emit newWindowRequested(); }, [this] { emit batchWindowRequested(); },
            [this] { contentView_->chooseSourceFile(); }});
    // The menu bar sits inside the window here, so it adds to the default content height.
    // No larger than the screen (less room for a title bar), so that the bottom bar is on it.
    resize((defaultContentSize + QSize(0, menuBar()->sizeHint().height()))
               .boundedTo(screen()->availableSize() - QSize(0, kTitleBarAllowance)));
}

QString MainWindow::openDialogFolder() const
{
    const std::optional<QUrl>& source = contentView_->state().sourceURL;
    if (source && source->isLocalFile()) return QFileInfo(source->toLocalFile()).absolutePath();
    return rememberedSourceFolder(QSettings());
}

} // namespace fennick
