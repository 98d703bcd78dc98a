#include "app/aboutbox.h"

#include "drawing/canvas.h"
#include "run/rundescription.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace cleftsim {

namespace {

QLabel *addLabel(
    QWidget *parent, const QString &objectName, const QString &text, int x, int y, const QFont &font)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colors::Black);
    label->setPalette(pal);
    label->move(x, y);
    label->adjustSize();
    return label;
}

} // namespace

QImage boutonPicture()
{
    Canvas c(190, 146, colors::White);
    c.setPenColor(colors::Black);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    // The axon comes in from the upper left and swells into the bouton.
    c.moveTo(0, 14);
    c.lineTo(46, 30);
    c.moveTo(0, 30);
    c.lineTo(38, 44);
    c.ellipse(34, 8, 160, 104);
    // A mitochondrion with its cristae.
    c.ellipse(104, 22, 146, 44);
    for (int x = 112; x <= 138; x += 6) {
        c.moveTo(x, 26);
        c.lineTo(x + 3, 41);
    }
    // Synaptic vesicles gathered over the active zone.
    const int vesicles[][2]
        = {{62, 52}, {76, 46}, {90, 52}, {104, 58}, {118, 60}, {132, 62}, {56, 68}, {70, 64}, {84, 68},
            {98, 72}, {112, 76}, {126, 78}, {66, 82}, {80, 84}, {94, 88}, {108, 90}, {50, 40}, {64, 32}};
    for (const auto &v : vesicles)
        c.ellipse(v[0] - 5, v[1] - 5, v[0] + 6, v[1] + 6);
    // The dendrite below the cleft, with the postsynaptic density under the bouton.
    c.moveTo(0, 112);
    c.lineTo(190, 112);
    c.moveTo(0, 140);
    c.lineTo(190, 140);
    c.setPenWidth(3);
    c.moveTo(70, 115);
    c.lineTo(126, 115);
    c.setPenWidth(1);
    // A quantum of transmitter crossing the cleft.
    c.setBrushColor(colors::Black);
    for (int x = 84; x <= 112; x += 7)
        c.ellipse(x, 106, x + 3, 109);
    return c.image();
}

QUrl AboutBox::documentationAddress()
{
    return QUrl(QStringLiteral("qrc:/doc/README.md"));
}

bool AboutBox::showDocument(const QUrl &url)
{
    if (url.scheme() != QLatin1String("qrc"))
        return QDesktopServices::openUrl(url);
    if (!QFile::exists(QLatin1Char(':') + url.path()))
        return false;
    QDialog viewer(this);
    viewer.setObjectName(QStringLiteral("DocumentWindow"));
    viewer.setWindowTitle(QStringLiteral("Cleftsim README"));
    viewer.resize(680, 600);
    auto *browser = new QTextBrowser(&viewer);
    browser->setObjectName(QStringLiteral("DocumentBrowser"));
    browser->setOpenExternalLinks(true);
    browser->setSource(url, QTextDocument::MarkdownResource);
    auto *layout = new QVBoxLayout(&viewer);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    viewer.exec();
    return true;
}

AboutBox::AboutBox(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About Cleftsim"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(471, 210);
    setFont(uiFont(14));
    m_open = [this](const QUrl &url) { return showDocument(url); };

    m_panel1 = new QFrame(this);
    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panel1->setLineWidth(2);
    m_panel1->setGeometry(4, 4, 464, 159);
    m_panel1->setAutoFillBackground(true);
    QPalette panelPal = m_panel1->palette();
    panelPal.setColor(QPalette::Window, panelPal.color(QPalette::Base));
    m_panel1->setPalette(panelPal);
    m_panel1->setMouseTracking(true);
    m_panel1->installEventFilter(this);

    auto *icon = new QLabel(m_panel1);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setGeometry(2, 4, 190, 146);
    icon->setScaledContents(true);
    icon->setPixmap(QPixmap::fromImage(boutonPicture()));

    addLabel(
        m_panel1, QStringLiteral("ProductName"), QStringLiteral("Cleftsim csUNO"), 200, 20, uiFont(20, true));
    // The version the batch tool's --version and every JSON output name.
    addLabel(m_panel1, QStringLiteral("Version"),
        QStringLiteral("Version: ") + QString::fromUtf8(programVersion()), 200, 49, uiFont(14));
    QLabel *author = addLabel(m_panel1, QStringLiteral("Author"),
        QStringLiteral("by the Cleftsim developers"), 200, 90, uiFont(13));
    author->resize(254, 16);
    addLabel(m_panel1, QStringLiteral("Comments"), QStringLiteral("Visit "), 200, 120, uiFont(14));

    m_edit1 = new QLineEdit(m_panel1);
    m_edit1->setObjectName(QStringLiteral("Edit1"));
    m_edit1->setGeometry(232, 120, 171, 17);
    m_edit1->setReadOnly(true);
    m_edit1->setFrame(false);
    m_edit1->setFocusPolicy(Qt::NoFocus);
    m_edit1->setContextMenuPolicy(Qt::NoContextMenu);
    m_edit1->setTextMargins(0, 0, 0, 0);
    QFont linkFont = uiFont(13);
    linkFont.setUnderline(true);
    m_edit1->setFont(linkFont);
    m_edit1->setText(QStringLiteral("README.md"));
    m_edit1->setCursorPosition(0);
    m_edit1->setCursor(Qt::PointingHandCursor);
    m_edit1->setMouseTracking(true);
    m_edit1->installEventFilter(this);
    QPalette editPal = m_edit1->palette();
    editPal.setColor(QPalette::Base, panelPal.color(QPalette::Window));
    m_edit1->setPalette(editPal);
    setLinkColour(colors::Navy);

    QLabel *updates
        = addLabel(m_panel1, QStringLiteral("Updates"), QStringLiteral("to update"), 402, 120, uiFont(14));
    updates->raise();

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setGeometry(177, 174, 92, 30);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void AboutBox::centreOnScreen()
{
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize outer = frameGeometry().size();
    move(area.center() - QPoint(outer.width() / 2, outer.height() / 2));
}

void AboutBox::setLinkColour(const QColor &c)
{
    QPalette pal = m_edit1->palette();
    pal.setColor(QPalette::Text, c);
    m_edit1->setPalette(pal);
}

void AboutBox::Edit1MouseMove()
{
    setLinkColour(colors::Blue);
}

void AboutBox::Panel1MouseMove()
{
    setLinkColour(colors::Navy);
}

void AboutBox::Edit1Click()
{
    if (m_open)
        m_open(documentationAddress()); // nothing is reported when the address cannot be opened
}

bool AboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit1) {
        switch (event->type()) {
        case QEvent::MouseMove: Edit1MouseMove(); return false;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
                Edit1Click();
            return false;
        default: break;
        }
    } else if (watched == m_panel1 && event->type() == QEvent::MouseMove) {
        Panel1MouseMove();
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace cleftsim
