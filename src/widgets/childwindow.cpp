#include "widgets/childwindow.h"

#include "drawing/canvas.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace cleftsim {

ChildWindow::ChildWindow(const QString &objectName, const QString &caption, int clientWidth, int clientHeight,
    int number, QPoint numberPos, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(objectName);
    setWindowTitle(caption);
    setFont(uiFont(13));
    setAutoFillBackground(true);
    setFixedSize(clientWidth, clientHeight);
    if (number >= 0) {
        m_number = new QLabel(QString::number(number), this);
        m_number->setObjectName(QStringLiteral("NumberLabel"));
        m_number->setFont(uiFont(13, true));
        QPalette pal = m_number->palette();
        pal.setColor(QPalette::WindowText, colors::Red);
        m_number->setPalette(pal);
        m_number->move(numberPos);
        m_number->adjustSize();
    }
}

QMdiSubWindow *ChildWindow::addTo(QMdiArea *frame, bool maximizeBox)
{
    Qt::WindowFlags flags = Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (maximizeBox)
        flags |= Qt::WindowMaximizeButtonHint;
    QMdiSubWindow *sub = frame->addSubWindow(this, flags);
    sub->setWindowIcon(windowIcon());
    sub->setOption(QMdiSubWindow::RubberBandResize, false);
    setClientSize(width(), height());
    // The size may have changed while the window was an icon.
    connect(
        sub, &QMdiSubWindow::windowStateChanged, this, [this](Qt::WindowStates old, Qt::WindowStates now) {
            if ((old & Qt::WindowMinimized) && !(now & Qt::WindowMinimized))
                setClientSize(width(), height());
        });
    return sub;
}

QMdiSubWindow *ChildWindow::subWindow() const
{
    return qobject_cast<QMdiSubWindow *>(parentWidget());
}

void ChildWindow::setClientSize(int w, int h)
{
    setFixedSize(w, h);
    if (QMdiSubWindow *sub = subWindow()) {
        if (!sub->isMinimized() && !sub->isMaximized())
            sub->setFixedSize(sub->sizeHint());
    }
}

QPoint ChildWindow::outerPos() const
{
    if (QMdiSubWindow *sub = subWindow())
        return sub->pos();
    return pos();
}

void ChildWindow::moveOuter(const QPoint &p)
{
    if (QMdiSubWindow *sub = subWindow())
        sub->move(p);
    else
        move(p);
}

void ChildWindow::showAndRaise()
{
    if (QMdiSubWindow *sub = subWindow()) {
        if (sub->isMinimized()) {
            sub->showNormal();
            setClientSize(width(), height()); // the size may have changed while minimised
        }
        sub->show();
        sub->raise();
        if (QMdiArea *area = sub->mdiArea())
            area->setActiveSubWindow(sub);
    } else {
        show();
        raise();
    }
    show();
}

void ChildWindow::showMinimizedInFrame()
{
    show();
    if (QMdiSubWindow *sub = subWindow())
        sub->showMinimized();
    else
        showMinimized();
}

bool ChildWindow::isMinimizedInFrame() const
{
    if (QMdiSubWindow *sub = subWindow())
        return sub->isMinimized();
    return isMinimized();
}

void ChildWindow::closeEvent(QCloseEvent *event)
{
    if (m_closable)
        event->accept();
    else
        event->ignore();
}

} // namespace cleftsim
