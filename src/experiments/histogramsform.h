#pragma once

#include "widgets/childform.h"
#include "widgets/windowset.h"

namespace cleftsim {

// Histograms (window 6).
class TcsForm6 : public ChildForm, public HistogramsLink {
    Q_OBJECT
public:
    explicit TcsForm6(QWidget *parent = nullptr);

    void EmptyImages() override {}
};

} // namespace cleftsim
