#include "app/mainwindow.h"
#include "app/startup.h"
#include "experiments/copywindows.h"
#include "experiments/histogramswindow.h"
#include "experiments/isvwindow.h"
#include "experiments/recordswindow.h"
#include "widgets/currentmodel.h"
#include "widgets/figureview.h"

#include <QtTest>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>

using namespace cleftsim;

namespace {

constexpr std::uint32_t FixedSeed = 4294967200u; // near the top: trial seeds are mixed, never wrap

// An entry of the figure's context menu by its text; nullptr when absent.
QAction *menuEntry(QMenu &menu, const QString &text)
{
    const auto actions = menu.actions();
    for (QAction *a : actions)
        if (a->text() == text)
            return a;
    return nullptr;
}

QString copiedCommand(FigureView *view)
{
    QMenu menu;
    view->fillContextMenu(menu);
    QAction *copy = menuEntry(menu, QStringLiteral("Copy batch command"));
    if (!copy || !copy->isEnabled())
        return QString();
    QGuiApplication::clipboard()->clear();
    copy->trigger();
    return QGuiApplication::clipboard()->text();
}

// Runs a copied command line through cleftsim-batch; its standard output.
QByteArray runCommand(const QString &command, const QStringList &more = {})
{
    QStringList args = command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (args.isEmpty() || args.takeFirst() != QStringLiteral("cleftsim-batch"))
        return QByteArray("not a batch command: ") + command.toUtf8();
    QProcess process;
    process.start(QStringLiteral(CLEFTSIM_BATCH_EXE), args + more);
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return QByteArray("failed: ") + process.readAllStandardError();
    return process.readAllStandardOutput();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
}

// Answers the modal dialogs that open, one after the other, as a user would:
// each answer gets the dialog on top once it is there, and closes it. The
// answers not reached are counted.
class DialogAnswers : public QObject {
public:
    explicit DialogAnswers(std::vector<std::function<void(QWidget *)>> answers)
        : m_answers(std::move(answers))
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            // Each answer closes its dialog: one open now is a new question,
            // or the same dialog asking again.
            QWidget *dialog = QApplication::activeModalWidget();
            if (!dialog || !dialog->isVisible() || m_next >= m_answers.size())
                return;
            m_answers[m_next++](dialog);
        });
        m_timer.start();
    }
    std::size_t unanswered() const { return m_answers.size() - m_next; }

private:
    std::vector<std::function<void(QWidget *)>> m_answers;
    std::size_t m_next = 0;
    QTimer m_timer;
};

// Types a name into the save dialog with a filter chosen, as in its combo
// box, and accepts; first takes the name it proposed.
std::function<void(QWidget *)> saveAs(const QString &name, int filter, QString *proposed = nullptr)
{
    return [=](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog)
            return;
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (proposed && edit)
            *proposed = edit->text();
        if (auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))) {
            combo->setCurrentIndex(filter);
            emit combo->activated(filter);
            emit combo->textActivated(combo->itemText(filter));
        }
        if (edit)
            edit->setText(name);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

} // namespace

// A figure made in its real window with a fixed (or the clock's) seed is
// repeated byte for byte by the batch command its context menu copies, and
// its "Save data..." writes exactly what that command prints.
class TestReproduceRuns : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void figureIsRepeatedByItsCommand_data();
    void figureIsRepeatedByItsCommand();
    void sweepStoppedByBreakOffersNoCommand();
    void sweepEditedMidwayKeepsItsOwnPoints();
    void dataSavedThroughTheDialog();
    void dataNamesFollowTheParameters();
    void histogramsCsvNameGetsJson();
    void fixedSeedDialog();

private:
    template <class W> W *window(const char *name) const
    {
        return m_main->findChild<W *>(QLatin1String(name));
    }
    // Pastes a value into an edit of a window, as the user does.
    void type(const char *form, const char *edit, const QString &text);

    std::unique_ptr<MainWindow> m_main;
    QTemporaryDir m_dir;
};

