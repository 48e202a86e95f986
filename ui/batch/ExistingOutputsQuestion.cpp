#include "ExistingOutputsQuestion.h"

#include <QMessageBox>
#include <QPushButton>

namespace fennick {

ExistingOutputsAnswer askAboutExistingOutputs(QWidget* parent, const QStringList& outputs)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Convert Several Files"),
        outputs.size() == 1 ? QStringLiteral("1 output file exists already.")
                            : QStringLiteral("%1 output files exist already.").arg(outputs.size()),
        QMessageBox::NoButton, parent);
    box.setInformativeText(QStringLiteral("Replace them, or skip those files?"));
    box.setDetailedText(outputs.join(QLatin1Char('\n')));
    QPushButton* replace = box.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
    QPushButton* skip = box.addButton(QStringLiteral("Skip"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(skip);
    box.exec();
    if (box.clickedButton() == replace) return ExistingOutputsAnswer::replace;
    if (box.clickedButton() == skip) return ExistingOutputsAnswer::skip;
    return ExistingOutputsAnswer::cancel;
}

} // namespace fennick
