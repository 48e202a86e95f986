#include "FormParts.h"

#include "TextStyles.h"

#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QVBoxLayout>

namespace fennick {

QLabel* makeHelpText(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(captionFont(label->font()));
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    setSecondaryStyle(label);
    return label;
}

QWidget* makeControlGroup(QWidget* control, QLabel* help, QWidget* parent)
{
    auto* group = new QWidget(parent);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(control, 0, Qt::AlignLeft);
    layout->addWidget(help);
    setSecondaryStyle(help); // again, now that it inherits from the group
    return group;
}

QLabel* addLabelledRow(QFormLayout* form, const QString& text, QWidget* field, QWidget* control)
{
    auto* label = new QLabel(text);
    label->setBuddy(control);
    control->setAccessibleName(text);
    form->addRow(label, field);
    return label;
}

QFormLayout* makeSectionForm(QWidget* parent)
{
    auto* form = new QFormLayout(parent);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
    form->setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(10);
    return form;
}

SectionBox::SectionBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

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
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    const QRect title = style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
    const QSize size = accessory_->sizeHint();
    const QRect contents = contentsRect();
    const int right = layout() ? contents.right() - layout()->contentsMargins().right() : contents.right();
    accessory_->setGeometry(right - size.width() + 1, title.center().y() - size.height() / 2, size.width(), size.height());
}

} // namespace fennick
