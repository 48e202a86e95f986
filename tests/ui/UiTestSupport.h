#pragma once

// A ContentView on screen at the window's default size, real WAV files for it, the user's
// gestures on it, and what it shows as one line of text.

#include "BottomBar.h"
#include "ContentView.h"
#include "DestinationSection.h"
#include "MessageLabel.h"
#include "QualitySection.h"
#include "SourceSection.h"
#include "TestAudio.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace fennick::test {

// Every run in these tests goes through a stand-in libsoxr ("gated-libsoxr") whose soxr_process
// waits while its gate is shut; it is bound before the first run, for the whole process.
struct ViewFixture {
    ViewFixture();
    ~ViewFixture();

    QUrl url(const std::string& name) const { return QUrl::fromLocalFile(QString::fromStdString(dir / name)); }
    QUrl audioFile(const std::string& name, const AudioSpec& spec = {}, std::int64_t frames = 4410);
    QUrl textFile(const std::string& name); // e.g. a ".wav" that is not audio

    TempDir dir;
    std::unique_ptr<ContentView> view;
};

// Holds every run at its next libsoxr call until opened (or destroyed).
struct LibsoxrGate {
    LibsoxrGate();
    ~LibsoxrGate() { open(); }
    void open();
    bool holds(int calls) const; // waits until that many libsoxr calls wait at the gate
};

// What the window shows, as one line: step 1 (name, "(dimmed)" when drawn in the secondary style,
// then the rows that are shown), the bottom bar ("47%", "!error" in red, or the message,
// "(dimmed)" again, and " / warning (amber)" under it) and the Convert button ("Convert…" or
// "(Convert…)" when disabled).
QString screen(const ContentView& view);

// A drop as a file manager sends it; whether the view took it.
bool drop(QWidget& view, const QList<QUrl>& urls);
bool dragEnter(QWidget& view, const QList<QUrl>& urls);

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

// Lets the plot's measurements finish and reach the window, so that its state holds still.
void settleFilterPlot();

// Starts a run with the save dialog answered by `destination`; convertTo also waits for its end.
void startRun(ContentView& view, const QUrl& destination);
void convertTo(ContentView& view, const QUrl& destination);

// Switches the user's locale, as the system settings would, and tells the view.
void switchLocale(ContentView& view, const QLocale& locale);

// A picture of the view for review, in <build>/screenshots.
void saveScreenshot(QWidget& view, const char* name);

} // namespace fennick::test
