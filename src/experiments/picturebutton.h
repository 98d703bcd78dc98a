#pragma once

#include <QImage>

class QToolButton;
class QWidget;

namespace cleftsim {

// The two pictures of the experiment windows' picture buttons.
enum class ButtonPicture {
    Save, // a diskette: write the records to a file
    Duplicate, // a cyan square, an arrow down, a red square: freeze the figure
};

// Draws the 16 x 16 picture of a button, in colour or, for a disabled
// button, in grey.
QImage buttonPicture(ButtonPicture picture, bool enabled);

// Makes the flat 26 x 26 picture button of an experiment window at (x, y),
// with its two states (normal, disabled) and the hint shown on hover (none
// when empty). The button starts disabled.
QToolButton *makePictureButton(
    const QString &objectName, ButtonPicture picture, int x, int y, const QString &hint, QWidget *parent);

} // namespace cleftsim
