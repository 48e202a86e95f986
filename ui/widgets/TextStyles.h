#pragma once

// The few text styles the window uses, on top of the platform's own fonts and palette.

#include <QColor>
#include <QFont>

class QWidget;

namespace fennick {

// Help texts and footers.
QFont captionFont(const QFont& body);
// Status lines in the bottom bar: a little smaller than body text.
QFont calloutFont(const QFont& body);
// The same fonts, set on `widget` and kept in proportion to its parent's as that changes.
void setCaptionFont(QWidget* widget);
void setCalloutFont(QWidget* widget);

// Dimmed foreground (the placeholder colour of the palette around it, followed through palette
// changes) or, with false, the inherited one.
void setSecondaryStyle(QWidget* widget, bool secondary = true);
QColor secondaryTextColor(const QWidget* widget);

// Foreground of error lines.
QColor errorTextColor();
// A warning that does not make the run a failure: amber.
QColor warningTextColor();
void setWarningStyle(QWidget* widget);
void setErrorStyle(QWidget* widget);

} // namespace fennick
