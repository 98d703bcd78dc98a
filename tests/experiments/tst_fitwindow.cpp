#include "app/mainwindow.h"
#include "app/startup.h"
#include "experiments/fitwindow.h"
#include "experiments/isvwindow.h"
#include "experiments/measuredoverlay.h"
#include "model/rounding.h"
#include "run/json.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"
#include "widgets/parameterundo.h"
#include "widgets/windowset.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

using namespace cleftsim;

namespace {

// A fit ends within this on any machine; no test asserts its speed [msec].
constexpr int FitTimeout = 900000;

// Runs cleftsim-batch with args; its standard output, or why it failed.
QByteArray runBatch(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(CLEFTSIM_BATCH_EXE), args);
    if (!process.waitForFinished(FitTimeout) || process.exitCode() != 0)
        return QByteArray("failed: ") + process.readAllStandardError();
    return process.readAllStandardOutput();
}

// The number of a member of an object read from JSON text; NaN when absent.
double member(const JsonValue &object, const char *key)
{
    const JsonValue *value = object.member(key);
    return value && value->type == JsonValue::Type::Number ? value->number : std::nan("");
}

} // namespace

class TestFitWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fitEqualsBatchAndApplies();
    void undoTakesBackARestore();
    void namesAndTips_data();
    void namesAndTips();
    void trialsFollowTheSpinRule_data();
    void trialsFollowTheSpinRule();
    void progress_data();
    void progress();
    void breakStopsTheFit();
    void sessionKeepsTheRecordingAndTheFit();

private:
    FitWindow *openFromWindowMenu();
    void setFree(FitWindow *fit, const char *name, double low, double high);
    QString editorText(int editor, const char *name) const;

    QTemporaryDir m_dir;
    QString m_data; // a sweep of cleftsim-batch at Rg = 1.50, as measured data
    std::unique_ptr<MainWindow> m_main;
};

void TestFitWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QByteArray sweep
        = runBatch({"isv", "--Rg", "1.50", "--trials", "30", "--seed", "11", "--format", "csv"});
    QVERIFY2(sweep.startsWith("V2_mV,"), sweep.constData());
    m_data = m_dir.filePath(QStringLiteral("rg150.csv"));
    QFile file(m_data);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(sweep);
}

void TestFitWindow::init()
{
    m_main = createWindowSet();
    m_main->show();
    auto data = std::make_shared<MeasuredData>();
    RunProblem problem;
    QVERIFY(readMeasuredData(m_data.toStdString(), *data, &problem));
    measuredData().setData(data);
}

void TestFitWindow::cleanup()
{
    measuredData().setData(nullptr);
    m_main.reset();
    windows() = WindowSet {};
    seedChoice() = SeedChoice {};
    parameterUndo().clear();
}

FitWindow *TestFitWindow::openFromWindowMenu()
{
    QMenu *menu = m_main->windowMenu();
    emit menu->aboutToShow();
    QAction *entry = menu->findChild<QAction *>(QStringLiteral("FitToMeasuredData"));
    if (!entry)
        return nullptr;
    entry->trigger();
    return fitWindow();
}

void TestFitWindow::setFree(FitWindow *fit, const char *name, double low, double high)
{
    fit->findChild<QCheckBox *>(QStringLiteral("Free_") + QLatin1String(name))->setChecked(true);
    fit->findChild<QDoubleSpinBox *>(QStringLiteral("Low_") + QLatin1String(name))->setValue(low);
    fit->findChild<QDoubleSpinBox *>(QStringLiteral("High_") + QLatin1String(name))->setValue(high);
}

QString TestFitWindow::editorText(int editor, const char *name) const
{
    auto *edit = windows().forms[editor]->findChild<QLineEdit *>(QLatin1String(name));
    return edit ? edit->text() : QStringLiteral("no editor");
}

