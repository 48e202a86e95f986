#pragma once

// A ContentView on screen at the window's default size, real WAV files for it, and the user's
// gestures on it: drops, picker choices, clicks.

#include "BottomBar.h"
#include "ContentView.h"
#include "DestinationSection.h"
#include "MessageLabel.h"
#include "QualitySection.h"
#include "SourceSection.h"
#include "TestAudio.h"
#include "TextStyles.h"

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace fennick::test {

struct ViewFixture {
    ViewFixture();
    ~ViewFixture();

    QUrl url(const std::string& name) const { return QUrl::fromLocalFile(QString::fromStdString(dir / name)); }
    QUrl audioFile(const std::string& name, const AudioSpec& spec = {}, std::int64_t frames = 4410)
    {
        writeAudioFile(dir / name, spec, frames, sine(440.0, spec.sampleRate));
        return url(name);
    }
    QUrl textFile(const std::string& name) // e.g. a ".wav" that is not audio
    {
        std::ofstream(dir / name) << "not audio at all\n";
        return url(name);
    }

    TempDir dir;
    std::unique_ptr<ContentView> view;
};

// A drag event as a file manager sends it (QDragEnterEvent or QDropEvent); whether the view took it.
template <typename DragEvent> bool sendDrag(ContentView& view, const QList<QUrl>& urls);
inline bool drop(ContentView& view, const QList<QUrl>& urls) { return sendDrag<QDropEvent>(view, urls); }

// Selects `value`'s row of a picker from the keyboard, as a user would.
void choose(QComboBox* picker, auto value)
{
    QTest::keyClick(picker, Qt::Key_Home);
    for (std::size_t i = 0; i < ordinal(value); ++i) QTest::keyClick(picker, Qt::Key_Down);
}

inline void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center()); }

// Runs take seconds under sanitizers, far beyond qWaitFor's default.
inline bool waitUntil(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 120000); }
inline bool runEnded(const ContentView& view)
{
    return waitUntil([&view] { return !view.isConverting(); });
}

// Starts a run with the save dialog answered by `destination`; convertTo also waits for its end.
void startRun(ContentView& view, const QUrl& destination);
void convertTo(ContentView& view, const QUrl& destination);

// Switches the user's locale, as the system settings would, and tells the view.
void switchLocale(ContentView& view, const QLocale& locale);

bool sameState(const ContentState& a, const ContentState& b);

inline QColor textColor(const QWidget* widget) { return widget->palette().color(widget->foregroundRole()); }

// Binds runs to a libsoxr whose soxr_process waits while the gate is shut ("gated-libsoxr").
// Make it before the first run (the binding is made once per process) and after the view, so
// that it opens, and lets a held job end, before the view waits for its jobs.
class LibsoxrGate {
public:
    LibsoxrGate();
    ~LibsoxrGate() { open(); }
    void open() { shut_(0); }

private:
    void (*shut_)(int) = nullptr;
};

} // namespace fennick::test
