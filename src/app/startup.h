#pragma once

#include <QColor>

#include <functional>
#include <memory>

class QApplication;

namespace cleftsim {

class MainWindow;

// The face colour every window and figure of the program is designed on.
inline const QColor ClassicButtonFace(192, 192, 192);
// The colour of disabled captions on that face.
inline const QColor ClassicDisabledText(128, 128, 128);

// Gives the application the classic look its windows are designed for: the
// Fusion style with silver button faces and window backgrounds, and grey
// disabled captions.
void applyClassicLook(QApplication &app);

// The button-face colour the toolkit ends up with.
QColor buttonFaceColour();

// Asks the user whether to go on with a non-standard colour set; true for Ignore.
using ColourQuestion = std::function<bool()>;
// The modal warning box "Warning" with the buttons Abort and Ignore.
bool askIgnoreColours();

// The colour check: a button face other than silver asks the question; the
// program goes on only if the answer is Ignore. Returns whether to go on.
bool colourCheck(const QColor &buttonFace, const ColourQuestion &askIgnore);

// The full stop as decimal separator for Qt and the C run-time, whatever the
// regional settings, and "CS" as the application title of message boxes.
void fixNumberFormat();
void setApplicationTitle();

// Creates the whole window set in its order of creation: the main window
// (which sets up the model state), Model Configuration, the three editors and
// the three experiments, then the About and Tutorial windows. The windows live
// as long as the returned main window.
std::unique_ptr<MainWindow> createWindowSet();

// The start-up after the toolkit is initialised: the colour check, the number
// format, the title, the window set. Returns null, with no window created,
// when the user ends the program at the colour check.
std::unique_ptr<MainWindow> startProgram(const QColor &buttonFace, const ColourQuestion &askIgnore);

// The program: start-up, the message loop until the main window closes.
int runApplication(int &argc, char **argv);

} // namespace cleftsim
