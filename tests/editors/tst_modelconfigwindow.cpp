#include "app/mainwindow.h"
#include "app/startup.h"
#include "editors/modelconfigwindow.h"
#include "editors/schemewindow.h"
#include "editorspies.h"
#include "widgets/currentmodel.h"
#include "widgets/figureview.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

using namespace cleftsim;
using namespace cleftsim::test;

class TestModelConfigWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void switching_data();
    void switching();
    void sameStateRunsNothing();
    void onAndOffLeavesGbZero();
    void gbEditorShowsTheReset();
    void schemeWidthFollowsSwitch();
    void mainWindowShowsTheSwitch();
    void restoreAcrossTheSwitchKeepsGb();

private:
    ModelConfigWindow *form() const { return static_cast<ModelConfigWindow *>(windows().forms[0]); }
    QCheckBox *box() const { return form()->findChild<QCheckBox *>(QStringLiteral("CheckBox1")); }

    std::unique_ptr<MainWindow> m_main;
};

void TestModelConfigWindow::init()
{
    m_main = createWindowSet();
    m_main->show();
}

void TestModelConfigWindow::cleanup()
{
    windows() = WindowSet {};
    m_main.reset();
}

void TestModelConfigWindow::switching_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("schemeWidth");
    QTest::addColumn<QString>("n0");
    QTest::newRow("on") << true << 770 << "N  (-63mV)=";
    QTest::newRow("off") << false << 570 << "N  =";
}

// What a switch does in the other windows: Scheme Settings widens for the
// failure-rate chart, which is drawn when switched on, Subsynaptic Settings
// offers Gb, and only the Is vs V2 figures are cleared.
void TestModelConfigWindow::switching()
{
    QFETCH(bool, on);
    QFETCH(int, schemeWidth);
    QFETCH(QString, n0);
    if (!on)
        form()->setBackgroundChecked(true);
    model().LPC.Gb = 0.05;
    auto *scheme = static_cast<SchemeWindow *>(windows().forms[1]);
    Canvas &chart = scheme->findChild<FigureView *>(QStringLiteral("FailureChart"))->canvas();
    chart.clear(colors::White);

    ChangeSpy spies;
    QTest::mouseClick(box(), Qt::LeftButton, {}, QPoint(8, box()->height() / 2));

    QCOMPARE(box()->isChecked(), on);
    QCOMPARE(int(model().LPC.BackgroundOn), on ? 1 : 0);
    QCOMPARE(model().LPC.Gb, 0.0);
    QCOMPARE(scheme->outerWidth(), schemeWidth);
    QCOMPARE(scheme->findChild<QLabel *>(QStringLiteral("Label21"))->text(), n0);
    QCOMPARE(chart.rgb(140, 86) == (colors::Navy.rgb() & 0xffffff), on);
    auto *gbEdit = windows().forms[3]->findChild<QLineEdit *>(QStringLiteral("MaskEdit3"));
    QCOMPARE(gbEdit->isVisible(), on);
    QCOMPARE(gbEdit->text(), QStringLiteral("0.000"));
    QCOMPARE(spies.announced, QList<Param> {Param::BackgroundOn});
    QCOMPARE(spies.shown, (QList<Param> {Param::Gb, Param::BackgroundOn}));
    QCOMPARE(spies.isvLayouts, QList<bool> {on});
    QCOMPARE(spies.isv, 1);
    QCOMPARE(spies.records, 0);
    QCOMPARE(spies.histograms, 0);
}

void TestModelConfigWindow::sameStateRunsNothing()
{
    model().LPC.Gb = 0.05;
    ChangeSpy spies;
    form()->setBackgroundChecked(false);
    QCOMPARE(model().LPC.Gb, 0.05);
    QCOMPARE(spies.isv, 0);
    QCOMPARE(spies.shown.size(), 0);
    form()->setBackgroundChecked(true);
    model().LPC.Gb = 0.05;
    form()->setBackgroundChecked(true);
    QCOMPARE(model().LPC.Gb, 0.05);
    QCOMPARE(spies.isv, 1);
}

void TestModelConfigWindow::onAndOffLeavesGbZero()
{
    form()->setBackgroundChecked(true);
    model().LPC.Gb = 0.123; // as typed into the Gb editor
    form()->setBackgroundChecked(false);
    QCOMPARE(model().LPC.Gb, 0.0);
    QCOMPARE(int(model().LPC.BackgroundOn), 0);
    QVERIFY(sameModel(model().LPC, model().LPI));
}

