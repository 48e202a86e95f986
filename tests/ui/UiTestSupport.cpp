#include "UiTestSupport.h"

#include <QMimeData>
#include <QThreadPool>

#include <cstdlib>
#include <dlfcn.h>
#include <tuple>

namespace fennick::test {

ViewFixture::ViewFixture() : view(std::make_unique<ContentView>())
{
    view->resize(560, 880);
    view->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
}

ViewFixture::~ViewFixture()
{
    // A run still under way must not outlive the directory it writes into.
    view.reset();
    QThreadPool::globalInstance()->waitForDone();
}

template <typename DragEvent>
bool sendDrag(ContentView& view, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    DragEvent event(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // A drop goes straight to the widget, as the window hands it over at the end of a real drag:
    // outside one, QApplication does not deliver it at all.
    if constexpr (std::is_same_v<DragEvent, QDropEvent>) {
        static_cast<QObject&>(view).event(&event);
    } else {
        QApplication::sendEvent(&view, &event);
    }
    return event.isAccepted();
}
template bool sendDrag<QDragEnterEvent>(ContentView&, const QList<QUrl>&);
template bool sendDrag<QDropEvent>(ContentView&, const QList<QUrl>&);

void startRun(ContentView& view, const QUrl& destination)
{
    view.setSaveFileChooser([destination](QWidget*, const QString&) { return destination; });
    view.startConversion();
}

void convertTo(ContentView& view, const QUrl& destination)
{
    startRun(view, destination);
    ASSERT_TRUE(runEnded(view));
}

void switchLocale(ContentView& view, const QLocale& locale)
{
    QLocale::setDefault(locale);
    QEvent change(QEvent::LocaleChange);
    QApplication::sendEvent(&view, &change);
}

bool sameState(const ContentState& a, const ContentState& b)
{
    const auto fields = [](const ContentState& s) {
        return std::tie(s.isImporterPresented, s.sourceURL, s.fileName, s.sampleRate, s.sourceFormat, s.errorMessage,
            s.targetRate, s.outputFormat, s.options, s.isConverting, s.conversionProgress, s.conversionMessage,
            s.lastSavedURL, s.isDropTargeted);
    };
    return fields(a) == fields(b);
}

LibsoxrGate::LibsoxrGate()
{
    setenv("FENNICK_LIBSOXR", FENNICK_GATED_SOXR, 1);
    // Stays loaded, as the binding keeps it for the life of the process.
    void* library = dlopen(FENNICK_GATED_SOXR, RTLD_NOW | RTLD_LOCAL);
    if (library != nullptr) shut_ = reinterpret_cast<void (*)(int)>(dlsym(library, "fennick_gate_shut"));
    if (shut_ == nullptr) throw std::runtime_error("cannot load " FENNICK_GATED_SOXR);
    shut_(1);
}

} // namespace fennick::test