void TestReproduceRuns::initTestCase()
{
    applyClassicLook(*qApp);
    fixNumberFormat();
    QVERIFY(m_dir.isValid());
}

void TestReproduceRuns::init()
{
    m_main = createWindowSet();
    m_main->setSeedAsker([](std::uint32_t) { return std::optional<std::uint32_t>(FixedSeed); });
}

void TestReproduceRuns::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
    seedChoice() = SeedChoice {};
    setDataPathChooser({});
}

void TestReproduceRuns::type(const char *form, const char *edit, const QString &text)
{
    auto *line = window<QWidget>(form)->findChild<QLineEdit *>(QLatin1String(edit));
    QVERIFY(line);
    QGuiApplication::clipboard()->setText(text);
    line->setFocus();
    line->selectAll();
    line->paste();
}

void TestReproduceRuns::figureIsRepeatedByItsCommand_data()
{
    QTest::addColumn<QString>("experiment");
    QTest::addColumn<bool>("fixedSeed");
    QTest::addColumn<int>("runsBefore"); // Runs before the edit (none without one)
    QTest::addColumn<int>("runsAfter");
    QTest::addColumn<QString>("expectedSeeds"); // the start of the seeds shown
    QTest::addColumn<QString>("commandPart"); // how the command names them
    // The name "Save data..." proposes: the name a Store would give the
    // unstored edits, with the extension of the first form offered.
    QTest::addColumn<QString>("proposed");

    QTest::newRow("records") << "records" << true << 0 << 3 << "Seeds 2856872673, 4203929645"
                             << "--seed 4294967200 --trials 3 "
                             << "1_0V2_records.txt";
    QTest::newRow("records, clock seeds") << "records" << false << 0 << 4 << "Seeds "
                                          << "--seeds "
                                          << "1_0V2_records.txt";
    QTest::newRow("records, 7 Runs") << "records" << true << 0 << 7
                                     << "Seeds 2856872673, 4203929645, 3434085932, 243859841, 598015892, "
                                        "2237908625, … (7 seeds)"
                                     << "--seed 4294967200 --trials 7 "
                                     << "1_0V2_records.txt";
    QTest::newRow("records after an edit") << "records" << true << 2 << 2 << "Seeds 2856872673, 4203929645"
                                           << "--trials 2 --N 7"
                                           << "1_0n7V2_records.txt";
    QTest::newRow("records after the 101st Run") << "records" << true << 0 << 101 << "Seed 2856872673"
                                                 << "--seed 4294967200 --V2"
                                                 << "1_0V2_records.txt";
    QTest::newRow("isv with background") << "isv" << true << 0 << 1 << "Seed 4294967200"
                                         << "--background"
                                         << "1_0+V2Gb_isv.csv";
    QTest::newRow("histograms after an edit") << "histograms" << true << 1 << 1 << "Seed 4294967200"
                                              << "--trials 300 --N 7"
                                              << "1_0n7V2_histograms.json";
}