// The Gb editor must show the reset, or a restore that writes the same Gb
// back would change no text, run no handler and leave Gb at 0.
void TestModelConfigWindow::gbEditorShowsTheReset()
{
    auto *gbEdit = windows().forms[3]->findChild<QLineEdit *>(QStringLiteral("MaskEdit3"));
    QVERIFY(gbEdit);
    form()->setBackgroundChecked(true);
    int changes = 0;
    connect(gbEdit, &QLineEdit::textChanged, this, [&changes] { ++changes; });
    gbEdit->setText(QStringLiteral("0.100"));
    QCOMPARE(model().LPC.Gb, 0.1);
    changes = 0;
    ChangeSpy spies;
    form()->setBackgroundChecked(false);
    QCOMPARE(gbEdit->text(), QStringLiteral("0.000"));
    QCOMPARE(changes, 0); // without running the Gb editor's handler
    QCOMPARE(spies.records, 0);
}

void TestModelConfigWindow::schemeWidthFollowsSwitch()
{
    auto *scheme = static_cast<SchemeWindow *>(windows().forms[1]);
    QCOMPARE(scheme->outerWidth(), 570);
    form()->setBackgroundChecked(true);
    QCOMPARE(scheme->outerWidth(), 770);
    QCOMPARE(scheme->findChild<QLabel *>(QStringLiteral("Label21"))->text(), QStringLiteral("N  (-63mV)="));
    const Canvas &chart = scheme->findChild<FigureView *>(QStringLiteral("FailureChart"))->canvas();
    QCOMPARE(chart.rgb(140, 86), colors::Navy.rgb() & 0xffffff);
    form()->setBackgroundChecked(false);
    QCOMPARE(scheme->outerWidth(), 570);
    QCOMPARE(scheme->findChild<QLabel *>(QStringLiteral("Label21"))->text(), QStringLiteral("N  ="));
}

void TestModelConfigWindow::mainWindowShowsTheSwitch()
{
    auto *label03 = m_main->findChild<QLabel *>(QStringLiteral("Label03"));
    auto *gbValue = m_main->findChild<QLabel *>(QStringLiteral("Label14v"));
    QVERIFY(label03 && gbValue);
    form()->setBackgroundChecked(true);
    QCOMPARE(label03->text(), QStringLiteral("Background Conduct"));
    QCOMPARE(label03->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QVERIFY(gbValue->isVisibleTo(m_main.get()));
    QCOMPARE(gbValue->text(), QStringLiteral("0.000 nS"));
    model().LPC.Gb = 0.25;
    gbValue->setText(QStringLiteral("0.250 nS")); // as the Gb editor leaves it
    form()->setBackgroundChecked(false);
    QCOMPARE(label03->text(), QStringLiteral("Basic Configuration"));
    QCOMPARE(label03->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    QVERIFY(!gbValue->isVisibleTo(m_main.get()));
    QCOMPARE(gbValue->text(), QStringLiteral("0.000 nS"));
}

// A stored state with the switch on and a background conductance comes back
// whole after the switch has been turned off in between.
void TestModelConfigWindow::restoreAcrossTheSwitchKeepsGb()
{
    auto *gbEdit = windows().forms[3]->findChild<QLineEdit *>(QStringLiteral("MaskEdit3"));
    QVERIFY(gbEdit);
    form()->setBackgroundChecked(true);
    gbEdit->setText(QStringLiteral("0.100"));
    QCOMPARE(model().LPC.Gb, 0.1);
    QVERIFY(windows().csMainForm->Store());
    form()->setBackgroundChecked(false);
    QCOMPARE(model().LPC.Gb, 0.0);

    auto *list = m_main->findChild<QListWidget *>(QStringLiteral("ListBox1"));
    list->setCurrentRow(1);
    QTest::mouseClick(m_main->findChild<QPushButton *>(QStringLiteral("RestoreBtn")), Qt::LeftButton);
    QVERIFY(form()->backgroundChecked());
    QCOMPARE(model().LPC.Gb, 0.1);
    QCOMPARE(gbEdit->text(), QStringLiteral("0.100"));
    QVERIFY(sameModel(model().LPC, model().LPI));
}

QTEST_MAIN(TestModelConfigWindow)
#include "tst_modelconfigwindow.moc"
