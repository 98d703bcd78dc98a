#pragma once

#include <QWidget>

class QLabel;
class QMdiArea;
class QMdiSubWindow;

namespace cleftsim {

// A window of the frame with a fixed size. The fixed child windows carry their
// number in a red bold label near the lower-left corner and refuse to close;
// the frozen copies close and are destroyed.
class ChildWindow : public QWidget {
    Q_OBJECT
public:
    // Outer size minus client size of a child window with a fixed border.
    static constexpr int FrameWidth = 8;
    static constexpr int FrameHeight = 27;

    // number < 0: no number label.
    ChildWindow(const QString &objectName, const QString &caption, int clientWidth, int clientHeight,
        int number, QPoint numberPos, QWidget *parent = nullptr);

    // Puts the window into the frame as a fixed-border child window.
    QMdiSubWindow *addTo(QMdiArea *frame, bool maximizeBox = false);
    // Returns the frame's window around this form, if it is in a frame.
    QMdiSubWindow *subWindow() const;

    void setClientSize(int width, int height);
    int outerWidth() const { return width() + FrameWidth; }
    int outerHeight() const { return height() + FrameHeight; }
    void setOuterWidth(int w) { setClientSize(w - FrameWidth, height()); }
    void setOuterHeight(int h) { setClientSize(width(), h - FrameHeight); }

    // Position of the window's outer top-left corner in the frame.
    QPoint outerPos() const;
    void moveOuter(const QPoint &p);

    // Shows the window (restoring it when minimised) and brings it to the front.
    void showAndRaise();
    void showMinimizedInFrame();
    bool isMinimizedInFrame() const;

    QLabel *numberLabel() const { return m_number; }

    // Copies may close; the fixed windows refuse.
    void setClosable(bool closable) { m_closable = closable; }
    bool closable() const { return m_closable; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *m_number = nullptr;
    bool m_closable = false;
};

} // namespace cleftsim
