#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace cleftsim {

// Creates a label of an editor window at its layout place, with its layout
// name as object name, sized to its text. The label is transparent, so it
// may lie over a picture.
QLabel *addLabel(
    QWidget *parent, const QString &objectName, const QString &text, int x, int y, const QFont &font);

// Writes text into the label only if it differs, so that calling this from a
// paint handler never asks for another paint; resizes the label to the text.
// Returns whether the text changed.
bool setLabelText(QLabel *label, const QString &text);

// Writes text into a right-aligned label whose right edge stays at x = right
// [pixels of the parent], so a longer text grows to the left.
void setRightAlignedText(QLabel *label, int right, const QString &text);

// Gives a label standing on a picture the ink that reads on the picture's
// background (black on a light one, white on a dark one), in every state of
// the window, whatever the window's palette says of text.
void setInkOn(QLabel *label, const QColor &background);

// Gives a control a hint of two lines.
void setTwoLineHint(QWidget *control, const QString &first, const QString &second);

// The condensed face of the grey labels over the electrical scheme, 13 pixels high.
QFont overlayFont();

} // namespace cleftsim