void TestFitWindow::fitEqualsBatchAndApplies()
{
    FitWindow *fit = openFromWindowMenu();
    QVERIFY(fit);
    QVERIFY(fit->isVisible());
    QVERIFY(fit->subWindow());
    QCOMPARE(fit->findChild<QLabel *>(QStringLiteral("Current_Rg"))->text(), QStringLiteral("0.50 GOhm"));
    setFree(fit, "Rg", 1.0, 2.0);
    fit->findChild<SpinEdit *>(QStringLiteral("TrialsEdit"))->setValue(100);
    fit->findChild<QLineEdit *>(QStringLiteral("SeedEdit"))->setText(QStringLiteral("5"));
    QSignalSpy ended(fit, &FitWindow::fitEnded);
    QTest::mouseClick(fit->findChild<QPushButton *>(QStringLiteral("RunBtn")), Qt::LeftButton);
    QVERIFY(fit->running());
    QVERIFY(!fit->findChild<QPushButton *>(QStringLiteral("RunBtn"))->isEnabled());
    // An edit while the fit runs is not part of it: the fit took the current
    // values at Run.
    const ParameterSet atRun = model().LPC;
    windows().forms[1]->findChild<SpinEdit *>(QStringLiteral("SpinEditN"))->setValue(6);
    QCOMPARE(model().LPC.N, 6);
    QVERIFY(ended.count() == 1 || ended.wait(FitTimeout));
    QVERIFY(!fit->running());
    const FitResult *result = fit->result();
    QVERIFY(result);
    QVERIFY(result->request.fixed == atRun);
    QVERIFY2(result->intervals[0].first <= 1.5 && 1.5 <= result->intervals[0].second,
        qPrintable(
            QStringLiteral("[%1, %2]").arg(result->intervals[0].first).arg(result->intervals[0].second)));
    QVERIFY(fit->profile(0)->isVisibleTo(fit));
    QVERIFY(!fit->profile(1)->isVisibleTo(fit));
    QVERIFY(fit->findChild<QPlainTextEdit *>(QStringLiteral("ResultText"))
                ->toPlainText()
                .contains(QStringLiteral("Rg = ")));
    // The progress line ends with the candidates and the time taken, the bar full.
    QVERIFY2(fit->findChild<QLabel *>(QStringLiteral("ProgressLabel"))
                 ->text()
                 .startsWith(QStringLiteral("%1 candidates in ").arg(result->evaluations)),
        qPrintable(fit->findChild<QLabel *>(QStringLiteral("ProgressLabel"))->text()));
    auto *bar = fit->findChild<QProgressBar *>(QStringLiteral("ProgressBar"));
    QCOMPARE(bar->value(), bar->maximum());

    // The command copied repeats the fit: the same estimate and interval.
    QGuiApplication::clipboard()->clear();
    fit->findChild<QPushButton *>(QStringLiteral("CopyBtn"))->click();
    const QString command = QGuiApplication::clipboard()->text();
    QCOMPARE(command,
        QStringLiteral("cleftsim-batch fit --data %1 --free Rg=1.00:2.00 --trials 100 --seed 5").arg(m_data));
    const QByteArray batch = runBatch(command.split(QLatin1Char(' ')).mid(1));
    JsonValue json;
    RunProblem problem;
    QVERIFY2(parseJson(batch.toStdString(), json, &problem), batch.constData());
    // The batch tool writes the values with the editor's decimals.
    const auto twoDecimals = [](double x) { return QString::fromStdString(formatFixed(x, 2)); };
    const JsonValue *estimates = json.member("estimates");
    const JsonValue *intervals = json.member("intervals");
    QVERIFY(estimates && intervals && intervals->member("Rg"));
    QCOMPARE(twoDecimals(member(*estimates, "Rg")), twoDecimals(result->estimates[0]));
    const JsonValue &interval = *intervals->member("Rg");
    QCOMPARE(interval.array.size(), std::size_t(2));
    QCOMPARE(twoDecimals(interval.array[0].number), twoDecimals(result->intervals[0].first));
    QCOMPARE(twoDecimals(interval.array[1].number), twoDecimals(result->intervals[0].second));

    // Apply sets the whole set the fit ran with through the editors, as
    // typed: the estimate, and N back to the value at Run, which it says.
    auto *isv = static_cast<IsvWindow *>(windows().forms[5]);
    const std::uint32_t seed = 17;
    isv->setSeedSource([seed] { return seed; });
    isv->findChild<SpinEdit *>(QStringLiteral("SpinEdit1"))->setValue(1);
    isv->RunBtnClick();
    QVERIFY(isv->figureData());
    auto *note = fit->findChild<QLabel *>(QStringLiteral("ApplyNote"));
    QCOMPARE(
        note->text(), QStringLiteral("The fit ran with N 10 (6 now): Apply sets these with the estimates."));
    const ParameterSet beforeApply = model().LPC;
    fit->findChild<QPushButton *>(QStringLiteral("ApplyBtn"))->click();
    QCOMPARE(twoDecimals(model().LPC.Rg), twoDecimals(result->estimates[0]));
    QCOMPARE(model().LPC.N, atRun.N);
    QVERIFY(model().LPC == fittedParameters(*result));
    QCOMPARE(note->text(),
        QStringLiteral("Applied the set the fit ran with, also N 10 (6 now) (Edit > Undo takes it back)."));
    QCOMPARE(editorText(1, "MaskEdit1"), twoDecimals(result->estimates[0]));
    QCOMPARE(fit->findChild<QLabel *>(QStringLiteral("Current_Rg"))->text(),
        twoDecimals(result->estimates[0]) + QStringLiteral(" GOhm"));
    QVERIFY(!isv->figureData()); // cleared as by an edit
    // The main window marks the value as changed, as it does for one typed.
    auto *row = m_main->findChild<QLabel *>(QStringLiteral("Label05v"));
    QVERIFY(row);
    QCOMPARE(row->text(), twoDecimals(result->estimates[0]) + QStringLiteral(" GOhm"));
    QCOMPARE(row->palette().color(QPalette::WindowText), colors::Red);

    // Edit > Undo takes the Apply back, editors and panel alike; Redo makes it again.
    QAction *undo = m_main->findChild<QAction *>(QStringLiteral("Undo1"));
    QAction *redo = m_main->findChild<QAction *>(QStringLiteral("Redo1"));
    QVERIFY(undo && redo);
    QCOMPARE(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    QVERIFY(undo->isEnabled());
    undo->trigger();
    QVERIFY(model().LPC == beforeApply);
    QCOMPARE(editorText(1, "MaskEdit1"), QStringLiteral("0.50"));
    QCOMPARE(row->text(), QStringLiteral("0.50 GOhm"));
    QCOMPARE(row->palette().color(QPalette::WindowText), colors::Black);
    QVERIFY(!undo->isEnabled() && redo->isEnabled());
    redo->trigger();
    QVERIFY(model().LPC == fittedParameters(*result));
    QCOMPARE(editorText(1, "MaskEdit1"), twoDecimals(result->estimates[0]));
    // A value typed afterwards ends the history: an Undo never takes it away.
    QVERIFY(undo->isEnabled());
    windows().forms[1]->findChild<SpinEdit *>(QStringLiteral("SpinEditN"))->setValue(12);
    QVERIFY(!undo->isEnabled());
    QCOMPARE(model().LPC.N, 12);
}

void TestFitWindow::undoTakesBackARestore()
{
    // Rg 1.50 stored as state 1; state 0 restored; Undo brings back state 1
    // as the initial state with its entry selected, and the edit after it.
    auto *rg = windows().forms[1]->findChild<QLineEdit *>(QStringLiteral("MaskEdit1"));
    rg->setText(QStringLiteral("1.50"));
    QVERIFY(m_main->Store());
    windows().forms[1]->findChild<SpinEdit *>(QStringLiteral("SpinEditN"))->setValue(12);
    const ParameterSet edited = model().LPC;
    const ParameterSet stored = model().LPI;
    QCOMPARE(stored.Rg, 1.5);
    auto *list = m_main->findChild<QListWidget *>();
    QVERIFY(list);
    list->setCurrentRow(0);
    m_main->ListBox1Click();
    m_main->RestoreBtnClick();
    QCOMPARE(model().LPC.Rg, 0.5);
    QCOMPARE(model().LPC.N, 10);
    QAction *undo = m_main->findChild<QAction *>(QStringLiteral("Undo1"));
    QVERIFY(undo->isEnabled());
    QCOMPARE(undo->text(), QStringLiteral("&Undo Restore 0: default"));
    undo->trigger();
    QVERIFY(model().LPC == edited);
    QCOMPARE(model().LPI, stored);
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(
        m_main->findChild<QLabel *>(QStringLiteral("Label01v"))->text(), QString::fromStdString(stored.Name));
    QCOMPARE(editorText(1, "MaskEdit1"), QStringLiteral("1.50"));
    // N differs from the initial state: marked red as an edit is.
    QCOMPARE(m_main->findChild<QLabel *>(QStringLiteral("Label04v"))->palette().color(QPalette::WindowText),
        colors::Red);
}

void TestFitWindow::namesAndTips_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tip");

    QTest::newRow("duration") << "du"
                              << "duration (du), msec"
                              << "spike duration (du) in msec; accepted 0.10..2.00 (at most 2 decimals)";
    QTest::newRow("exponent") << "ex"
                              << "exponent (ex), mV"
                              << "release exponent step (ex) in mV; accepted 1.00..9.99 (at most 2 decimals)";
    QTest::newRow("norm factor")
        << "gf"
        << "norm factor (gf)"
        << "release norm factor (gf), no unit; accepted 0.0000..0.9999 (at most 4 decimals)";
    QTest::newRow("time constant") << "tc"
                                   << "time constant (tc), msec"
                                   << "conductance time to peak (tc) in msec; accepted 0.50..9.99 (at most 2 "
                                      "decimals)";
    QTest::newRow("a symbol") << "Rg"
                              << "Rg, GOhm"
                              << "gap resistance (Rg) in GOhm; accepted 0.00..9.99 (at most 2 decimals)";
    QTest::newRow("sites") << "N"
                           << "N"
                           << "release sites (N), no unit; accepted 1..20 (whole numbers)";
}

