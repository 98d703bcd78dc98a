#include "app/tutorialbox.h"

#include "drawing/canvas.h"
#include "widgets/childwindow.h"

#include <QFrame>

namespace cleftsim {

TutorialBox::TutorialBox(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TutorialBox"));
    setWindowTitle(QStringLiteral("Cleftsim Tutorial"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setFont(uiFont(13));
    // Outer size 446 x 300 with a sizeable border.
    resize(446 - ChildWindow::FrameWidth, 300 - ChildWindow::FrameHeight);
    move(234, 113);

    m_panel1 = new QFrame(this);
    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panel1->setLineWidth(2);
    m_panel1->setGeometry(3, 3, 350, 186);
    m_panel1->setAutoFillBackground(true);
    QPalette pal = m_panel1->palette();
    pal.setColor(QPalette::Window, colors::White);
    pal.setColor(QPalette::WindowText, colors::Red);
    m_panel1->setPalette(pal);
    m_panel1->setFont(uiFont(25, true));
}

} // namespace cleftsim
