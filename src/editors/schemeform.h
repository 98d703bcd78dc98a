#pragma once

#include "widgets/childform.h"
#include "widgets/windowset.h"

namespace cleftsim {

// Scheme Settings (window 1).
class TcsForm1 : public ChildForm, public SchemeLink {
    Q_OBJECT
public:
    explicit TcsForm1(QWidget *parent = nullptr);

    void LabelsN0() override {}
    void FailuresChart() override {}
    void refreshConductanceLabels() override {}
    void setBackgroundLayout(bool) override {}
    void writeEditors(int, double, double) override {}
};

} // namespace cleftsim
