#include "app/mainform.h"

#include <QMdiArea>

namespace cleftsim {

TcsMainForm::TcsMainForm(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("csMainForm"));
    setWindowTitle(QStringLiteral("Cleftsim"));
    m_frame = new QMdiArea(this);
    m_frame->setObjectName(QStringLiteral("MdiArea"));
    setCentralWidget(m_frame);
    resize(1016, 694);
}

void TcsMainForm::showParameter(Param) {}

bool TcsMainForm::Store()
{
    return true;
}

} // namespace cleftsim
