#include "UiTestSupport.h"

#include "ConversionJob.h"
#include "FilterMeasurement.h"
#include "TextStyles.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>

#include <dlfcn.h>

#include <fstream>

namespace fennick::test {

namespace {

void (*gateShut)(int) = nullptr;
int (*gateHeld)() = nullptr;

// Binds the gated stand-in before the first run of the process, as the binding does once.
void bindGatedLibsoxr()
{
    if (gateShut != nullptr) return;
    ::setenv("FENNICK_LIBSOXR", FENNICK_GATED_SOXR, 1);
    void* library = dlopen(FENNICK_GATED_SOXR, RTLD_NOW | RTLD_LOCAL);
    if (library != nullptr) gateShut = reinterpret_cast<void (*)(int)>(dlsym(library, "fennick_gate_shut"));
    if (library != nullptr) gateHeld = reinterpret_cast<int (*)()>(dlsym(library, "fennick_gate_held"));
    if (gateShut == nullptr || gateHeld == nullptr) throw std::runtime_error("cannot load " FENNICK_GATED_SOXR);
}

template <typename DragEvent> bool sendDrag(QWidget& view, const QList<QUrl>& urls)
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

QString styled(const QWidget* widget, const QString& text)
{
    const QColor color = widget->palette().color(widget->foregroundRole());
    if (color == errorTextColor()) return '!' + text;
    if (color == warningTextColor()) return text + " (amber)";
    return color == secondaryTextColor(widget) ? text + " (dimmed)" : text;
}

} // namespace

ViewFixture::ViewFixture()
{
    bindGatedLibsoxr();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    view = std::make_unique<ContentView>();
    view->resize(560, 880);
    view->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
}

ViewFixture::~ViewFixture()
{
    // A run still under way must not outlive the directory it writes into.
    view.reset();
    gateShut(0);
    conversionPool().waitForDone();
    filterMeasurementPool().waitForDone();
}

QUrl ViewFixture::audioFile(const std::string& name, const AudioSpec& spec, std::int64_t frames)
{
    writeAudioFile(dir / name, spec, frames, sine(440.0, spec.sampleRate));
    return url(name);
}

QUrl ViewFixture::textFile(const std::string& name)
{
    std::ofstream(dir / name) << "not audio at all\n";
    return url(name);
}

void settleFilterPlot()
{
    do {
        filterMeasurementPool().waitForDone();
        QCoreApplication::processEvents(); // each result may start the next, coalesced request
    } while (filterMeasurementPool().activeThreadCount() > 0);
}

LibsoxrGate::LibsoxrGate()
{
    bindGatedLibsoxr();
    gateShut(1);
}

void LibsoxrGate::open() { gateShut(0); }

bool LibsoxrGate::holds(int calls) const
{
    return waitUntil([calls] { return gateHeld() == calls; });
}

QString screen(const ContentView& view)
{
    const auto* name = view.findChild<QLabel*>(QStringLiteral("fileName"));
    QStringList shown{styled(name, name->text())};
    for (const char* field : {"sampleRateValue", "formatValue", "sourceNote", "metadataValue"}) {
        const auto* value = view.findChild<QLabel*>(QString::fromLatin1(field));
        if (value->isVisibleTo(&view)) shown << styled(value, value->text());
    }
    const BottomBar& bar = *view.bottomBar();
    using Status = BottomBar::Status;
    const Status shownStatus = bar.status();
    QString status = shownStatus == Status::progress ? styled(bar.percentageLabel(), bar.percentageLabel()->text())
        : shownStatus == Status::error               ? styled(bar.errorLine(), bar.errorLine()->text())
        : shownStatus == Status::message             ? styled(bar.messageLine(), bar.messageLine()->text())
                                                     : QString();
    if (shownStatus == Status::message && bar.warningLine()->isVisible())
        status += " / " + styled(bar.warningLine(), bar.warningLine()->text());
    const QPushButton* convert = bar.convertButton();
    return shown.join(" | ") + " || " + status + " || "
        + (convert->isEnabled() ? convert->text() : '(' + convert->text() + ')');
}

bool drop(QWidget& view, const QList<QUrl>& urls) { return sendDrag<QDropEvent>(view, urls); }
bool dragEnter(QWidget& view, const QList<QUrl>& urls) { return sendDrag<QDragEnterEvent>(view, urls); }

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

void saveScreenshot(QWidget& view, const char* name)
{
    QDir().mkpath(QStringLiteral(FENNICK_SCREENSHOT_DIR));
    // Let the layout settle first, as it has by the time anyone looks at a real window.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QString file = QString::fromLatin1(name);
    // A run at QT_SCALE_FACTOR=2 keeps its pictures beside those of scale 1.
    if (view.devicePixelRatioF() > 1) file.replace(QStringLiteral(".png"), QStringLiteral("@2x.png"));
    EXPECT_TRUE(view.grab().save(QStringLiteral(FENNICK_SCREENSHOT_DIR "/") + file));
}

} // namespace fennick::test
