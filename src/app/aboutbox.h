#pragma once

#include <QDialog>

#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QUrl;

namespace cleftsim {

// The About window: program name, version, author and the link to the
// project's documentation.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    // Hands an address to the desktop's default handler; returns whether it could.
    using UrlOpener = std::function<bool(const QUrl &url)>;

    explicit AboutBox(QWidget *parent = nullptr);

    // Places the window in the middle of its screen.
    void centreOnScreen();

    // The pointer is over the link: it turns blue.
    void Edit1MouseMove();
    // The pointer is over the panel outside the link: the link turns navy.
    void Panel1MouseMove();
    // Opens the address of the link; a failure is ignored.
    void Edit1Click();

    void setUrlOpener(UrlOpener opener) { m_open = std::move(opener); }
    QLineEdit *link() const { return m_edit1; }
    QFrame *panel() const { return m_panel1; }

    // The address the link holds: the installed documentation if there is
    // one, else the README of the source tree the program was built from.
    static QString documentationAddress();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setLinkColour(const QColor &c);

    QFrame *m_panel1 = nullptr;
    QLineEdit *m_edit1 = nullptr;
    UrlOpener m_open;
};

// A line drawing of a synaptic bouton with its vesicles on a dendrite,
// 190 x 146 pixels, black on white.
QImage boutonPicture();

} // namespace cleftsim