void TestReproduceRuns::figureIsRepeatedByItsCommand()
{
    QFETCH(QString, experiment);
    QFETCH(bool, fixedSeed);
    QFETCH(int, runsBefore);
    QFETCH(int, runsAfter);
    QFETCH(QString, expectedSeeds);
    QFETCH(QString, commandPart);
    QFETCH(QString, proposed);

    if (fixedSeed)
        m_main->fileMenu()->findChild<QAction *>(QStringLiteral("FixedSeed1"))->trigger();
    QCOMPARE(seedChoice().fixed, fixedSeed);
    type("csForm1", "SpinEditV2", QStringLiteral("-40"));
    QCOMPARE(model().LPC.V2, -40.0);

    ChildWindow *form = nullptr;
    FigureView *view = nullptr;
    std::function<FigureDataPtr()> data;
    if (experiment == QLatin1String("records")) {
        auto *w = window<RecordsWindow>("csForm4");
        form = w;
        view = w->image3();
        data = [w] { return w->figureData(); };
    } else if (experiment == QLatin1String("isv")) {
        window<QCheckBox>("CheckBox1")->click();
        QVERIFY(model().LPC.BackgroundOn);
        type("csForm3", "MaskEdit3", QStringLiteral("0.050"));
        QCOMPARE(model().LPC.Gb, 0.05);
        auto *w = window<IsvWindow>("csForm5");
        type("csForm5", "SpinEdit1", QStringLiteral("2"));
        form = w;
        view = w->image(2);
        data = [w] { return w->figureData(); };
    } else {
        auto *w = window<HistogramsWindow>("csForm6");
        type("csForm6", "SpinEdit1", QStringLiteral("300"));
        form = w;
        view = w->image(1);
        data = [w] { return w->figureData(); };
    }
    auto *run = form->findChild<QPushButton *>(QStringLiteral("RunBtn"));
    for (int i = 0; i < runsBefore; ++i)
        run->click();
    if (runsBefore > 0) {
        type("csForm1", "SpinEditN", QStringLiteral("7"));
        QCOMPARE(model().LPC.N, 7);
        QVERIFY(!data());
    }
    for (int i = 0; i < runsAfter; ++i)
        run->click();
    QVERIFY(data());

    QMenu menu;
    view->fillContextMenu(menu);
    QStringList entries;
    for (QAction *a : menu.actions())
        entries << a->text();
    QVERIFY2(std::any_of(entries.begin(), entries.end(),
                 [&](const QString &e) { return e.startsWith(expectedSeeds); }),
        qPrintable(entries.join(QLatin1Char('|'))));

    const QString command = copiedCommand(view);
    QVERIFY2(command.startsWith(QStringLiteral("cleftsim-batch ") + experiment), qPrintable(command));
    QVERIFY2(command.contains(commandPart), qPrintable(command));
    const QByteArray printed = runCommand(command);
    const QByteArray printedJson = experiment == QLatin1String("histograms")
        ? printed
        : runCommand(command, {QStringLiteral("--format"), QStringLiteral("json")});

    // "Save data..." in either form writes what the command prints; a name
    // without an extension gets the form's.
    const QString textExtension = experiment == QLatin1String("records") ? QStringLiteral(".txt")
        : experiment == QLatin1String("isv")                             ? QStringLiteral(".csv")
                                                                         : QStringLiteral(".json");
    for (const bool json : {false, true}) {
        const QString path = m_dir.filePath(QStringLiteral("data-%1").arg(json));
        QString offered;
        setDataPathChooser([&](const QString &name, const QStringList &filters, QString *filter) {
            offered = name;
            *filter = json ? filters.constLast() : filters.constFirst();
            return path;
        });
        menuEntry(menu, QStringLiteral("Save data..."))->trigger();
        QCOMPARE(offered, proposed);
        QCOMPARE(
            fileBytes(path + (json ? QStringLiteral(".json") : textExtension)), json ? printedJson : printed);
    }
    // A frozen copy keeps the data of its figure.
    const int copies = m_main->frame()->subWindowList().size();
    form->findChild<QAbstractButton *>(QStringLiteral("DuplicateBtn"))->click();
    QCOMPARE(m_main->frame()->subWindowList().size(), copies + 1);
    auto *copy = qobject_cast<FigureCopyWindow *>(m_main->frame()->subWindowList().constLast()->widget());
    QVERIFY(copy);
    QCOMPARE(copiedCommand(copy->findChild<FigureView *>(view->objectName())), command);
}

