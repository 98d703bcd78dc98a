#pragma once

#include <QObject>

class QMdiArea;
class QMenu;
class QMenuBar;

namespace cleftsim {

// The Window menu of the main window: Tile, Cascade and one entry per window
// of the frame, the active one checked, and the Fit window's entry below.
class WindowMenu : public QObject {
    Q_OBJECT
public:
    // Adds the menu to the bar, for the windows of frame.
    WindowMenu(QMenuBar *bar, QMdiArea *frame, QObject *parent);

    QMenu *menu() const { return m_menu; }
    void Tile1Click();
    void Cascade1Click();

private:
    // Rebuilds the menu, each time it opens, since copies come and go.
    void fill();
    // Turns the frame's scroll bars off and moves every open window back inside it.
    void keepWindowsInFrame();

    QMdiArea *m_frame;
    QMenu *m_menu = nullptr;
};

} // namespace cleftsim
