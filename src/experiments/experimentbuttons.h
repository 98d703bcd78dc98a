#pragma once

#include <QString>

class QPushButton;
class QToolButton;
class QWidget;

namespace cleftsim {

// The two pictures of the experiment windows' picture buttons.
enum class ButtonPicture {
    Save, // a diskette: write the records to a file
    Duplicate, // a cyan square, an arrow down, a red square: freeze the figure
};

// Makes the flat 26 x 26 picture button of an experiment window at (x, y),
// with its two states (normal, disabled) and the hint shown on hover (none
// when empty). The button starts disabled.
QToolButton *makePictureButton(
    const QString &objectName, ButtonPicture picture, int x, int y, const QString &hint, QWidget *parent);

// Makes a 60 x 26 push button of an experiment window (Run, Clear, Break)
// at (x, y), its caption in the bold window font.
QPushButton *makeTextButton(const QString &objectName, const QString &text, int x, int y, QWidget *parent);

} // namespace cleftsim