void TestReproduceRuns::sweepStoppedByBreakOffersNoCommand()
{
    auto *w = window<IsvWindow>("csForm5");
    auto *breakBtn = w->findChild<QPushButton *>(QStringLiteral("BreakBtn"));
    QTimer::singleShot(0, breakBtn, [breakBtn] { breakBtn->click(); });
    w->RunBtnClick();
    QVERIFY(w->figureData());
    QVERIFY(w->pointsDrawn() < 181);

    QMenu menu;
    w->image(1)->fillContextMenu(menu);
    QVERIFY(!menuEntry(menu, QStringLiteral("Copy batch command"))->isEnabled());
    bool told = false;
    for (QAction *a : menu.actions())
        told = told || a->text().startsWith(QStringLiteral("Stopped by Break at V2 = "));
    QVERIFY(told);

    // Its data are the points it ran.
    const QString path = m_dir.filePath(QStringLiteral("broken.csv"));
    setDataPathChooser([&](const QString &, const QStringList &filters, QString *filter) {
        *filter = filters.constFirst();
        return path;
    });
    menuEntry(menu, QStringLiteral("Save data..."))->trigger();
    QCOMPARE(fileBytes(path).count('\n'), w->pointsDrawn() + 1);
}

void TestReproduceRuns::sweepEditedMidwayKeepsItsOwnPoints()
{
    auto *w = window<IsvWindow>("csForm5");
    type("csForm5", "SpinEdit1", QStringLiteral("100"));
    QCOMPARE(w->TrialCount(), 100);
    w->setYieldInterval(0); // a yield at every resting place
    // The sweep rests after the 50th and the 100th trial of a point and after
    // the point: the edit comes halfway through the fourth point, at +37 mV.
    int restsAfterThree = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (w->pointsDrawn() == 3 && ++restsAfterThree == 2) {
            type("csForm2", "MaskEdit3", QStringLiteral("0.0000")); // gf: no release from now on
            QCOMPARE(model().LPC.gf, 0.0);
        }
    });
    ticker.start(0);
    w->RunBtnClick();
    ticker.stop();
    QCOMPARE(restsAfterThree, 3); // the edit came while the fourth point was under way
    QCOMPARE(w->pointsDrawn(), 181);

    QMenu menu;
    w->image(1)->fillContextMenu(menu);
    QVERIFY(!menuEntry(menu, QStringLiteral("Copy batch command"))->isEnabled());
    const QString note
        = QStringLiteral("The parameters changed during this sweep: it holds the points from "
                         "V2 = 36 mV on, run wholly with these parameters; no command repeats it.");
    QVERIFY(menuEntry(menu, note));

    // Offered as JSON under a name that says it is partial; its CSV is
    // refused with a message that points to the JSON, and nothing is written.
    QStringList errors;
    setDataErrorReporter([&](const QString &e) { errors << e; });
    const QString csv = m_dir.filePath(QStringLiteral("edited.csv"));
    QString offered;
    QString offeredFilter;
    int offeredFilters = 0;
    setDataPathChooser([&](const QString &name, const QStringList &filters, QString *filter) {
        offered = name;
        offeredFilter = *filter;
        offeredFilters = int(filters.size());
        *filter = filters.constFirst();
        return csv;
    });
    menuEntry(menu, QStringLiteral("Save data..."))->trigger();
    QCOMPARE(offered, QStringLiteral("1_0gf_isv_partial.json"));
    QVERIFY(offeredFilter.contains(QStringLiteral("*.json")));
    QCOMPARE(offeredFilters, 2);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(QDir::toNativeSeparators(csv)) && errors[0].contains(QStringLiteral(".json")),
        qPrintable(errors[0]));
    QVERIFY(!QFileInfo::exists(csv));
    setDataErrorReporter({});

    const QString path = m_dir.filePath(QStringLiteral("edited.json"));
    setDataPathChooser([&](const QString &, const QStringList &filters, QString *filter) {
        *filter = filters.constFirst(); // the extension typed decides
        return path;
    });
    menuEntry(menu, QStringLiteral("Save data..."))->trigger();
    const QJsonDocument json = QJsonDocument::fromJson(fileBytes(path));
    QVERIFY(json.isObject());
    const QJsonObject o = json.object();
    QCOMPARE(o.value("parameters").toObject().value("gf").toDouble(), 0.0);
    QCOMPARE(o.value("complete").toBool(true), false);
    QCOMPARE(o.value("note").toString(), note);
    // Only the points run wholly with gf = 0: the one under way at the edit,
    // which mixes trials of both sets, is not among them.
    const QJsonArray points = o.value("points").toArray();
    QCOMPARE(points.size(), 36 + 140 + 1);
    QCOMPARE(points.first().toObject().value("V2_mV").toInt(), 36);
    for (const QJsonValue &p : points) {
        QCOMPARE(p.toObject().value("trials").toInt(), 100);
        QCOMPARE(p.toObject().value("mean_quanta").toDouble(), 0.0);
    }
}

