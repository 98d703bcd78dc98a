#include "app/mainwindow.h"
#include "app/startup.h"
#include "drawing/glyphs.h"
#include "widgets/childwindow.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"
#include "widgets/windowset.h"

#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <cstdlib>

using namespace cleftsim;

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void classicLookNeedsNoQuestion();
    void colourCheck_data();
    void colourCheck();
    void abortCreatesNoWindow();
    void ignoreStartsProgram();
    void warningBoxWordsAndButtons_data();
    void warningBoxWordsAndButtons();
    void windowSetAtStart();
    void childWindowsRefuseToClose();
    void childWindowsAreFixed();
    void windowsShowTheProgramsIcon();
    void editsShowEveryValueWhole();
    void frameShowsTheOpenWindows_data();
    void frameShowsTheOpenWindows();
    void disabledCaptionsAreGrey_data();
    void disabledCaptionsAreGrey();
    void badDrawScanRefused();

private:
    std::unique_ptr<MainWindow> m_main;
};

void TestStartup::initTestCase()
{
    applyClassicLook(*qApp);
}

void TestStartup::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
}

void TestStartup::classicLookNeedsNoQuestion()
{
    QCOMPARE(buttonFaceColour(), QColor(192, 192, 192));
    int asked = 0;
    m_main = startProgram(buttonFaceColour(), [&asked] {
        ++asked;
        return false;
    });
    QCOMPARE(asked, 0);
    QVERIFY(m_main);
}

void TestStartup::colourCheck_data()
{
    QTest::addColumn<QColor>("face");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("silver") << QColor(192, 192, 192) << false << 0 << true;
    QTest::newRow("modern grey, ignore") << QColor(240, 240, 240) << true << 1 << true;
    QTest::newRow("modern grey, abort") << QColor(240, 240, 240) << false << 1 << false;
    QTest::newRow("one step off") << QColor(192, 192, 193) << false << 1 << false;
    QTest::newRow("dark, ignore") << QColor(53, 53, 53) << true << 1 << true;
}

void TestStartup::colourCheck()
{
    QFETCH(QColor, face);
    QFETCH(bool, answer);
    QFETCH(int, asked);
    QFETCH(bool, goesOn);
    int count = 0;
    QCOMPARE(cleftsim::colourCheck(face,
                 [&] {
                     ++count;
                     return answer;
                 }),
        goesOn);
    QCOMPARE(count, asked);
}

void TestStartup::abortCreatesNoWindow()
{
    const int before = QApplication::topLevelWidgets().size();
    m_main = startProgram(QColor(255, 255, 255), [] { return false; });
    QVERIFY(!m_main);
    QCOMPARE(QApplication::topLevelWidgets().size(), before);
    QVERIFY(!windows().csMainForm);
    QVERIFY(!windows().forms[0]);
}

void TestStartup::ignoreStartsProgram()
{
    m_main = startProgram(QColor(255, 255, 255), [] { return true; });
    QVERIFY(m_main);
    QCOMPARE(windows().csMainForm, static_cast<MainWindowLink *>(m_main.get()));
    for (ChildWindow *form : windows().forms)
        QVERIFY(form);
    QCOMPARE(QLocale().decimalPoint(), QStringLiteral("."));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("CS"));
}

void TestStartup::warningBoxWordsAndButtons_data()
{
    QTest::addColumn<int>("button"); // 0: Abort, 1: Ignore, 2: Escape
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("abort") << 0 << false;
    QTest::newRow("ignore") << 1 << true;
    QTest::newRow("escape") << 2 << false;
}

// The real box, answered by a timer.
void TestStartup::warningBoxWordsAndButtons()
{
    QFETCH(int, button);
    QFETCH(bool, goesOn);
    QString title;
    QString text;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, qApp, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        for (QAbstractButton *b : box->buttons())
            buttons << b->text();
        if (button == 2)
            box->reject();
        else
            box->button(button == 0 ? QMessageBox::Abort : QMessageBox::Ignore)->click();
    });
    QCOMPARE(askIgnoreColours(), goesOn);
    QCOMPARE(title, QStringLiteral("Warning"));
    QCOMPARE(text, QStringLiteral("csMDI has detected that you use non-standard color set."));
    QCOMPARE(icon, QMessageBox::Warning);
    buttons.sort();
    QCOMPARE(buttons, QStringList({QStringLiteral("&Abort"), QStringLiteral("&Ignore")}));
}

void TestStartup::windowSetAtStart()
{
    m_main = createWindowSet();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    const char *names[] = {"csForm0", "csForm1", "csForm2", "csForm3", "csForm4", "csForm5", "csForm6"};
    const QList<QMdiSubWindow *> subs = m_main->frame()->subWindowList(QMdiArea::CreationOrder);
    QCOMPARE(subs.size(), 7);
    for (int i = 0; i < 7; ++i) {
        ChildWindow *form = windows().forms[i];
        QCOMPARE(form->objectName(), QString::fromLatin1(names[i]));
        QCOMPARE(subs[i], form->subWindow());
        QCOMPARE(form->isMinimizedInFrame(), i >= 4);
        QVERIFY(form->subWindow()->isVisible());
        QVERIFY(form->numberLabel());
        QCOMPARE(form->numberLabel()->text(), QString::number(i));
    }
}

