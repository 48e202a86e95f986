#pragma once

// Small pieces shared by the window's sections.

#include <QGroupBox>
#include <QString>

class QFormLayout;
class QLabel;

namespace fennick {

// Explanation under a control: caption font, dimmed, wrapped over as many lines as it needs.
QLabel* makeHelpText(const QString& text, QWidget* parent = nullptr);

// A control with its help text under it, left-aligned, 2 px apart.
QWidget* makeControlGroup(QWidget* control, QLabel* help, QWidget* parent = nullptr);

// A form row whose label is the buddy of `control`, so that assistive technology announces it
// and its mnemonic focuses it.
QLabel* addLabelledRow(QFormLayout* form, const QString& text, QWidget* field, QWidget* control);

// The layout every section's form uses.
QFormLayout* makeSectionForm(QWidget* parent);

// A titled section with room for one widget (a small button) at the trailing end of its header.
class SectionBox : public QGroupBox {
    Q_OBJECT
public:
    explicit SectionBox(const QString& title, QWidget* parent = nullptr);
    void setHeaderAccessory(QWidget* accessory);
    QWidget* headerAccessory() const { return accessory_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void placeAccessory();
    QWidget* accessory_ = nullptr;
};

} // namespace fennick
