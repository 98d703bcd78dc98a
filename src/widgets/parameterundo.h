#pragma once

#include "model/parameterset.h"

#include <QString>
#include <QUndoCommand>

#include <functional>

class QUndoStack;

namespace cleftsim {

// The parameters as the main window shows them: the initial set (the state
// last stored or restored) and the current one.
struct ParameterSnapshot {
    ParameterSet initial;
    ParameterSet current;
};

bool operator==(const ParameterSnapshot &a, const ParameterSnapshot &b);

// The snapshot of the model state now.
ParameterSnapshot currentSnapshot();

// The one history of the changes that Edit > Undo takes back: a fit's Apply
// and a stored state's Restore. A value typed into an editor afterwards
// ends it, so that an Undo never takes away an edit it does not name.
QUndoStack &parameterUndo();

// A change of the parameters from `before` to what the model holds now,
// already made; no entry when nothing changed.
void recordParameterChange(const QString &text, const ParameterSnapshot &before);

// Puts a snapshot in place: the main window sets how (its panel, its list
// and the editors follow); without one, the initial set is taken and the
// editors are written with the current set.
void setSnapshotApplier(std::function<void(const ParameterSnapshot &)> applier);

// While one lives, changes of the parameters are the making or taking back
// of a recorded change, not edits that end the history.
class ParameterChangeScope {
public:
    ParameterChangeScope();
    ~ParameterChangeScope();
    ParameterChangeScope(const ParameterChangeScope &) = delete;
    ParameterChangeScope &operator=(const ParameterChangeScope &) = delete;
};

// An entry of the history: the snapshots on either side of the change.
class ParameterChange : public QUndoCommand {
public:
    ParameterChange(const QString &text, const ParameterSnapshot &before, const ParameterSnapshot &after);
    void undo() override;
    void redo() override;

private:
    ParameterSnapshot m_before;
    ParameterSnapshot m_after;
    bool m_made = true; // the change was made before it was recorded
};

} // namespace cleftsim
