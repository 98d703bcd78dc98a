#pragma once

#include "widgets/childform.h"
#include "widgets/windowset.h"

namespace cleftsim {

// Presynaptic Settings (window 2).
class TcsForm2 : public ChildForm, public PresynLink {
    Q_OBJECT
public:
    explicit TcsForm2(QWidget *parent = nullptr);

    void writeEditors(double, double, double, double, double) override {}
};

} // namespace cleftsim
