#include "app/windowmenu.h"

#include "experiments/fitwindow.h"
#include "widgets/childwindow.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

#include <algorithm>

namespace cleftsim {

WindowMenu::WindowMenu(QMenuBar *bar, QMdiArea *frame, QObject *parent)
    : QObject(parent)
    , m_frame(frame)
{
    m_menu = bar->addMenu(QStringLiteral("&Window"));
    m_menu->setObjectName(QStringLiteral("Window1"));
    connect(m_menu, &QMenu::aboutToShow, this, &WindowMenu::fill);
    fill();
}

// The Window menu: Tile, Cascade and one entry per window of the frame, the
// active one checked. Rebuilt each time it opens, since copies come and go.
void WindowMenu::fill()
{
    m_menu->clear();
    QAction *tile = m_menu->addAction(QStringLiteral("Tile"), this, &WindowMenu::Tile1Click);
    tile->setObjectName(QStringLiteral("Tile1"));
    QAction *cascade = m_menu->addAction(QStringLiteral("Cascade"), this, &WindowMenu::Cascade1Click);
    cascade->setObjectName(QStringLiteral("Cascade1"));
    QMdiSubWindow *active = m_frame->activeSubWindow();
    // The Fit window has its one entry below the list, checked while active.
    QList<QMdiSubWindow *> subs = m_frame->subWindowList(QMdiArea::CreationOrder);
    const bool fitActive = active && fitWindow() && active->widget() == fitWindow();
    subs.removeIf([](QMdiSubWindow *sub) { return fitWindow() && sub->widget() == fitWindow(); });
    const auto addFit = [this, fitActive] {
        m_menu->addSeparator();
        QAction *fit
            = m_menu->addAction(QStringLiteral("Fit to Measured Data"), this, [] { showFitWindow(); });
        fit->setObjectName(QStringLiteral("FitToMeasuredData"));
        fit->setCheckable(true);
        fit->setChecked(fitActive);
    };
    if (subs.isEmpty()) {
        addFit();
        return;
    }
    m_menu->addSeparator();
    int number = 1;
    for (QMdiSubWindow *sub : subs) {
        QString title = sub->widget() ? sub->widget()->windowTitle() : sub->windowTitle();
        if (number <= 9)
            title = QStringLiteral("&%1 %2").arg(number).arg(title);
        ++number;
        QAction *entry = m_menu->addAction(title);
        entry->setCheckable(true);
        entry->setChecked(sub == active);
        QPointer<QMdiSubWindow> target(sub);
        connect(entry, &QAction::triggered, this, [this, target] {
            if (!target)
                return;
            if (auto *form = qobject_cast<ChildWindow *>(target->widget())) {
                form->showAndRaise();
                return;
            }
            if (target->isMinimized())
                target->showNormal();
            target->show();
            target->raise();
            m_frame->setActiveSubWindow(target);
        });
    }
    addFit();
}

void WindowMenu::Tile1Click()
{
    m_frame->tileSubWindows();
    keepWindowsInFrame();
}

void WindowMenu::Cascade1Click()
{
    m_frame->cascadeSubWindows();
    keepWindowsInFrame();
}

// The frame has no scroll bars: the toolkit's tiling turns them on when the
// fixed-size windows do not fit their tiles, so they are turned off again and
// every open window is moved back inside the frame as far as its size allows.
void WindowMenu::keepWindowsInFrame()
{
    m_frame->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_frame->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const QRect area(QPoint(0, 0), m_frame->contentsRect().size());
    for (QMdiSubWindow *sub : m_frame->subWindowList()) {
        if (sub->isMinimized() || !sub->isVisible())
            continue;
        const QPoint p(std::max(0, std::min(sub->x(), area.width() - sub->width())),
            std::max(0, std::min(sub->y(), area.height() - sub->height())));
        sub->move(p);
    }
}

} // namespace cleftsim
