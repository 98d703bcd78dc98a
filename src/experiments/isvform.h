#pragma once

#include "widgets/childform.h"
#include "widgets/windowset.h"

namespace cleftsim {

// Is vs V2 (window 5).
class TcsForm5 : public ChildForm, public IsvLink {
    Q_OBJECT
public:
    explicit TcsForm5(QWidget *parent = nullptr);

    void EmptyImages() override {}
    void setBackgroundLayout(bool) override {}
};

} // namespace cleftsim
