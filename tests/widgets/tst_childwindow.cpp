#include "drawing/canvas.h"
#include "widgets/childwindow.h"

#include <QtTest>

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>

using namespace cleftsim;

class TestChildWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void numberLabelAndFixedSize();
    void closeRefusedUnlessClosable();
    void outerSizeFollowsClientSize();
    void showAndRaiseRestoresMinimised();
    void resizeWhileMinimisedShowsWholeWindow();

private:
    QMdiArea *m_frame = nullptr;
};

void TestChildWindow::init()
{
    m_frame = new QMdiArea;
    m_frame->resize(1000, 700);
    m_frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_frame));
}

void TestChildWindow::cleanup()
{
    delete m_frame;
    m_frame = nullptr;
}

void TestChildWindow::numberLabelAndFixedSize()
{
    auto *form
        = new ChildWindow(QStringLiteral("csForm5"), QStringLiteral("Is vs V2"), 553, 193, 5, QPoint(0, 176));
    QCOMPARE(form->size(), QSize(553, 193));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QLabel *number = form->numberLabel();
    QVERIFY(number);
    QCOMPARE(number->text(), QStringLiteral("5"));
    QCOMPARE(number->pos(), QPoint(0, 176));
    QVERIFY(number->font().bold());
    QCOMPARE(number->palette().color(QPalette::WindowText), colors::Red);
    QMdiSubWindow *sub = form->addTo(m_frame);
    QCOMPARE(form->subWindow(), sub);
    QCOMPARE(sub->windowTitle(), QStringLiteral("Is vs V2"));
    QVERIFY(!(sub->windowFlags() & Qt::WindowMaximizeButtonHint));
    form->show();
    QCOMPARE(sub->minimumSize(), sub->maximumSize());
    QCOMPARE(form->size(), QSize(553, 193));
    auto *copy = new ChildWindow(QStringLiteral("copy"), QStringLiteral("copy"), 100, 50, -1, QPoint());
    QVERIFY(!copy->numberLabel());
    delete copy;
}

void TestChildWindow::closeRefusedUnlessClosable()
{
    auto *form = new ChildWindow(
        QStringLiteral("csForm0"), QStringLiteral("Model Configuration"), 366, 79, 0, QPoint(0, 62));
    QMdiSubWindow *sub = form->addTo(m_frame);
    form->show();
    QVERIFY(!sub->close());
    QVERIFY(sub->isVisible());
    QCOMPARE(m_frame->subWindowList().size(), 1);
    form->setClosable(true);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QMdiSubWindow> guard(sub);
    QVERIFY(sub->close());
    QTRY_VERIFY(guard.isNull());
    QCOMPARE(m_frame->subWindowList().size(), 0);
}

void TestChildWindow::outerSizeFollowsClientSize()
{
    auto *form = new ChildWindow(
        QStringLiteral("csForm1"), QStringLiteral("Scheme Settings"), 562, 385, 1, QPoint(0, 368));
    QMdiSubWindow *sub = form->addTo(m_frame);
    form->show();
    QCOMPARE(form->outerWidth(), 570);
    form->setOuterWidth(770);
    QCOMPARE(form->width(), 762);
    QCOMPARE(form->outerWidth(), 770);
    QVERIFY(sub->width() >= 762);
    QCOMPARE(sub->minimumSize(), sub->maximumSize());
    form->setOuterWidth(570);
    QCOMPARE(form->width(), 562);
    QVERIFY(sub->width() < 762);
    form->moveOuter(QPoint(30, 40));
    QCOMPARE(form->outerPos(), QPoint(30, 40));
    QCOMPARE(sub->pos(), QPoint(30, 40));
}

void TestChildWindow::showAndRaiseRestoresMinimised()
{
    auto *a = new ChildWindow(
        QStringLiteral("csForm2"), QStringLiteral("Presynaptic Settings"), 276, 407, 2, QPoint(0, 390));
    auto *b = new ChildWindow(
        QStringLiteral("csForm3"), QStringLiteral("Subsynaptic Settings"), 276, 407, 3, QPoint(0, 390));
    a->addTo(m_frame);
    b->addTo(m_frame);
    a->showMinimizedInFrame();
    b->show();
    m_frame->setActiveSubWindow(b->subWindow());
    QVERIFY(a->isMinimizedInFrame());
    a->showAndRaise();
    QVERIFY(!a->isMinimizedInFrame());
    QVERIFY(a->isVisible());
    QCOMPARE(m_frame->activeSubWindow(), a->subWindow());
    QCOMPARE(a->size(), QSize(276, 407));
}

// A window minimised at start whose size changes while it is an icon (the Is
// vs V2 window when the background switch changes) shows all of itself when
// it is opened again.
void TestChildWindow::resizeWhileMinimisedShowsWholeWindow()
{
    auto *form
        = new ChildWindow(QStringLiteral("csForm5"), QStringLiteral("Is vs V2"), 553, 193, 5, QPoint(0, 176));
    QMdiSubWindow *sub = form->addTo(m_frame);
    form->showMinimizedInFrame();
    form->setOuterWidth(757);
    form->showAndRaise();
    QCOMPARE(form->width(), 749);
    QVERIFY(sub->contentsRect().width() >= 749);
    QCOMPARE(sub->size(), sub->sizeHint());
    QCOMPARE(sub->minimumSize(), sub->maximumSize());
    // Restored by the window's own button rather than by the program.
    form->showMinimizedInFrame();
    form->setOuterWidth(561);
    sub->showNormal();
    QCOMPARE(form->width(), 553);
    QCOMPARE(sub->size(), sub->sizeHint());
}

QTEST_MAIN(TestChildWindow)
#include "tst_childwindow.moc"