void TestReproduceRuns::dataSavedThroughTheDialog()
{
    QStringList errors;
    setDataErrorReporter([&](const QString &e) { errors << e; });
    type("csForm1", "MaskEdit1", QStringLiteral("1.50"));
    QCOMPARE(model().LPC.Rg, 1.5);
    auto *w = window<IsvWindow>("csForm5");
    type("csForm5", "SpinEdit1", QStringLiteral("1"));
    w->RunBtnClick();
    QVERIFY(w->figureData());
    const QByteArray csv = QByteArray::fromStdString(figureOutput(*w->figureData(), OutputFormat::Text));
    const QByteArray json = QByteArray::fromStdString(figureOutput(*w->figureData(), OutputFormat::Json));
    QVERIFY(csv.startsWith("V2_mV,"));
    QVERIFY(json.startsWith("{"));

    const auto save = [&](std::function<void(QWidget *)> answer) {
        DialogAnswers answers({std::move(answer)});
        QMenu menu;
        w->image(1)->fillContextMenu(menu);
        menuEntry(menu, QStringLiteral("Save data..."))->trigger();
        QCOMPARE(answers.unanswered(), std::size_t(0));
    };
    QDir::setCurrent(m_dir.path());
    // The name proposed names the unstored edit as a Store would.
    QString proposed;
    save(saveAs(m_dir.filePath("x.json"), 0, &proposed));
    QCOMPARE(proposed, QStringLiteral("1_0Rg_isv.csv"));
    QCOMPARE(model().StoredCount, 0); // nothing stored by proposing
    // The extension typed decides over the filter chosen; a bare name gets the filter's.
    QCOMPARE(fileBytes(m_dir.filePath("x.json")), json);
    save(saveAs(m_dir.filePath("y.csv"), 1));
    QCOMPARE(fileBytes(m_dir.filePath("y.csv")), csv);
    save(saveAs(m_dir.filePath("z"), 1));
    QCOMPARE(fileBytes(m_dir.filePath("z.json")), json);
    save(saveAs(m_dir.filePath("Z.JSON"), 0));
    QCOMPARE(fileBytes(m_dir.filePath("Z.JSON")), json);
    save(saveAs(m_dir.filePath("w.txt"), 0)); // not a form of a sweep: the filter's form
    QCOMPARE(fileBytes(m_dir.filePath("w.txt")), csv);
    QVERIFY(errors.isEmpty());

    // A save that fails says so once, naming the file and the reason.
    QFile plain(m_dir.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString target = m_dir.filePath("plain/sweep.csv");
    save(saveAs(target, 0));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(QDir::toNativeSeparators(target)), qPrintable(errors[0]));
    QVERIFY2(errors[0].size() > QDir::toNativeSeparators(target).size() + 20, qPrintable(errors[0]));
    setDataErrorReporter({});
}

