#include "widgets/parameterundo.h"

#include "widgets/currentmodel.h"
#include "widgets/windowset.h"

#include <QUndoStack>

namespace cleftsim {

namespace {

int &changesUnderWay()
{
    static int depth = 0;
    return depth;
}

std::function<void(const ParameterSnapshot &)> &applier()
{
    static std::function<void(const ParameterSnapshot &)> apply;
    return apply;
}

void applySnapshot(const ParameterSnapshot &snapshot)
{
    ParameterChangeScope scope;
    if (applier()) {
        applier()(snapshot);
        return;
    }
    model().LPI = snapshot.initial;
    for (EditorLink *editor : windows().editors)
        if (editor)
            editor->restoreFrom(snapshot.current);
}

} // namespace

bool operator==(const ParameterSnapshot &a, const ParameterSnapshot &b)
{
    return a.initial == b.initial && a.current == b.current;
}

ParameterSnapshot currentSnapshot()
{
    return {model().LPI, model().LPC};
}

QUndoStack &parameterUndo()
{
    static QUndoStack *stack = [] {
        auto *s = new QUndoStack(&modelChanges());
        // An edit typed by hand: the history before it is no longer the way back.
        QObject::connect(&modelChanges(), &ModelChanges::parameterChanged, s, [s] {
            if (changesUnderWay() == 0)
                s->clear();
        });
        return s;
    }();
    return *stack;
}

void recordParameterChange(const QString &text, const ParameterSnapshot &before)
{
    const ParameterSnapshot after = currentSnapshot();
    if (after == before)
        return;
    parameterUndo().push(new ParameterChange(text, before, after));
}

void setSnapshotApplier(std::function<void(const ParameterSnapshot &)> apply)
{
    applier() = std::move(apply);
}

ParameterChangeScope::ParameterChangeScope()
{
    ++changesUnderWay();
}

ParameterChangeScope::~ParameterChangeScope()
{
    --changesUnderWay();
}

ParameterChange::ParameterChange(
    const QString &text, const ParameterSnapshot &before, const ParameterSnapshot &after)
    : QUndoCommand(text)
    , m_before(before)
    , m_after(after)
{
}

void ParameterChange::undo()
{
    applySnapshot(m_before);
}

void ParameterChange::redo()
{
    if (m_made) {
        m_made = false;
        return;
    }
    applySnapshot(m_after);
}

} // namespace cleftsim
