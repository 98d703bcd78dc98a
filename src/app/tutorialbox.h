#pragma once

#include <QDialog>

class QFrame;

namespace cleftsim {

// The Tutorial window: a sizeable window with one empty white panel.
class TutorialBox : public QDialog {
    Q_OBJECT
public:
    explicit TutorialBox(QWidget *parent = nullptr);

    QFrame *panel() const { return m_panel1; }

private:
    QFrame *m_panel1 = nullptr;
};

} // namespace cleftsim