void TestReproduceRuns::dataNamesFollowTheParameters()
{
    // States 1 (Rg 1.50) and 2 (Rg 3.00) stored, then Rg back to 1.50
    // without a Store: the figure's parameters are those of state 1.
    type("csForm1", "MaskEdit1", QStringLiteral("1.50"));
    QVERIFY(m_main->Store());
    type("csForm1", "MaskEdit1", QStringLiteral("3.00"));
    QVERIFY(m_main->Store());
    type("csForm1", "MaskEdit1", QStringLiteral("1.50"));
    QCOMPARE(model().LPI.Name, std::string("2: 1>Rg"));
    auto *h = window<HistogramsWindow>("csForm6");
    type("csForm6", "SpinEdit1", QStringLiteral("10"));
    h->RunBtnClick();
    // The names the real save dialog proposes; each is then cancelled.
    const auto proposedData = [&](FigureView *view) {
        QString offered;
        DialogAnswers answers({[&offered](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog)
                return;
            offered = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            dialog->reject();
        }});
        QMenu menu;
        view->fillContextMenu(menu);
        menuEntry(menu, QStringLiteral("Save data..."))->trigger();
        return offered;
    };
    QCOMPARE(proposedData(h->image(1)), QStringLiteral("1_0Rg_histograms.json"));
    QCOMPARE(h->image(1)->proposedName(), QStringLiteral("1_0Rg_histograms_Image1.png"));
    QCOMPARE(model().StoredCount, 2);

    // A copy's two save entries name the state of its caption: the one its
    // Duplicate stored, whatever was current when the Runs began.
    type("csForm1", "MaskEdit1", QStringLiteral("0.75"));
    auto *r = window<RecordsWindow>("csForm4");
    r->findChild<QPushButton *>(QStringLiteral("RunBtn"))->click();
    QCOMPARE(proposedData(r->image3()), QStringLiteral("3_2Rg_records.txt"));
    r->findChild<QAbstractButton *>(QStringLiteral("DuplicateBtn"))->click();
    auto *copy = qobject_cast<RecordsCopyWindow *>(m_main->frame()->subWindowList().constLast()->widget());
    QVERIFY(copy);
    QCOMPARE(copy->windowTitle(), QStringLiteral("3: 2>Rg - Records"));
    QCOMPARE(proposedData(copy->image3()), QStringLiteral("3_2Rg_records.txt"));
    QCOMPARE(copy->image3()->proposedName(), QStringLiteral("3_2Rg_records_Image3.png"));
    // ... and keep it when the current parameters move on.
    type("csForm1", "MaskEdit1", QStringLiteral("0.50"));
    QCOMPARE(proposedData(copy->image3()), QStringLiteral("3_2Rg_records.txt"));
}

void TestReproduceRuns::histogramsCsvNameGetsJson()
{
    auto *h = window<HistogramsWindow>("csForm6");
    type("csForm6", "SpinEdit1", QStringLiteral("10"));
    h->RunBtnClick();
    QVERIFY(h->figureData());
    QString filterShown;
    DialogAnswers answers({[&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog)
            return;
        filterShown = dialog->nameFilters().join(QStringLiteral(";;"));
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(m_dir.filePath("h1.csv"));
        QMetaObject::invokeMethod(dialog, "accept");
    }});
    QMenu menu;
    h->image(1)->fillContextMenu(menu);
    menuEntry(menu, QStringLiteral("Save data..."))->trigger();
    QCOMPARE(answers.unanswered(), std::size_t(0));
    // The one filter says what becomes of the name; the data are JSON under .json.
    QVERIFY2(filterShown.contains(QStringLiteral(".csv is saved as .json")), qPrintable(filterShown));
    QVERIFY(!QFileInfo::exists(m_dir.filePath("h1.csv")));
    QCOMPARE(fileBytes(m_dir.filePath("h1.json")),
        QByteArray::fromStdString(figureOutput(*h->figureData(), OutputFormat::Json)));
}

