#pragma once

// Step 1: the chosen file, its sample rate, format, channels, duration and size, and the
// "Choose…" button.

#include "ContentState.h"
#include "FormParts.h"

class QFormLayout;
class QLabel;
class QPushButton;

namespace fennick {

class SourceSection : public SectionBox {
    Q_OBJECT
public:
    explicit SourceSection(QWidget* parent = nullptr);

    void render(const ContentState& state);

    QPushButton* chooseButton() const { return chooseButton_; }
    QLabel* levelValue() const { return levelValue_; }
    QLabel* notCarriedLabel() const { return notCarriedLabel_; }

signals:
    void chooseRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void elideFileName(); // in the middle, so that both the start and the extension show
    QString fileName_; // whole, as last rendered
    QFormLayout* form_;
    QLabel* fileNameLabel_;
    QPushButton* chooseButton_;
    QLabel* sampleRateValue_;
    QLabel* formatValue_;
    QLabel* metadataValue_;
    QLabel* notCarriedLabel_; // under the metadata: what the chosen type will leave out
    QLabel* channelsValue_;
    QLabel* durationValue_;
    QLabel* sizeValue_;
    QLabel* levelValue_; // loudness and peaks, once measured
    int levelRow_ = -1;
    int detailRows_[3] = {-1, -1, -1}; // channels, duration, size
    QLabel* noteLabel_; // under the format: what is wrong with the file's length
    int sampleRateRow_ = -1;
    int formatRow_ = -1;
    int noteRow_ = -1;
    int metadataRow_ = -1;
    int notCarriedRow_ = -1;
};

} // namespace fennick
