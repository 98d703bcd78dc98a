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

    // The address the link opens: the README, which the program carries
    // inside itself.
    static QUrl documentationAddress();
    // Shows a Markdown document of the program (an address in its resources)
    // in a text browser over the About window, or hands any other address to
    // the desktop. Returns whether it could.
    bool showDocument(const QUrl &url);

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
