#include "app/mainwindow.h"
#include "app/startup.h"
#include "drawing/glyphs.h"
#include "widgets/childwindow.h"

#include <QtTest>

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>

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

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