void TestReproduceRuns::fixedSeedDialog()
{
    m_main->setSeedAsker({}); // the real question
    QStringList errors;
    m_main->setErrorPresenter([&](const QString &e) { errors << e; });
    const auto answer = [](const QString &text) {
        return [text](QWidget *w) {
            auto *dialog = qobject_cast<QInputDialog *>(w);
            if (!dialog)
                return;
            dialog->findChild<QLineEdit *>()->setText(text);
            dialog->accept();
        };
    };
    QAction *fixed = m_main->fileMenu()->findChild<QAction *>(QStringLiteral("FixedSeed1"));
    QAction *clock = m_main->fileMenu()->findChild<QAction *>(QStringLiteral("ClockSeeds1"));
    {
        // A seed above 2^32 - 1 is refused with what is accepted, then asked again.
        DialogAnswers answers({answer(QStringLiteral("9999999999")), answer(QStringLiteral("4711"))});
        fixed->trigger();
        QCOMPARE(answers.unanswered(), std::size_t(0));
    }
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(QStringLiteral("9999999999"))
            && errors[0].contains(QStringLiteral("0 to 4294967295")),
        qPrintable(errors[0]));
    QVERIFY(seedChoice().fixed);
    QCOMPARE(seedChoice().seed, 4711u);
    {
        // Typed key by key, what is no seed is refused as typed, not rewritten
        // into another number, and comes back as it was; the largest seed is taken.
        const QStringList typed {"-1", "1e3", "42.0", "4294967296"};
        QStringList shownAgain;
        std::vector<std::function<void(QWidget *)>> keys;
        for (int i = 0; i <= typed.size(); ++i)
            keys.push_back([&, i](QWidget *w) {
                auto *dialog = qobject_cast<QInputDialog *>(w);
                if (!dialog)
                    return;
                auto *edit = dialog->findChild<QLineEdit *>();
                if (i > 0)
                    shownAgain << edit->text();
                edit->selectAll();
                QTest::keyClicks(edit, i < typed.size() ? typed[i] : QStringLiteral("4294967295"));
                dialog->accept();
            });
        DialogAnswers answers(std::move(keys));
        fixed->trigger();
        QCOMPARE(answers.unanswered(), std::size_t(0));
        QCOMPARE(shownAgain, typed);
    }
    QCOMPARE(errors.size(), 5);
    for (int i = 1; i < 5; ++i)
        QVERIFY2(errors[i].contains(QStringLiteral("0 to 4294967295")), qPrintable(errors[i]));
    QVERIFY2(errors[1].startsWith(QStringLiteral("-1 is not a seed")), qPrintable(errors[1]));
    QVERIFY2(errors[3].startsWith(QStringLiteral("42.0 is not a seed")), qPrintable(errors[3]));
    QCOMPARE(seedChoice().seed, 4294967295u);
    m_main->chooseSeeds(true, 4711);
    // A cancel keeps the seed and its check mark.
    {
        DialogAnswers answers({[](QWidget *w) {
            if (auto *dialog = qobject_cast<QInputDialog *>(w))
                dialog->reject();
        }});
        fixed->trigger();
        QCOMPARE(answers.unanswered(), std::size_t(0));
    }
    QVERIFY(seedChoice().fixed);
    QCOMPARE(seedChoice().seed, 4711u);
    QVERIFY(fixed->isChecked());
    QVERIFY(!clock->isChecked());
    QCOMPARE(fixed->text(), QStringLiteral("Fi&xed Seed (4711)..."));
    QCOMPARE(errors.size(), 5);
    {
        // Eleven digits are refused even where their value is a seed; ten are taken.
        DialogAnswers answers({answer(QStringLiteral("00000000001")), answer(QStringLiteral("0000000002"))});
        fixed->trigger();
        QCOMPARE(answers.unanswered(), std::size_t(0));
    }
    QCOMPARE(errors.size(), 6);
    QVERIFY2(errors[5].startsWith(QStringLiteral("00000000001 is not a seed")), qPrintable(errors[5]));
    QCOMPARE(seedChoice().seed, 2u);
}

QTEST_MAIN(TestReproduceRuns)
#include "tst_reproduceruns.moc"
