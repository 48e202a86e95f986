#include "FormParts.h"

#include "TextStyles.h"

#include <QEvent>
#include <QFormLayout>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionGroupBox>
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
    // Any height the form gives beyond what the wrapped text needs goes below the pair, so
    // the help text stays right under its control.
    layout->addStretch(1);
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
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    const QRect title = style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
    const QSize size = accessory_->sizeHint();
    const QRect contents = contentsRect();
    const int right = layout() ? contents.right() - layout()->contentsMargins().right() : contents.right();
    accessory_->setGeometry(
        right - size.width() + 1, title.center().y() - size.height() / 2, size.width(), size.height());
}

} // namespace fennick
