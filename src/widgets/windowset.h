#pragma once

#include "model/parameterset.h"

#include <QObject>

#include <vector>

class QMdiArea;
class QWidget;

namespace cleftsim {

class ChildWindow;

// What the other windows ask of the main window.
class MainWindowLink {
public:
    virtual ~MainWindowLink() = default;
    // Stores LPC as a new state if it differs from LPI. Returns false when the
    // table of stored states is full (the error box has been shown then) and
    // the calling action must go no further.
    virtual bool Store() = 0;
    // The frame that holds the child windows and the frozen copies.
    virtual QMdiArea *frame() = 0;
};

// Model Configuration (window 0).
class ConfigLink {
public:
    virtual ~ConfigLink() = default;
    // The "background conductance" check box, which other windows ask.
    virtual bool backgroundChecked() const = 0;
    // Sets the box as the user would; a change runs the switch's handler.
    virtual void setBackgroundChecked(bool on) = 0;
};

// An editor window: Model Configuration and the three settings windows
// (windows 0 to 3).
class EditorLink {
public:
    virtual ~EditorLink() = default;
    // Writes the window's controls with the values of s as a user would (a
    // restore), so that its own change handling runs; the whole-number
    // editors take the values rounded.
    virtual void restoreFrom(const ParameterSet &s) = 0;
};

// The fixed child windows: Model Configuration, the three settings windows
// and the three experiments.
constexpr int FixedWindows = 7;

// The process-wide references through which the windows reach each other.
// A reference is null while its window does not exist (a test may build
// only some windows); callers skip what is not there.
struct WindowSet {
    MainWindowLink *csMainForm = nullptr;
    ConfigLink *csForm0 = nullptr;
    // The fixed child windows, by number (for placing and raising them).
    ChildWindow *forms[FixedWindows] = {};
    // Windows 0 to 3, which a restore writes in this order.
    EditorLink *editors[4] = {};

    // Enters a fixed child window under its number, with the links it offers.
    void add(int number, ChildWindow *form);
};

// Returns the window set of the program.
WindowSet &windows();

// Announces the accepted changes of the model to the windows. Each window
// connects when it is created and decides itself what a change of f means to
// it, so the windows hear of a change in the order they were created: the
// main window, Model Configuration, the three editors, the three experiments.
class ModelChanges : public QObject {
    Q_OBJECT
signals:
    // Field f of LPC has a new value. For BackgroundOn: the switch was turned,
    // which has also set Gb to 0.
    void parameterChanged(cleftsim::Param f);
};

// The one announcer of the program.
ModelChanges &modelChanges();

// Announces an accepted edit of f (or a turn of the switch).
void parameterAccepted(Param f);

// What a change of f means to the windows, by which each of them decides.
// The main window's rows that show it (the switch's change shows the Gb it
// reset too).
std::vector<Param> rowsShowing(Param f);
// Whether it clears the Records, the Is vs V2 and the Histograms figures, as
// the experiment table says (clearsFigures): every edit clears all three, but
// V2 leaves Is vs V2, which sweeps the clamp potential itself, and the switch
// clears only Is vs V2, framed anew.
bool clearsRecords(Param f);
bool clearsIsv(Param f);
bool clearsHistograms(Param f);
// Whether Scheme Settings recomputes its failure-rate row, and its chart
// (drawn only while the background conductance is on).
bool changesFailureLabel(Param f);
bool changesFailureChart(Param f);
// Whether Scheme Settings rewrites its total resistance and quantal
// conductance labels.
bool changesConductanceLabels(Param f);
// Whether the quanta preview of Subsynaptic Settings, which shows values of
// Scheme Settings, is drawn again.
bool changesQuantaPreview(Param f);

} // namespace cleftsim
