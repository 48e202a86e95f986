#pragma once

// A ContentView on screen at the window's default size, real WAV files for it, and the user's
// gestures on it: drags, drops, picker choices.

#include "ContentView.h"
#include "TestAudio.h"

#include <QList>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>

class QComboBox;

namespace fennick::test {

struct ViewFixture {
    ViewFixture();
    ~ViewFixture();

    // A WAV (or any libsndfile) file in the fixture's directory.
    QUrl audioFile(const std::string& name, const AudioSpec& spec = {}, std::int64_t frames = 4410);
    // A file with these bytes, e.g. a ".wav" that is not audio.
    QUrl textFile(const std::string& name, const std::string& bytes = "not audio at all\n");
    QUrl url(const std::string& name) const;

    TempDir dir;
    std::unique_ptr<ContentView> view;
};

// The drag events a file manager sends; each returns whether the view accepted the event.
bool dragEnter(ContentView& view, const QList<QUrl>& urls);
void dragLeave(ContentView& view);
bool drop(ContentView& view, const QList<QUrl>& urls);

// Selects row `index` of a picker from the keyboard, as a user would.
void choose(QComboBox* picker, int index);
// A mouse click in the middle of the widget.
void click(QWidget* widget);

// Processes events until `condition` holds; false if it did not within `timeoutMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 120000);

// Every field, compared one by one.
void expectSameState(const ContentState& expected, const ContentState& actual);

// Foreground colour a label or message line is drawn in.
QColor textColor(const QWidget* widget);

// Converts with the save dialog answered by `destination`, waiting for the run to end.
void convertTo(ContentView& view, const QUrl& destination);

// The libsoxr the binding finds through FENNICK_LIBSOXR (read once per process, so make one
// before the first run): the real one behind a gate in soxr_process that the test holds shut
// for as long as it needs a run to be in the middle of its work. Its version text is
// "gated-libsoxr".
class GatedLibsoxr {
public:
    GatedLibsoxr();
    ~GatedLibsoxr();
    GatedLibsoxr(const GatedLibsoxr&) = delete;
    GatedLibsoxr& operator=(const GatedLibsoxr&) = delete;
    bool loaded() const { return shut_ != nullptr; }
    void shut() { shut_(1); }
    void open();

private:
    void* handle_ = nullptr;
    void (*shut_)(int) = nullptr;
};

} // namespace fennick::test
