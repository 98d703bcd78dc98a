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

namespace {

// Records what the switch asks of Scheme Settings and passes it on.
struct SchemeSpy : SchemeLink {
    explicit SchemeSpy(SchemeLink *real)
        : real(real)
    {
    }
    void LabelsN0() override
    {
        calls << QStringLiteral("LabelsN0");
        real->LabelsN0();
    }
    void FailuresChart() override
    {
        calls << QStringLiteral("FailuresChart");
        real->FailuresChart();
    }
    void refreshConductanceLabels() override
    {
        calls << QStringLiteral("refreshConductanceLabels");
        real->refreshConductanceLabels();
    }
    void setBackgroundLayout(bool on) override
    {
        calls << QStringLiteral("setBackgroundLayout %1").arg(on);
        real->setBackgroundLayout(on);
    }
    void writeEditors(int N, double Rg, double V2) override
    {
        calls << QStringLiteral("writeEditors");
        real->writeEditors(N, Rg, V2);
    }
    SchemeLink *real;
    QStringList calls;
};

// Records what the switch asks of Subsynaptic Settings.
struct SubsynSpy : SubsynLink {
    void repaintConductancePreview() override { calls << QStringLiteral("repaintConductancePreview"); }
    void repaintQuantaPreview() override { calls << QStringLiteral("repaintQuantaPreview"); }
    void setBackgroundControls(bool on) override
    {
        calls << QStringLiteral("setBackgroundControls %1").arg(on);
    }
    void writeEditors(double, double, double) override { calls << QStringLiteral("writeEditors"); }
    QStringList calls;
};

} // namespace

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
    QTest::addColumn<QStringList>("scheme");
    QTest::addColumn<QStringList>("subsyn");
    QTest::newRow("on") << true << QStringList {"setBackgroundLayout 1", "LabelsN0", "FailuresChart"}
                        << QStringList {"repaintConductancePreview", "setBackgroundControls 1"};
    QTest::newRow("off") << false << QStringList {"setBackgroundLayout 0", "LabelsN0"}
                         << QStringList {"repaintConductancePreview", "setBackgroundControls 0"};
}

// What a switch does in the other windows: only the Is vs V2 figures are
// cleared; the failure-rate chart is drawn when switched on.
void TestModelConfigWindow::switching()
{
    QFETCH(bool, on);
    QFETCH(QStringList, scheme);
    QFETCH(QStringList, subsyn);
    if (!on)
        form()->setBackgroundChecked(true);
    model().LPC.Gb = 0.05;

    SpyScope spies;
    SchemeSpy schemeSpy(windows().csForm1);
    SubsynSpy subsynSpy;
    windows().csForm1 = &schemeSpy;
    windows().csForm3 = &subsynSpy;
    QTest::mouseClick(box(), Qt::LeftButton, {}, QPoint(8, box()->height() / 2));

    QCOMPARE(box()->isChecked(), on);
    QCOMPARE(int(model().LPC.BackgroundOn), on ? 1 : 0);
    QCOMPARE(model().LPC.Gb, 0.0);
    QCOMPARE(schemeSpy.calls, scheme);
    QCOMPARE(subsynSpy.calls, subsyn);
    QCOMPARE(spies.main.shown, (QList<Param> {Param::Gb, Param::BackgroundOn}));
    QCOMPARE(spies.isv.layouts, QList<bool> {on});
    QCOMPARE(spies.isv.emptied, 1);
    QCOMPARE(spies.records.emptied, 0);
    QCOMPARE(spies.histograms.emptied, 0);
}

void TestModelConfigWindow::sameStateRunsNothing()
{
    model().LPC.Gb = 0.05;
    SpyScope spies;
    form()->setBackgroundChecked(false);
    QCOMPARE(model().LPC.Gb, 0.05);
    QCOMPARE(spies.isv.emptied, 0);
    QCOMPARE(spies.main.shown.size(), 0);
    form()->setBackgroundChecked(true);
    model().LPC.Gb = 0.05;
    form()->setBackgroundChecked(true);
    QCOMPARE(model().LPC.Gb, 0.05);
    QCOMPARE(spies.isv.emptied, 1);
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
    if (!gbEdit)
        QSKIP("the Subsynaptic Settings window has no Gb editor yet");
    form()->setBackgroundChecked(true);
    int changes = 0;
    connect(gbEdit, &QLineEdit::textChanged, this, [&changes] { ++changes; });
    gbEdit->setText(QStringLiteral("0.100"));
    QCOMPARE(model().LPC.Gb, 0.1);
    changes = 0;
    SpyScope spies;
    form()->setBackgroundChecked(false);
    QCOMPARE(gbEdit->text(), QStringLiteral("0.000"));
    QCOMPARE(changes, 0); // without running the Gb editor's handler
    QCOMPARE(spies.records.emptied, 0);
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
    if (!gbEdit)
        QSKIP("the Subsynaptic Settings window has no Gb editor yet");
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
