#include "UiTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>

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

QUrl ViewFixture::url(const std::string& name) const
{
    return QUrl::fromLocalFile(QString::fromStdString((dir / name).string()));
}

QUrl ViewFixture::audioFile(const std::string& name, const AudioSpec& spec, std::int64_t frames)
{
    writeAudioFile(dir / name, spec, frames, sine(440.0, spec.sampleRate));
    return url(name);
}

QUrl ViewFixture::textFile(const std::string& name, const std::string& bytes)
{
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return url(name);
}

namespace {

std::unique_ptr<QMimeData> urlData(const QList<QUrl>& urls)
{
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    return data;
}

} // namespace

bool dragEnter(ContentView& view, const QList<QUrl>& urls)
{
    const auto data = urlData(urls);
    QDragEnterEvent event(QPoint(100, 100), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
    return event.isAccepted();
}

void dragLeave(ContentView& view)
{
    QDragLeaveEvent event;
    QApplication::sendEvent(&view, &event);
}

bool drop(ContentView& view, const QList<QUrl>& urls)
{
    const auto data = urlData(urls);
    QDropEvent event(QPointF(100, 100), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    // Straight to the widget, as the window hands it over at the end of a real drag: outside a
    // drag QApplication does not deliver a drop at all.
    static_cast<QObject&>(view).event(&event);
    return event.isAccepted();
}

void choose(QComboBox* picker, int index)
{
    QTest::keyClick(picker, Qt::Key_Home);
    for (int i = 0; i < index; ++i) QTest::keyClick(picker, Qt::Key_Down);
}

void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center()); }

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) { return QTest::qWaitFor(condition, timeoutMs); }

void expectSameState(const ContentState& expected, const ContentState& actual)
{
    EXPECT_EQ(expected.isImporterPresented, actual.isImporterPresented);
    EXPECT_EQ(expected.sourceURL, actual.sourceURL);
    EXPECT_EQ(expected.fileName, actual.fileName);
    EXPECT_EQ(expected.sampleRate, actual.sampleRate);
    EXPECT_EQ(expected.sourceFormat, actual.sourceFormat);
    EXPECT_EQ(expected.errorMessage, actual.errorMessage);
    EXPECT_EQ(expected.targetRate, actual.targetRate);
    EXPECT_EQ(expected.outputFormat, actual.outputFormat);
    EXPECT_TRUE(expected.options == actual.options);
    EXPECT_EQ(expected.isConverting, actual.isConverting);
    EXPECT_EQ(expected.conversionProgress, actual.conversionProgress);
    EXPECT_EQ(expected.conversionMessage, actual.conversionMessage);
    EXPECT_EQ(expected.isDropTargeted, actual.isDropTargeted);
}

QColor textColor(const QWidget* widget) { return widget->palette().color(QPalette::Active, widget->foregroundRole()); }

void convertTo(ContentView& view, const QUrl& destination)
{
    view.setSaveFileChooser([destination](QWidget*, const QString&) { return destination; });
    view.startConversion();
    ASSERT_TRUE(waitUntil([&view] { return !view.isConverting(); }));
}

GatedLibsoxr::GatedLibsoxr()
{
    setenv("FENNICK_LIBSOXR", FENNICK_GATED_SOXR, 1);
    handle_ = dlopen(FENNICK_GATED_SOXR, RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) shut_ = reinterpret_cast<void (*)(int)>(dlsym(handle_, "fennick_gate_shut"));
}

GatedLibsoxr::~GatedLibsoxr()
{
    open(); // never leave a job waiting behind a test that ended
    if (handle_ != nullptr) dlclose(handle_);
}

void GatedLibsoxr::open()
{
    if (shut_ != nullptr) shut_(0);
}

} // namespace fennick::test
