#pragma once

// Step 1: the chosen file, its sample rate and format, and the "Choose…" button.

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

signals:
    void chooseRequested();

private:
    QFormLayout* form_;
    QLabel* fileNameLabel_;
    QPushButton* chooseButton_;
    QLabel* sampleRateValue_;
    QLabel* formatValue_;
    QLabel* metadataValue_;
    QLabel* noteLabel_; // under the format: what is wrong with the file's length
    int sampleRateRow_ = -1;
    int formatRow_ = -1;
    int noteRow_ = -1;
    int metadataRow_ = -1;
};

} // namespace fennick
