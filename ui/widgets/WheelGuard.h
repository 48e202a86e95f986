#pragma once

// The wheel over a picker, slider or spin box that does not have focus scrolls the page around it
// and never changes the control's value: scrolling past a setting must not edit it.

class QAbstractScrollArea;
class QWidget;

namespace fennick {

// Guards every such control under `root`, now present, and takes them out of wheel focus. Their
// unfocused wheel goes to `page` (nothing scrolls when it is null).
void guardWheel(QWidget* root, QAbstractScrollArea* page);

} // namespace fennick
