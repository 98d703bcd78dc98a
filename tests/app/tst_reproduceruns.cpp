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
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>

using namespace cleftsim;

namespace {

constexpr std::uint32_t FixedSeed = 4294967200u; // Records seeds wrap past 2^32 after 96 trials

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

    QTest::newRow("records") << "records" << true << 0 << 3 << "Seeds 4294967200, 4294967201"
                             << "--seed 4294967200 --trials 3 ";
    QTest::newRow("records, clock seeds") << "records" << false << 0 << 4 << "Seeds "
                                          << "--seeds ";
    QTest::newRow("records after an edit") << "records" << true << 2 << 2 << "Seeds 4294967200, 4294967201"
                                           << "--trials 2 --N 7";
    QTest::newRow("records after the 101st Run") << "records" << true << 0 << 101 << "Seed 4294967200"
                                                 << "--seed 4294967200 --V2";
    QTest::newRow("isv with background") << "isv" << true << 0 << 1 << "Seed 4294967200"
                                         << "--background";
    QTest::newRow("histograms after an edit") << "histograms" << true << 1 << 1 << "Seed 4294967200"
                                              << "--trials 300 --N 7";
}

void TestReproduceRuns::figureIsRepeatedByItsCommand()
{
    QFETCH(QString, experiment);
    QFETCH(bool, fixedSeed);
    QFETCH(int, runsBefore);
    QFETCH(int, runsAfter);
    QFETCH(QString, expectedSeeds);
    QFETCH(QString, commandPart);

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
    bool seedsShown = false;
    for (QAction *a : menu.actions())
        seedsShown = seedsShown || a->text().startsWith(expectedSeeds);
    QVERIFY2(seedsShown, qPrintable(expectedSeeds));

    const QString command = copiedCommand(view);
    QVERIFY2(command.startsWith(QStringLiteral("cleftsim-batch ") + experiment), qPrintable(command));
    QVERIFY2(command.contains(commandPart), qPrintable(command));
    const QByteArray printed = runCommand(command);
    const QByteArray printedJson = experiment == QLatin1String("histograms")
        ? printed
        : runCommand(command, {QStringLiteral("--format"), QStringLiteral("json")});

    // "Save data..." in either form writes what the command prints.
    for (const bool json : {false, true}) {
        const QString path = m_dir.filePath(QStringLiteral("data-%1").arg(json));
        setDataPathChooser([&](const QString &, const QStringList &filters, QString *filter) {
            *filter = json ? filters.constLast() : filters.constFirst();
            return path;
        });
        menuEntry(menu, QStringLiteral("Save data..."))->trigger();
        QCOMPARE(fileBytes(path), json ? printedJson : printed);
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

QTEST_MAIN(TestReproduceRuns)
#include "tst_reproduceruns.moc"
