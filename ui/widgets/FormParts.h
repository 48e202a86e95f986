#pragma once

// Small pieces shared by the window's sections.

#include <QGroupBox>
#include <QList>
#include <QString>

#include <QLabel>

class QFormLayout;
class QLayout;

namespace fennick {

// A word-wrapped label whose size hints follow the width it was given. QLabel's own hints
// assume some other width, and so more lines than the text needs; in a scroll area those win
// over the height for the actual width and leave gaps under every paragraph.
class WrappedLabel : public QLabel {
    Q_OBJECT
public:
    explicit WrappedLabel(const QString& text, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Never, whatever QLabel makes of its size policy on each new text or font: the hints above
    // already answer for the current width, and a layout asking both stacks up gaps.
    bool hasHeightForWidth() const override { return false; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QSize heightForCurrentWidth(QSize size) const;
};

// Explanation under a control: caption font, dimmed, wrapped over as many lines as it needs.
QLabel* makeHelpText(const QString& text, QWidget* parent = nullptr);

// A control with its help text under it, left-aligned, 2 px apart.
QWidget* makeControlGroup(QWidget* control, QLabel* help, QWidget* parent = nullptr);
// The same as a layout, for a labelled row: the control stays a sibling of its label, which is
// how assistive technology on Linux finds a picker's name (QComboBox reports none of its own).
QLayout* makeControlColumn(QWidget* control, QLabel* help);

// A form row whose label is the buddy of `control`, so that assistive technology announces it
// and its mnemonic focuses it.
QLabel* addLabelledRow(QFormLayout* form, const QString& text, QWidget* field, QWidget* control);
QLabel* addLabelledRow(QFormLayout* form, const QString& text, QLayout* field, QWidget* control);

// Gives the label column of every form the width of the widest label, so that the controls of
// all sections line up.
void alignLabelColumns(const QList<QFormLayout*>& forms);

// The layout every section's form uses.
QFormLayout* makeSectionForm(QWidget* parent);

// A titled section with room for one widget (a small button) at the trailing end of its first row,
// just under the header.
class SectionBox : public QGroupBox {
    Q_OBJECT
public:
    explicit SectionBox(const QString& title, QWidget* parent = nullptr);
    void setHeaderAccessory(QWidget* accessory);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void placeAccessory();
    QWidget* accessory_ = nullptr;
};

} // namespace fennick
