#pragma once

#include "widgets/childform.h"
#include "widgets/windowset.h"

namespace cleftsim {

// Model Configuration (window 0).
class TcsForm0 : public ChildForm, public ConfigLink {
    Q_OBJECT
public:
    explicit TcsForm0(QWidget *parent = nullptr);

    bool backgroundChecked() const override { return false; }
    void setBackgroundChecked(bool) override {}
};

} // namespace cleftsim