void TestFitWindow::namesAndTips()
{
    QFETCH(QString, code);
    QFETCH(QString, name);
    QFETCH(QString, tip);
    FitWindow *fit = showFitWindow();
    auto *label = fit->findChild<QLabel *>(QStringLiteral("Name_") + code);
    QVERIFY(label);
    QCOMPARE(label->text(), name);
    QCOMPARE(label->toolTip(), tip);
    QCOMPARE(fit->findChild<QCheckBox *>(QStringLiteral("Free_") + code)->toolTip(), tip);
    QCOMPARE(fit->findChild<QDoubleSpinBox *>(QStringLiteral("High_") + code)->toolTip(), tip);
}

void TestFitWindow::trialsFollowTheSpinRule_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("trials"); // of the request

    QTest::newRow("above the range") << "20000"
                                     << "10000" << 10000;
    QTest::newRow("the largest") << "10000"
                                 << "10000" << 10000;
    QTest::newRow("the smallest") << "1"
                                  << "1" << 1;
    QTest::newRow("below the range") << "0"
                                     << "1" << 1;
    QTest::newRow("inside") << "250"
                            << "250" << 250;
}

void TestFitWindow::trialsFollowTheSpinRule()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, trials);
    FitWindow *fit = showFitWindow();
    setFree(fit, "Rg", 1.0, 2.0);
    auto *edit = fit->findChild<SpinEdit *>(QStringLiteral("TrialsEdit"));
    edit->setText(typed);
    QCOMPARE(edit->text(), shown);
    FitRequest request;
    RunProblem problem;
    QVERIFY2(fit->makeRequest(request, &problem), problem.text().c_str());
    QCOMPARE(request.trials, trials);
}

