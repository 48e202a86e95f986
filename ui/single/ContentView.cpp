#include "ContentView.h"

#include "BottomBar.h"
#include "ConversionJob.h"
#include "DestinationSection.h"
#include "DropHighlight.h"
#include "FilterPlot.h"
#include "FormParts.h"
#include "LevelControls.h"
#include "LevelText.h"
#include "OutputTypeChoice.h"
#include "QualitySection.h"
#include "SourceFile.h"
#include "SourceMeter.h"
#include "SourceSection.h"
#include "WheelGuard.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QKeyEvent>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include <utility>

namespace fennick {

ContentView::ContentView(QWidget* parent)
    : QWidget(parent), openFileChooser_([](QWidget* dialogParent) { return chooseFileToOpen(dialogParent); }),
      saveFileChooser_(chooseFileToSave)
{
    setObjectName(QStringLiteral("contentView"));
    // Small enough for a 1024×600 screen at scale 1 and 1600×1000 at scale 2: the steps scroll,
    // the bottom bar stays.
    setMinimumSize(480, 360);
    setAcceptDrops(true);

    auto* form = new QWidget;
    form->setObjectName(QStringLiteral("form"));
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(16, 12, 16, 12);
    formLayout->setSpacing(10);
    sourceSection_ = new SourceSection(form);
    destinationSection_ = new DestinationSection(form);
    qualitySection_ = new QualitySection(form);
    formLayout->addWidget(sourceSection_);
    formLayout->addWidget(destinationSection_);
    formLayout->addWidget(qualitySection_, 1); // its plot takes the height to spare

    scrollArea_ = new QScrollArea(this);
    scrollArea_->setObjectName(QStringLiteral("scrollArea"));
    scrollArea_->setWidget(form);
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setFrameShape(QFrame::NoFrame);
    // Only when large fonts make the form wider than the window: never cut off without a way to it.
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Not a stop of its own in the Tab chain: focus goes straight to the controls, and the
    // area scrolls to whichever has it.
    scrollArea_->setFocusPolicy(Qt::NoFocus);

    auto* divider = new QFrame(this);
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    bottomBar_ = new BottomBar(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scrollArea_, 1);
    layout->addWidget(divider);
    layout->addWidget(bottomBar_);

    dropHighlight_ = new DropHighlight(this);

    connect(sourceSection_, &SourceSection::chooseRequested, this, &ContentView::chooseSourceFile);
    const auto editSettings = [this](const ConversionSettings& settings) {
        state_.settings = settings;
        render();
    };
    connect(destinationSection_, &DestinationSection::settingsEdited, this, editSettings);
    connect(qualitySection_, &QualitySection::settingsEdited, this, editSettings);
    connect(qualitySection_, &QualitySection::filterViewEdited, this, [this](FilterView view) {
        state_.filterView = view;
        render();
    });
    filterMeasurement_ = new FilterMeasurement(this);
    connect(
        filterMeasurement_, &FilterMeasurement::measured, this, [this](std::shared_ptr<const FilterResponse> response) {
            state_.filterResponse = std::move(response);
            state_.filterError.reset();
            render();
        });
    connect(filterMeasurement_, &FilterMeasurement::failed, this, [this](const QString& description) {
        state_.filterResponse.reset();
        state_.filterError = description;
        render();
    });
    // The source's level comes back on its own time; only the file still shown takes it.
    sourceMeter_ = new SourceMeter(this);
    connect(sourceMeter_, &SourceMeter::measured, this, [this](const QUrl& source, const LevelFigures& figures) {
        if (state_.sourceURL != source) return;
        state_.sourceLevel = levelLine(figures);
        render();
    });
    connect(sourceMeter_, &SourceMeter::failed, this, [this](const QUrl& source, const QString& description) {
        if (state_.sourceURL != source) return;
        state_.sourceLevel = QStringLiteral("Not measured: ") + description;
        render();
    });
    connect(bottomBar_, &BottomBar::convertRequested, this, &ContentView::startConversion);
    connect(bottomBar_, &BottomBar::cancelRequested, this, &ContentView::cancelConversion);
    folderRevealer_ = [](const QUrl& folder) { QDesktopServices::openUrl(folder); };
    connect(bottomBar_, &BottomBar::showInFolderRequested, this, [this] {
        if (state_.lastSavedURL && state_.lastSavedURL->isLocalFile())
            folderRevealer_(QUrl::fromLocalFile(QFileInfo(state_.lastSavedURL->toLocalFile()).absolutePath()));
    });

    guardWheel(form, scrollArea_);
    setUpTabOrder();
    render();
    // After the first render, so that the bandwidth label has its text.
    alignLabelColumns({static_cast<QFormLayout*>(sourceSection_->layout()),
        static_cast<QFormLayout*>(destinationSection_->layout()), qualitySection_->form()});
}

// A closed window takes its run with it: it stops within one block and leaves nothing behind.
ContentView::~ContentView()
{
    if (runStop_) runStop_->request_stop();
}

void ContentView::setUpTabOrder()
{
    const QList<QWidget*> chain{
        sourceSection_->chooseButton(),
        destinationSection_->typePicker(),
        destinationSection_->sampleRatePicker(),
        destinationSection_->formatPicker(),
        destinationSection_->ditherPicker(),
        destinationSection_->levelControls()->gainField(),
        destinationSection_->levelControls()->ceilingToggle(),
        destinationSection_->levelControls()->ceilingField(),
        destinationSection_->levelControls()->ceilingKindPicker(),
        destinationSection_->levelControls()->loudnessToggle(),
        destinationSection_->levelControls()->loudnessField(),
        qualitySection_->resetButton(),
        qualitySection_->qualityPicker(),
        qualitySection_->phasePicker(),
        qualitySection_->rolloffPicker(),
        qualitySection_->bandwidthSlider(),
        qualitySection_->steepFilterToggle(),
        qualitySection_->doublePrecisionToggle(),
        qualitySection_->filterPlot()->viewPicker(),
        bottomBar_->cancelButton(),
        bottomBar_->showInFolderButton(),
        bottomBar_->convertButton(),
    };
    for (qsizetype i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

void ContentView::setOpenFileChooser(OpenFileChooser chooser) { openFileChooser_ = std::move(chooser); }

void ContentView::setSaveFileChooser(SaveFileChooser chooser) { saveFileChooser_ = std::move(chooser); }

void ContentView::setSettings(const ConversionSettings& settings)
{
    if (state_.isConverting) return;
    state_.settings = settings;
    render();
}

void ContentView::loadSourceFile(const QUrl& url)
{
    fennick::loadSourceFile(state_, url);
    state_.sourceLevel.reset();
    sourceMeter_->cancel();
    if (state_.hasSource()) {
        state_.sourceLevel = QStringLiteral("Measuring\u2026");
        sourceMeter_->request(*state_.sourceURL);
    }
    render();
    // The next thing to do is to convert it: Return does, unless the user has moved on elsewhere.
    QWidget* focused = focusWidget();
    if (state_.hasSource() && (focused == nullptr || focused == sourceSection_->chooseButton()))
        bottomBar_->convertButton()->setFocus();
}

void ContentView::chooseSourceFile()
{
    if (state_.isConverting) return;
    const OpenResult result = openFileChooser_(this);
    if (const auto* url = std::get_if<QUrl>(&result)) {
        loadSourceFile(*url);
        return;
    }
    if (const auto* failure = std::get_if<OpenFailed>(&result)) state_.errorMessage = failure->description;
    render();
}

bool ContentView::handleDrop(const QList<QUrl>& urls)
{
    if (state_.isConverting) return false;
    const std::optional<QUrl> url = firstAudioUrl(urls);
    if (!url) return false;
    loadSourceFile(*url);
    return true;
}

void ContentView::setDropTargeted(bool targeted)
{
    if (state_.isDropTargeted == targeted) return;
    state_.isDropTargeted = targeted;
    render();
}

void ContentView::startConversion()
{
    if (!state_.sourceURL || state_.isConverting) return;
    const std::optional<QUrl> destination
        = saveFileChooser_(this, defaultOutputFileName(*state_.sourceURL, state_.settings));
    if (!destination || !state_.sourceURL) return;
    // A name typed with another type's extension is written as that type, as the converter does.
    if (const std::optional<OutputType> named = outputTypeOf(localPath(*destination));
        named && *named != state_.settings.type) {
        if (const std::optional<OutputFormat> givenUp = chooseOutputType(state_.settings, *named))
            destinationSection_->formatGaveWay(*givenUp);
    }

    const ConversionRequest request{*state_.sourceURL, *destination, state_.settings};
    state_.isConverting = true;
    state_.conversionProgress = 0.0;
    state_.conversionMessage.reset();
    state_.conversionWarning.reset();
    state_.errorMessage.reset();
    sourceMeter_->pause();
    render();

    // The job may outlive this window, or be cancelled; it reaches the window only through this
    // weak handle, on the main thread, and its reports are dropped once the window is gone or has
    // moved on to another run.
    const QPointer<ContentView> view(this);
    const std::uint64_t run = ++runNumber_;
    const auto current = [view, run] { return view && view->runNumber_ == run; };
    runStop_ = startConversionJob(request,
        {
            [view, current](double fraction) {
                if (!current()) return;
                view->state_.conversionProgress = fraction;
                view->render();
            },
            [view, current, destination = *destination](const ConversionReport& report) {
                if (!current()) return;
                view->runStop_.reset();
                conversionSaved(view->state_, destination, report);
                view->sourceMeter_->resume();
                view->render();
            },
            [view, current](const QString& description) {
                if (!current()) return;
                view->runStop_.reset();
                conversionFailed(view->state_, description);
                view->sourceMeter_->resume();
                view->render();
            },
        });
}

void ContentView::cancelConversion()
{
    if (!state_.isConverting || !runStop_) return;
    runStop_->request_stop();
    runStop_.reset();
    ++runNumber_;
    conversionCancelled(state_);
    sourceMeter_->resume();
    render();
}

// The plot follows the rates and the filter's settings; without a file, as for 44.1 kHz in.
void ContentView::requestFilterMeasurement()
{
    FilterRequest request{state_.sampleRate.value_or(44100.0), state_.settings.targetRate, state_.settings.options};
    request.options.dither = true; // the measurement has no dither; no new run for the toggle
    if (request == lastFilterRequest_) return;
    lastFilterRequest_ = request;
    filterMeasurement_->request(request);
}

void ContentView::render()
{
    requestFilterMeasurement();
    const bool hasSource = state_.hasSource();
    sourceSection_->render(state_);
    // What is shown is what the run writes: nothing that would change it is editable meanwhile.
    destinationSection_->render(state_.settings);
    const std::optional<qint64> estimate = estimatedOutputBytes(state_);
    destinationSection_->setEstimatedSize(estimate
            // FLAC compresses by an amount the audio decides: the size without is its most.
            ? (state_.settings.type == OutputType::flac ? QStringLiteral("Up to about ") : QStringLiteral("About "))
                + QLocale().formattedDataSize(*estimate, 1, QLocale::DataSizeSIFormat)
            : QString());
    destinationSection_->setEnabled(hasSource && !state_.isConverting);
    qualitySection_->render(state_.settings, !state_.isConverting);
    qualitySection_->filterPlot()->render(
        state_.filterResponse, state_.filterError, state_.filterView, state_.settings);
    qualitySection_->setEnabled(hasSource);
    bottomBar_->render(state_);
    dropHighlight_->setVisible(state_.isDropTargeted);
    if (state_.isDropTargeted) dropHighlight_->raise();
    emit stateChanged();
}

void ContentView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasUrls() || state_.isConverting) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropTargeted(true);
}

void ContentView::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls() && !state_.isConverting) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ContentView::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDropTargeted(false);
    event->accept();
}

void ContentView::dropEvent(QDropEvent* event)
{
    setDropTargeted(false);
    if (handleDrop(event->mimeData()->urls())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ContentView::keyPressEvent(QKeyEvent* event)
{
    // Return and Enter are the window's default action, unless another push button has focus
    // (that one takes them itself); a disabled Convert button ignores them like its click.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        QPushButton* convert = bottomBar_->convertButton();
        const auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        if (convert->isEnabled() && (focused == nullptr || focused == convert)) {
            convert->click();
            event->accept();
            return;
        }
    }
    if (event->key() == Qt::Key_Escape && state_.isConverting) {
        cancelConversion();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ContentView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LocaleChange) render();
    QWidget::changeEvent(event);
}

} // namespace fennick
