#pragma once

#include "widgets/windowset.h"

#include <QMainWindow>

class QMdiArea;

namespace cleftsim {

// The frame of all child windows with the panel of the model state (csMainForm).
class TcsMainForm : public QMainWindow, public MainFormLink {
    Q_OBJECT
public:
    explicit TcsMainForm(QWidget *parent = nullptr);

    void showParameter(Param f) override;
    bool Store() override;
    QMdiArea *frame() override { return m_frame; }

private:
    QMdiArea *m_frame;
};

} // namespace cleftsim
