#pragma once

#include "widgets/childform.h"
#include "widgets/windowset.h"

namespace cleftsim {

// Records (window 4).
class TcsForm4 : public ChildForm, public RecordsLink {
    Q_OBJECT
public:
    explicit TcsForm4(QWidget *parent = nullptr);

    void EmptyImage() override {}
};

} // namespace cleftsim
