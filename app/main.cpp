#include "ContentView.h"
#include "FennickApp.h"
#include "MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QUrl>

#include <csignal>
#include <cstdlib>
#include <iostream>

namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// QApplication aborts without a display; say what to do instead before it gets the chance.
bool hasDisplay() { return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM"); }

} // namespace

int main(int argc, char* argv[])
{
    if (!hasDisplay()) {
        std::cerr << "fennick: no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "To convert files without a window, use the command-line converter: fennick-convert --help\n";
        return 1;
    }

    // A file-size limit must fail a write (and so the run, which then cleans up), not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication application(argc, argv);
    fennick::FennickApp app;

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Converts an audio file to a WAV file of another sample rate "
                                                    "and encoding."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("file"), QStringLiteral("A WAV file to open as the source."), QStringLiteral("[file]"));
    parser.process(application);

    fennick::MainWindow* window = app.newWindow();
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        window->contentView().loadSourceFile(QUrl::fromLocalFile(QFileInfo(files.first()).absoluteFilePath()));

    return QApplication::exec();
}
