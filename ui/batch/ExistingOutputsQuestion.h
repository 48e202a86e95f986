#pragma once

// The batch window's one question: some outputs of a run exist already. Behind a plain function,
// as the file dialogs are, so that tests answer it without a modal box.

#include <QStringList>

#include <functional>

class QWidget;

namespace fennick {

enum class ExistingOutputsAnswer { replace, skip, cancel };

// Asked once before a run when some outputs exist already; `outputs` are their paths.
using ExistingOutputsQuestion = std::function<ExistingOutputsAnswer(QWidget* parent, const QStringList& outputs)>;

// "N output files exist already." with Replace, Skip (the default) and Cancel.
ExistingOutputsAnswer askAboutExistingOutputs(QWidget* parent, const QStringList& outputs);

} // namespace fennick
