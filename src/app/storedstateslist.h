#pragma once

#include "model/parameterset.h"

#include <QObject>
#include <QString>

#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

namespace cleftsim {

// The stored states in the panel of the main window: their list (ListBox1),
// Restore with the name of the state it brings back (Label20) and Store.
// What the buttons do to the model is the main window's; the list shows it.
class StoredStatesList : public QObject {
    Q_OBJECT
public:
    // Builds the list and the buttons at the foot of the panel.
    StoredStatesList(QWidget *panel, QObject *parent);

    QListWidget *listBox() const { return m_listBox; }
    // Adds a state's entry at the end of the list.
    void add(const QString &name);
    // Makes the list the states of a session, none selected, Restore off.
    void fill(const std::vector<ParameterSet> &states);
    // The entry that Label20 names: the selected one, or the last one selected.
    int chosenRow() const;
    // A selected entry enables Restore and names its state in Label20.
    void showSelection();
    // Selects the entry of a state and shows it, if the list has one.
    void select(const QString &name);

signals:
    void storeClicked();
    void restoreClicked();

private:
    QListWidget *m_listBox = nullptr;
    QPushButton *m_restoreBtn = nullptr;
    QPushButton *m_storeBtn = nullptr;
    QLabel *m_label20 = nullptr;
};

} // namespace cleftsim
