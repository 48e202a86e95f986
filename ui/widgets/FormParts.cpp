#include "FormParts.h"

#include "TextStyles.h"

#include <QEvent>
#include <QFormLayout>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace fennick {

WrappedLabel::WrappedLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QSize WrappedLabel::heightForCurrentWidth(QSize size) const
{
    // Until the layout has placed it, QLabel's guess is all there is.
    if (width() > 0 && testAttribute(Qt::WA_Resized)) size.setHeight(heightForWidth(width()));
    return size;
}

QSize WrappedLabel::sizeHint() const { return heightForCurrentWidth(QLabel::sizeHint()); }

QSize WrappedLabel::minimumSizeHint() const { return heightForCurrentWidth(QLabel::minimumSizeHint()); }

void WrappedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    // A new width may need another number of lines: let the layout ask again.
    if (event->oldSize().width() != event->size().width()) updateGeometry();
}

QLabel* makeHelpText(const QString& text, QWidget* parent)
{
    auto* label = new WrappedLabel(text, parent);
    setCaptionFont(label);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    setSecondaryStyle(label);
    return label;
}

QLayout* makeControlColumn(QWidget* control, QLabel* help)
{
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(control, 0, Qt::AlignLeft);
    layout->addWidget(help);
    // Any height the form gives beyond what the wrapped text needs goes below the pair, so
    // the help text stays right under its control.
    layout->addStretch(1);
    control->setAccessibleDescription(help->text());
    return layout;
}

QWidget* makeControlGroup(QWidget* control, QLabel* help, QWidget* parent)
{
    auto* group = new QWidget(parent);
    group->setLayout(makeControlColumn(control, help));
    return group;
}

namespace {

QLabel* makeBuddyLabel(const QString& text, QWidget* control)
{
    auto* label = new QLabel(text);
    label->setBuddy(control);
    control->setAccessibleName(QString(text).remove(QLatin1Char('&'))); // the name without its mnemonic
    return label;
}

} // namespace

QLabel* addLabelledRow(QFormLayout* form, const QString& text, QWidget* field, QWidget* control)
{
    QLabel* label = makeBuddyLabel(text, control);
    form->addRow(label, field);
    return label;
}

QLabel* addLabelledRow(QFormLayout* form, const QString& text, QLayout* field, QWidget* control)
{
    QLabel* label = makeBuddyLabel(text, control);
    form->addRow(label, field);
    return label;
}

void alignLabelColumns(const QList<QFormLayout*>& forms)
{
    QList<QWidget*> labels;
    int width = 0;
    for (QFormLayout* form : forms) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole);
            if (!item || !item->widget()) continue;
            labels << item->widget();
            width = std::max(width, item->widget()->sizeHint().width());
        }
    }
    for (QWidget* label : labels) label->setMinimumWidth(width);
}

QFormLayout* makeSectionForm(QWidget* parent)
{
    auto* form = new QFormLayout(parent);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
    form->setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(8);
    return form;
}

SectionBox::SectionBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) { }

void SectionBox::setHeaderAccessory(QWidget* accessory)
{
    accessory_ = accessory;
    accessory_->setParent(this);
    accessory_->show();
    placeAccessory();
}

void SectionBox::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    placeAccessory();
}

void SectionBox::changeEvent(QEvent* event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) placeAccessory();
}

void SectionBox::placeAccessory()
{
    if (!accessory_) return;
    // Inside the frame, level with the first row: in the header it would sit across the frame's
    // top edge, taller than the title.
    const QRect contents = layout() ? contentsRect().marginsRemoved(layout()->contentsMargins()) : contentsRect();
    const QSize size = accessory_->sizeHint();
    accessory_->setGeometry(contents.right() - size.width() + 1, contents.top(), size.width(), size.height());
}

} // namespace fennick
