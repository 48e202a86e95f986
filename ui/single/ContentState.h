#pragma once

// Everything the main window knows, in one plain value, and what a run's outcome does to it.
// ContentView owns one and redraws from it after every change; only the main thread reads or
// writes it.

#include "FennickEngine.h"
#include "FilterView.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

namespace fennick {

struct ContentState {
    std::optional<QUrl> sourceURL; // the file that was read successfully
    std::optional<QString> fileName; // last chosen file, also when reading it failed
    std::optional<double> sampleRate; // hertz, as stored in the file
    std::optional<QString> sourceFormat; // e.g. "24-bit integer"
    std::optional<QString> sourceMetadata; // what is carried across, e.g. "Broadcast WAV, iXML" or "None"
    MetadataContents sourceContents; // the same, item by item, for what the chosen type leaves out
    QString sourceNote; // what is wrong with the file's length; empty for a sound file
    std::optional<QString> sourceChannels; // the count and the layout's name: "6 · 5.1"
    std::optional<double> sourceSeconds; // duration
    std::optional<qint64> sourceBytes; // the file's size
    std::int64_t sourceFrames = 0;
    int sourceChannelCount = 0;
    std::optional<QString> errorMessage;
    ConversionSettings settings; // what steps 2 and 3 edit
    bool isConverting = false;
    double conversionProgress = 0.0; // fraction of the source read, 0…1
    std::optional<QString> conversionMessage;
    std::optional<QString> conversionWarning; // what clipped or was damaged, under the success line
    std::optional<QString> conversionLevel; // the saved output's loudness and peaks, and the gain applied
    // The source's loudness and peaks: "Measuring…" until its measurement comes back.
    std::optional<QString> sourceLevel;
    std::optional<QUrl> lastSavedURL; // destination of the last successful conversion
    std::optional<QUrl> lastSavedSourceURL; // and its source
    bool lastRunSaved = false; // the success line is about a saved file, which can be shown in its folder
    bool isDropTargeted = false;
    // Step 3's plot: the newest measurement that came back (shared, as it is large and never
    // changes), whether it failed, and which of its views is shown.
    std::shared_ptr<const FilterResponse> filterResponse;
    std::optional<QString> filterError;
    FilterView filterView = FilterView::magnitude;

    // Which of its four things the bottom bar's status area shows.
    enum class RunLine { empty, progress, error, message };

    bool hasSource() const { return sourceURL.has_value(); }
    bool canConvert() const { return hasSource() && !isConverting; }
    // The run under way before a failure, a failure before the last run's outcome.
    RunLine runLine() const;
    friend bool operator==(const ContentState&, const ContentState&) = default;
};

// About how large the output of the loaded source will be with the settings: its samples at the
// new rate and width, and a header; nothing without a source.
std::optional<qint64> estimatedOutputBytes(const ContentState& state);

// "Saved NAME (VERSION)" into conversionMessage, with the bound libsoxr's version text, the output's
// level into conversionLevel, and what clipped, was not a number or was missing into
// conversionWarning; then the run is over.
// errorMessage is left alone, so a load that failed during the run stays in front.
void conversionSaved(ContentState& state, const QUrl& destination, const ConversionReport& report);

// The run was stopped: "Conversion cancelled." and the run is over at once.
void conversionCancelled(ContentState& state);

// "Conversion failed: DESCRIPTION" into errorMessage; then the run is over.
void conversionFailed(ContentState& state, const QString& description);

} // namespace fennick
