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
#include "widgets/windowset.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
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
    void breakStopsTheFit();

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
    QVERIFY(
        fit->findChild<QLabel *>(QStringLiteral("ResultLabel"))->text().contains(QStringLiteral("Rg = ")));

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

    // Apply sets the estimate through the Scheme Settings editor, as typed;
    // the value edited during the fit stays.
    auto *isv = static_cast<IsvWindow *>(windows().forms[5]);
    const std::uint32_t seed = 17;
    isv->setSeedSource([seed] { return seed; });
    isv->findChild<SpinEdit *>(QStringLiteral("SpinEdit1"))->setValue(1);
    isv->RunBtnClick();
    QVERIFY(isv->figureData());
    fit->findChild<QPushButton *>(QStringLiteral("ApplyBtn"))->click();
    QCOMPARE(twoDecimals(model().LPC.Rg), twoDecimals(result->estimates[0]));
    QCOMPARE(model().LPC.N, 6);
    QCOMPARE(editorText(1, "MaskEdit1"), twoDecimals(result->estimates[0]));
    QCOMPARE(fit->findChild<QLabel *>(QStringLiteral("Current_Rg"))->text(),
        twoDecimals(result->estimates[0]) + QStringLiteral(" GOhm"));
    QVERIFY(!isv->figureData()); // cleared as by an edit
    // The main window marks the value as changed, as it does for one typed.
    auto *row = m_main->findChild<QLabel *>(QStringLiteral("Label05v"));
    QVERIFY(row);
    QCOMPARE(row->text(), twoDecimals(result->estimates[0]) + QStringLiteral(" GOhm"));
    QCOMPARE(row->palette().color(QPalette::WindowText), colors::Red);
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
    QVERIFY(fit->findChild<QLabel *>(QStringLiteral("ResultLabel"))
                ->text()
                .startsWith(QStringLiteral("Stopped by Break")));
    QVERIFY(!fit->findChild<QPushButton *>(QStringLiteral("ApplyBtn"))->isEnabled());
    QVERIFY(fit->findChild<QPushButton *>(QStringLiteral("RunBtn"))->isEnabled());
    QVERIFY(model().LPC == before);
}

QTEST_MAIN(TestFitWindow)
#include "tst_fitwindow.moc"