void TestFitWindow::progress_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("value"); // of a bar of 100 a stage
    QTest::addColumn<QString>("text"); // 75 seconds after Run

    QTest::newRow("the coarse grid begun") << "coarse grid" << 0 << 0 << 400 << true << 0
                                           << "coarse grid (stage 1 of 4), 0 of 400; 0 candidates, 1:15";
    QTest::newRow("the coarse grid half done")
        << "coarse grid" << 0 << 200 << 400 << true << 50
        << "coarse grid (stage 1 of 4), 200 of 400; 200 candidates, 1:15";
    QTest::newRow("the coarse grid done") << "coarse grid" << 0 << 400 << 400 << true << 100
                                          << "coarse grid (stage 1 of 4), 400 of 400; 400 candidates, 1:15";
    QTest::newRow("a stage of unknown size")
        << "profile Rg" << 2 << 35 << 0 << true << 200 << "profile Rg (stage 3 of 4); 435 candidates, 1:15";
    QTest::newRow("the last stage") << "profile N" << 3 << 12 << 0 << true << 300
                                    << "profile N (stage 4 of 4); 412 candidates, 1:15";
    QTest::newRow("ended") << "profile N" << 3 << 12 << 0 << false << 300 << "412 candidates in 1:15";
}

void TestFitWindow::progress()
{
    QFETCH(QString, stage);
    QFETCH(int, index);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(bool, running);
    QFETCH(int, value);
    QFETCH(QString, text);
    FitProgressStep step;
    step.stage = stage.toStdString();
    step.stageIndex = index;
    step.stageCount = 4;
    step.done = done;
    step.total = total;
    step.evaluations = index == 0 ? done : 400 + done;
    QCOMPARE(fitProgressValue(step, 100), value);
    QCOMPARE(fitProgressText(step, 75999, running), text);
}

