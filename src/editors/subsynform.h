#pragma once

#include "widgets/childform.h"
#include "widgets/windowset.h"

namespace cleftsim {

// Subsynaptic Settings (window 3).
class TcsForm3 : public ChildForm, public SubsynLink {
    Q_OBJECT
public:
    explicit TcsForm3(QWidget *parent = nullptr);

    void repaintConductancePreview() override {}
    void repaintQuantaPreview() override {}
    void setBackgroundControls(bool) override {}
    void writeEditors(double, double, double) override {}
};

} // namespace cleftsim
