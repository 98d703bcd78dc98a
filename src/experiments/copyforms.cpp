#include "experiments/copyforms.h"

#include "widgets/figureview.h"

namespace cleftsim {

TcsChildForm4::TcsChildForm4(QWidget *parent)
    : ChildForm(QStringLiteral("csChildForm4"), QString(), 381, 388, -1, QPoint(), parent)
{
    setClosable(true);
    m_image3 = new FigureView(QStringLiteral("Image3"), 374, 380, this);
    m_image3->move(4, 4);
}

TcsChildForm5::TcsChildForm5(QWidget *parent)
    : ChildForm(QStringLiteral("csChildForm5"), QString(), 553, 193, -1, QPoint(), parent)
{
    setClosable(true);
    m_images[0] = nullptr;
    m_images[1] = nullptr;
    m_images[2] = nullptr;
}

TcsChildForm6::TcsChildForm6(QWidget *parent)
    : ChildForm(QStringLiteral("csChildForm6"), QString(), 508, 251, -1, QPoint(), parent)
{
    setClosable(true);
    for (auto &image : m_images)
        image = nullptr;
}

} // namespace cleftsim