void TestFitWindow::breakStopsTheFit()
{
    FitWindow *fit = showFitWindow();
    // A fit of two parameters over their whole ranges at the most trials:
    // far longer than the moment between Run and Break on any machine.
    setFree(fit, "Rg", 0.0, 9.99);
    setFree(fit, "Gmax", 0.0, 9.99);
    fit->findChild<SpinEdit *>(QStringLiteral("TrialsEdit"))->setValue(10000);
    const ParameterSet before = model().LPC;
    QSignalSpy ended(fit, &FitWindow::fitEnded);
    QTest::mouseClick(fit->findChild<QPushButton *>(QStringLiteral("RunBtn")), Qt::LeftButton);
    QVERIFY(fit->running());
    QPushButton *breakBtn = fit->findChild<QPushButton *>(QStringLiteral("BreakBtn"));
    QVERIFY(breakBtn->isEnabled());
    QTest::mouseClick(breakBtn, Qt::LeftButton);
    QVERIFY(ended.count() == 1 || ended.wait(FitTimeout));
    QVERIFY(!fit->running());
    QVERIFY(!fit->result());
    QVERIFY(fit->findChild<QPlainTextEdit *>(QStringLiteral("ResultText"))
                ->toPlainText()
                .startsWith(QStringLiteral("Stopped by Break")));
    QVERIFY(!fit->findChild<QPushButton *>(QStringLiteral("ApplyBtn"))->isEnabled());
    QVERIFY(fit->findChild<QPushButton *>(QStringLiteral("RunBtn"))->isEnabled());
    QVERIFY(model().LPC == before);
}

void TestFitWindow::sessionKeepsTheRecordingAndTheFit()
{
    FitWindow *fit = showFitWindow();
    setFree(fit, "Rg", 1.0, 2.0);
    fit->findChild<SpinEdit *>(QStringLiteral("TrialsEdit"))->setValue(50);
    fit->findChild<QLineEdit *>(QStringLiteral("SeedEdit"))->setText(QStringLiteral("5"));
    QSignalSpy ended(fit, &FitWindow::fitEnded);
    fit->RunBtnClick();
    QVERIFY(ended.count() == 1 || ended.wait(FitTimeout));
    QVERIFY(fit->result());
    const FitResult fitted = *fit->result();
    const MeasuredData recording = *measuredData().data();
    const QString path = m_dir.filePath(QStringLiteral("session.json"));
    QVERIFY(m_main->saveStates(path));

    // A fresh program, the recording's file gone: the session brings back
    // the recording and the fit, which the Fit window shows when opened.
    cleanup();
    QFile::rename(m_data, m_data + QStringLiteral(".moved"));
    m_main = createWindowSet();
    m_main->show();
    QVERIFY(!measuredData().data());
    const bool opened = m_main->openStates(path);
    QFile::rename(m_data + QStringLiteral(".moved"), m_data);
    QVERIFY(opened);
    const MeasuredDataPtr back = measuredData().data();
    QVERIFY(back);
    QCOMPARE(back->name, recording.name);
    QCOMPARE(back->sha256, recording.sha256);
    QCOMPARE(back->points.size(), recording.points.size());
    QVERIFY(lastFit());
    FitWindow *again = showFitWindow();
    QVERIFY(again->result());
    QVERIFY(again->result()->estimates == fitted.estimates);
    QVERIFY(again->result()->intervals == fitted.intervals);
    QVERIFY(again->profile(0)->isVisibleTo(again));
    QVERIFY(again->findChild<QPlainTextEdit *>(QStringLiteral("ResultText"))
                ->toPlainText()
                .startsWith(QStringLiteral("Rg = ")));
    QVERIFY(again->findChild<QPushButton *>(QStringLiteral("ApplyBtn"))->isEnabled());

    // The default set with a recording is a session worth keeping.
    QFile::remove(MainWindow::lastSessionPath());
    QVERIFY(m_main->keepSession());
    QFile kept(MainWindow::lastSessionPath());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    const QByteArray text = kept.readAll();
    QVERIFY(text.contains("\"measured\": {\"file\": "));
    QVERIFY(text.contains("\"fit\": {\"free\": {\"Rg\": [1, 2]}"));
    // Without a recording it leaves the kept session in place, as before.
    measuredData().setData(nullptr);
    QVERIFY(QFile::remove(MainWindow::lastSessionPath()));
    QVERIFY(m_main->keepSession());
    QVERIFY(!QFileInfo::exists(MainWindow::lastSessionPath()));
}

QTEST_MAIN(TestFitWindow)
#include "tst_fitwindow.moc"
