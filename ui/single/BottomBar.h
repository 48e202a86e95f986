#pragma once

// The row under the settings: the state of the current or last run at the leading edge and
// the Convert button at the trailing edge.

#include "ContentState.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace fennick {

class MessageLabel;

class BottomBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kProgressBarWidth = 160;
    static constexpr int kProgressSteps = 10000;

    using Status = ContentState::RunLine;

    explicit BottomBar(QWidget* parent = nullptr);

    void render(const ContentState& state);
    Status status() const { return status_; }

    QPushButton* convertButton() const { return convertButton_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QLabel* percentageLabel() const { return percentageLabel_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* showInFolderButton() const { return showInFolderButton_; }
    MessageLabel* errorLine() const { return errorLine_; }
    MessageLabel* messageLine() const { return messageLine_; }
    MessageLabel* warningLine() const { return warningLine_; }
    MessageLabel* levelLine() const { return levelLine_; }

signals:
    void convertRequested();
    void cancelRequested();
    void showInFolderRequested();

private:
    Status status_ = Status::empty;
    QWidget* statusArea_;
    QWidget* progressPage_;
    QProgressBar* progressBar_;
    QLabel* percentageLabel_;
    QPushButton* cancelButton_;
    MessageLabel* errorLine_;
    QWidget* resultPage_;
    MessageLabel* messageLine_;
    MessageLabel* warningLine_;
    MessageLabel* levelLine_;
    QPushButton* showInFolderButton_;
    QPushButton* convertButton_;
};

} // namespace fennick
