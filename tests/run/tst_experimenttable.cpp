#include "run/experimenttable.h"

#include <QtTest>

#include <stdexcept>
#include <string>
#include <variant>

using namespace cleftsim;

Q_DECLARE_METATYPE(cleftsim::Experiment)
Q_DECLARE_METATYPE(cleftsim::Param)

// The experiment table: what each entry says of its experiment, the edits
// that clear its figures, and a run's result holding its experiment's outcome.
class TestExperimentTable : public QObject {
    Q_OBJECT
private slots:
    void entries_data();
    void entries();
    void namesInOrder();
    void clears_data();
    void clears();
    void outcomeOfEachExperiment_data();
    void outcomeOfEachExperiment();
    void seedsOfARun_data();
    void seedsOfARun();
};

void TestExperimentTable::entries_data()
{
    QTest::addColumn<Experiment>("experiment");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("most");
    QTest::addColumn<int>("fallback");
    QTest::addColumn<bool>("seedPerTrial");
    QTest::addColumn<QString>("textFormat"); // empty: JSON alone
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("fitted"); // a fit runs it
    QTest::newRow("records") << Experiment::Records << "records" << 100 << 1 << true << "text"
                             << "txt" << false;
    QTest::newRow("isv") << Experiment::Isv << "isv" << 10000 << 100 << false << "csv"
                         << "csv" << true;
    QTest::newRow("histograms") << Experiment::Histograms << "histograms" << 10000 << 100 << false << ""
                                << "" << false;
}

void TestExperimentTable::entries()
{
    QFETCH(Experiment, experiment);
    QFETCH(QString, name);
    QFETCH(int, most);
    QFETCH(int, fallback);
    QFETCH(bool, seedPerTrial);
    QFETCH(QString, textFormat);
    QFETCH(QString, extension);
    QFETCH(bool, fitted);
    const ExperimentEntry &entry = experimentEntry(experiment);
    QCOMPARE(entry.experiment, experiment);
    QCOMPARE(QString::fromLatin1(entry.name), name);
    QCOMPARE(QString::fromLatin1(experimentName(experiment)), name);
    QCOMPARE(entry.mostTrials, most);
    QCOMPARE(mostTrials(experiment), most);
    QCOMPARE(entry.defaultTrials, fallback);
    QCOMPARE(defaultTrials(experiment), fallback);
    QCOMPARE(
        QString::fromStdString(trialRangeText(experiment)), "1.." + QString::number(most) + " for " + name);
    QCOMPARE(entry.seedPerTrial, seedPerTrial);
    QCOMPARE(QString::fromLatin1(entry.textFormat ? entry.textFormat : ""), textFormat);
    QCOMPARE(QString::fromLatin1(entry.textExtension ? entry.textExtension : ""), extension);
    QCOMPARE(entry.text != nullptr, !textFormat.isEmpty());
    QVERIFY(entry.json != nullptr && entry.run != nullptr && entry.clearedBy != nullptr);
    QCOMPARE(entry.seededPoints != nullptr, fitted);
    // Found by its name, as the batch tool and Python take it.
    Experiment found = experiment == Experiment::Isv ? Experiment::Records : Experiment::Isv;
    QVERIFY(experimentNamed(name.toStdString(), found, nullptr, "EXPERIMENT"));
    QCOMPARE(found, experiment);
}

void TestExperimentTable::namesInOrder()
{
    const std::vector<ExperimentEntry> &table = experimentTable();
    QCOMPARE(int(table.size()), 3);
    for (std::size_t i = 0; i < table.size(); ++i)
        QCOMPARE(int(table[i].experiment), int(i));
    QCOMPARE(QString::fromStdString(experimentNames()), QStringLiteral("records, isv, histograms"));
    Experiment found = Experiment::Isv;
    RunProblem problem;
    QVERIFY(!experimentNamed("sweep", found, &problem, "EXPERIMENT"));
    QCOMPARE(QString::fromStdString(problem.text()),
        QStringLiteral("EXPERIMENT sweep: unknown experiment; accepted records, isv, histograms"));
}