void TestStartup::childWindowsRefuseToClose()
{
    m_main = createWindowSet();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    for (ChildWindow *form : windows().forms) {
        const bool minimised = form->isMinimizedInFrame();
        QVERIFY(!form->subWindow()->close());
        QVERIFY(!form->close());
        QVERIFY(form->subWindow()->isVisible());
        QCOMPARE(form->isMinimizedInFrame(), minimised);
        QCOMPARE(m_main->frame()->subWindowList().size(), 7);
    }
    // The main window itself closes.
    QVERIFY(m_main->close());
}

void TestStartup::childWindowsAreFixed()
{
    m_main = createWindowSet();
    for (ChildWindow *form : windows().forms) {
        QMdiSubWindow *sub = form->subWindow();
        QVERIFY(!(sub->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(sub->windowFlags() & Qt::WindowMinimizeButtonHint);
        if (!form->isMinimizedInFrame())
            QCOMPARE(sub->minimumSize(), sub->maximumSize());
        QCOMPARE(form->minimumSize(), form->maximumSize());
    }
}

void TestStartup::windowsShowTheProgramsIcon()
{
    m_main = startProgram(buttonFaceColour(), [] { return true; });
    QVERIFY(m_main);
    const QImage expected = applicationIcon().pixmap(32, 32).toImage();
    QVERIFY(!expected.isNull());
    QCOMPARE(m_main->windowIcon().pixmap(32, 32).toImage(), expected);
    for (ChildWindow *form : windows().forms) {
        QVERIFY(form->subWindow());
        QCOMPARE(form->subWindow()->windowIcon().pixmap(32, 32).toImage(), expected);
    }
}

namespace {

// The texts an edit can be left showing that take the most room: every digit
// in every position of a mask; for a spin edit its bounds and the numbers of
// one repeated digit, as long as the bounds allow.
QStringList widestTexts(QLineEdit *edit)
{
    QStringList texts;
    if (auto *mask = qobject_cast<MaskEdit *>(edit)) {
        for (char c = '0'; c <= '9'; ++c)
            texts << QString(QLatin1Char(c)) + QLatin1Char('.') + QString(mask->decimals(), QLatin1Char(c));
        return texts;
    }
    auto *spin = qobject_cast<SpinEdit *>(edit);
    texts << QString::number(spin->minValue()) << QString::number(spin->maxValue());
    for (int sign : {1, -1})
        for (char c = '1'; c <= '9'; ++c) {
            QString longest;
            for (QString t = QString(QLatin1Char(c)); t.size() <= 10; t += QLatin1Char(c)) {
                const long long v = sign * t.toLongLong();
                if (v >= spin->minValue() && v <= spin->maxValue())
                    longest = QString::number(v);
            }
            if (!longest.isEmpty())
                texts << longest;
        }
    return texts;
}

// First and last column with black ink in the rows of the text; -1 when none.
QPair<int, int> inkColumns(const QImage &image, int right)
{
    int first = -1, last = -1;
    for (int x = 0; x < right; ++x)
        for (int y = 2; y < image.height() - 2; ++y)
            if (qGray(image.pixel(x, y)) < 100) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

} // namespace

// At the sizes of the layouts every value an edit's mask or bounds allow is
// shown whole, with the cursor after it as after typing: no digit is cut.
void TestStartup::editsShowEveryValueWhole()
{
    m_main = createWindowSet();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    int checked = 0;
    for (ChildWindow *form : windows().forms) {
        for (QLineEdit *edit : form->findChildren<QLineEdit *>()) {
            if (!qobject_cast<MaskEdit *>(edit) && !qobject_cast<SpinEdit *>(edit))
                continue;
            // Left of the frame's right edge, or of a spin edit's buttons.
            const int right = edit->width() - (qobject_cast<SpinEdit *>(edit) ? 15 : 1);
            for (const QString &text : widestTexts(edit)) {
                const QSignalBlocker quiet(edit);
                edit->setText(text);
                edit->end(false);
                const QString where = edit->objectName() + QStringLiteral(" of ") + form->objectName()
                    + QStringLiteral(": ") + text;
                // The same text drawn in the edit's font with room to spare.
                QImage free(200, edit->height(), QImage::Format_RGB32);
                free.fill(Qt::white);
                {
                    QPainter p(&free);
                    p.setFont(edit->font());
                    p.setPen(Qt::black);
                    p.drawText(QRect(20, 0, 180, edit->height()), Qt::AlignVCenter | Qt::AlignLeft, text);
                }
                const QPair<int, int> whole = inkColumns(free, free.width());
                const QPair<int, int> shown = inkColumns(edit->grab().toImage(), right);
                QVERIFY2(shown.first > 0, qPrintable(where));
                QVERIFY2(shown.second - shown.first == whole.second - whole.first, qPrintable(where));
                ++checked;
            }
        }
    }
    QVERIFY(checked > 100);
}

void TestStartup::frameShowsTheOpenWindows_data()
{
    QTest::addColumn<bool>("background");
    QTest::addColumn<QString>("arrange"); // the Window menu's command, if any
    QTest::newRow("start") << false << "";
    QTest::newRow("background switched on") << true << "";
    QTest::newRow("tile") << false << "Tile1";
    QTest::newRow("tile with the background") << true << "Tile1";
    QTest::newRow("cascade") << true << "Cascade1";
}

// The frame has no scroll bars, so every open window stands inside it; at
// start each window that is open shows its figures, and the widened Scheme
// Settings window its failure-rate chart.
void TestStartup::frameShowsTheOpenWindows()
{
    QFETCH(bool, background);
    QFETCH(QString, arrange);
    m_main = createWindowSet();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    if (background)
        windows().forms[0]->findChild<QCheckBox *>(QStringLiteral("CheckBox1"))->setChecked(true);
    if (!arrange.isEmpty()) {
        emit m_main->windowMenu()->aboutToShow();
        m_main->findChild<QAction *>(arrange)->trigger();
    }
    QApplication::processEvents();
    QMdiArea *frame = m_main->frame();
    QVERIFY(!frame->horizontalScrollBar()->isVisible());
    QVERIFY(!frame->verticalScrollBar()->isVisible());
    const QRect area(QPoint(0, 0), frame->contentsRect().size());
    for (QMdiSubWindow *sub : frame->subWindowList())
        if (!sub->isMinimized())
            QVERIFY2(area.contains(sub->geometry()), qPrintable(sub->windowTitle()));
    if (!arrange.isEmpty())
        return;
    for (int i = 0; i < 4; ++i) {
        ChildWindow *form = windows().forms[i];
        QList<QWidget *> figures;
        for (QWidget *f : form->findChildren<FigureView *>())
            figures << f;
        for (QWidget *f : form->findChildren<PaintBox *>())
            figures << f;
        for (QWidget *f : figures) {
            if (!f->isVisible() || !form->rect().contains(f->geometry()))
                continue;
            int shown = 0;
            for (const QRect &r : f->visibleRegion())
                shown += r.width() * r.height();
            const QString where = form->objectName() + QLatin1Char(' ') + f->objectName();
            QVERIFY2(4 * shown >= 3 * f->width() * f->height(), qPrintable(where));
            if (f->objectName() == QLatin1String("FailureChart"))
                QVERIFY2(shown == f->width() * f->height(), qPrintable(where));
        }
    }
    // The chart stands in the widened window only.
    QCOMPARE(windows()
                 .forms[1]
                 ->findChild<FigureView *>(QStringLiteral("FailureChart"))
                 ->visibleRegion()
                 .isEmpty(),
        !background);
}

void TestStartup::disabledCaptionsAreGrey_data()
{
    QTest::addColumn<int>("form"); // -1: the main window
    QTest::addColumn<QString>("name");
    QTest::newRow("current clamp") << 0 << "RadioButton0";
    QTest::newRow("voltage clamp") << 0 << "RadioButton1";
    QTest::newRow("random probability") << 0 << "CheckBox2";
    QTest::newRow("Restore") << -1 << "RestoreBtn";
}

// The darkest pixels of a disabled caption are the grey of its text, which
// stands out from the silver face.
void TestStartup::disabledCaptionsAreGrey()
{
    QFETCH(int, form);
    QFETCH(QString, name);
    m_main = createWindowSet();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QWidget *owner = form < 0 ? static_cast<QWidget *>(m_main.get()) : windows().forms[form];
    auto *control = owner->findChild<QWidget *>(name);
    QVERIFY(control);
    QVERIFY(!control->isEnabled());
    const QImage picture = control->grab().toImage();
    // The caption, without a radio button's or check box's mark and a button's bevel.
    const bool button = form < 0;
    const QRect caption
        = button ? picture.rect().adjusted(4, 4, -4, -4) : picture.rect().adjusted(20, 0, 0, 0);
    int darkest = 255;
    for (int y = caption.top(); y <= caption.bottom(); ++y)
        for (int x = caption.left(); x <= caption.right(); ++x)
            darkest = std::min(darkest, qGray(picture.pixel(x, y)));
    QVERIFY2(std::abs(darkest - 128) <= 8, qPrintable(QString::number(darkest)));
}

QTEST_MAIN(TestStartup)
void TestStartup::badDrawScanRefused()
{
    // As cleftsim-batch and the Python module: status 2 before any window.
    for (const char *scan : {"bogus", "avx1024"}) {
        qputenv("CLEFTSIM_DRAW_SCAN", scan);
        int argc = 1;
        char name[] = "cleftsim";
        char *argv[] = {name, nullptr};
        const int status = runApplication(argc, argv);
        qunsetenv("CLEFTSIM_DRAW_SCAN");
        QCOMPARE(status, 2);
        QVERIFY(!windows().csMainForm);
    }
}

#include "tst_startup.moc"
