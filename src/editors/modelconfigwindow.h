#pragma once

#include "widgets/childwindow.h"
#include "widgets/windowset.h"

class QCheckBox;

namespace cleftsim {

// Model Configuration (window 0): the background-conductance switch, and two
// fixed choices of the model shown for information.
class ModelConfigWindow : public ChildWindow, public ConfigLink, public EditorLink {
    Q_OBJECT
public:
    explicit ModelConfigWindow(QWidget *parent = nullptr);

    bool backgroundChecked() const override;
    void setBackgroundChecked(bool on) override;
    // Sets the switch to the background conductance of s.
    void restoreFrom(const ParameterSet &s) override;

    // Applies the switch after the box has changed state: Gb back to 0, and
    // the change announced.
    void CheckBox1Click();

private:
    QCheckBox *m_checkBox1;
};

} // namespace cleftsim