void TestExperimentTable::clears_data()
{
    QTest::addColumn<Experiment>("experiment");
    QTest::addColumn<Param>("edited");
    QTest::addColumn<bool>("cleared");
    QTest::newRow("records: the switch leaves it") << Experiment::Records << Param::BackgroundOn << false;
    QTest::newRow("records: V2 clears it") << Experiment::Records << Param::V2 << true;
    QTest::newRow("records: Gb clears it") << Experiment::Records << Param::Gb << true;
    QTest::newRow("isv: V2 leaves it") << Experiment::Isv << Param::V2 << false;
    QTest::newRow("isv: the switch clears it") << Experiment::Isv << Param::BackgroundOn << true;
    QTest::newRow("isv: Rg clears it") << Experiment::Isv << Param::Rg << true;
    QTest::newRow("histograms: the switch leaves it")
        << Experiment::Histograms << Param::BackgroundOn << false;
    QTest::newRow("histograms: V2 clears it") << Experiment::Histograms << Param::V2 << true;
    QTest::newRow("histograms: N clears it") << Experiment::Histograms << Param::N << true;
}

void TestExperimentTable::clears()
{
    QFETCH(Experiment, experiment);
    QFETCH(Param, edited);
    QFETCH(bool, cleared);
    QCOMPARE(clearsFigures(experiment, edited), cleared);
}

void TestExperimentTable::outcomeOfEachExperiment_data()
{
    QTest::addColumn<Experiment>("experiment");
    QTest::addColumn<QString>("textStart"); // what the text form begins with
    QTest::newRow("records") << Experiment::Records << "161 1 10000";
    QTest::newRow("isv") << Experiment::Isv << "V2_mV,trials,mean_quanta";
    QTest::newRow("histograms") << Experiment::Histograms << "{\n  \"program\": \"Cleftsim\"";
}

void TestExperimentTable::outcomeOfEachExperiment()
{
    QFETCH(Experiment, experiment);
    QFETCH(QString, textStart);
    RunRequest request;
    request.experiment = experiment;
    request.seed = 7;
    request.trials = 1;
    RunDescription run;
    QVERIFY(describeRun(request, run, nullptr));
    const RunResult result = runExperiment(run);
    // The outcome is the experiment's, and only that.
    QCOMPARE(int(result.outcome.index()), int(experiment));
    QCOMPARE(std::holds_alternative<RecordsResult>(result.outcome), experiment == Experiment::Records);
    QCOMPARE(std::holds_alternative<IsvRunResult>(result.outcome), experiment == Experiment::Isv);
    QCOMPARE(std::holds_alternative<HistogramsResult>(result.outcome), experiment == Experiment::Histograms);
    if (experiment != Experiment::Isv)
        QVERIFY_THROWS_EXCEPTION(std::bad_variant_access, result.get<IsvRunResult>());
    const std::string json = runOutput(result, OutputFormat::Json);
    QVERIFY(json.rfind("{\n  \"program\": \"Cleftsim\"", 0) == 0);
    QVERIFY(json.find("\"experiment\": \"" + std::string(experimentName(experiment)) + "\"")
        != std::string::npos);
    const std::string text = runOutput(result, OutputFormat::Text);
    QVERIFY2(text.rfind(textStart.toStdString(), 0) == 0, text.substr(0, 40).c_str());
    // Histograms have no text form: their text is their JSON.
    QCOMPARE(text == json, experiment == Experiment::Histograms);
}

void TestExperimentTable::seedsOfARun_data()
{
    QTest::addColumn<Experiment>("experiment");
    QTest::addColumn<int>("trials");
    QTest::addColumn<int>("seeds");
    QTest::addColumn<QString>("refusal"); // empty: taken
    QTest::newRow("records: a seed per trial") << Experiment::Records << 2 << 2 << "";
    QTest::newRow("records: one seed short")
        << Experiment::Records << 2 << 1
        << "seeds: 1 seeds for 2 trials; accepted one seed per trial for records";
    QTest::newRow("isv: one seed") << Experiment::Isv << 2 << 1 << "";
    QTest::newRow("isv: a seed per trial")
        << Experiment::Isv << 2 << 2 << "seeds: 2 seeds; accepted one seed for isv";
    QTest::newRow("histograms: a seed per trial")
        << Experiment::Histograms << 2 << 2 << "seeds: 2 seeds; accepted one seed for histograms";
}

void TestExperimentTable::seedsOfARun()
{
    QFETCH(Experiment, experiment);
    QFETCH(int, trials);
    QFETCH(int, seeds);
    QFETCH(QString, refusal);
    RunDescription run;
    run.experiment = experiment;
    run.trials = trials;
    run.seeds.assign(std::size_t(seeds), 5u);
    RunProblem problem;
    QCOMPARE(checkRun(run, &problem), refusal.isEmpty());
    if (!refusal.isEmpty())
        QCOMPARE(QString::fromStdString(problem.text()), refusal);
}

QTEST_APPLESS_MAIN(TestExperimentTable)
#include "tst_experimenttable.moc"
