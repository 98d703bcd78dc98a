#include "app/mainwindow.h"
#include "app/startup.h"
#include "drawing/glyphs.h"
#include "experiments/copywindows.h"
#include "experiments/recordsfile.h"
#include "experiments/recordswindow.h"
#include "model/rounding.h"
#include "model/trial.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <sstream>

using namespace cleftsim;

namespace {

constexpr QRgb Black = 0x000000;
constexpr QRgb White = 0xffffff;
constexpr QRgb Grey = 0x808080;
constexpr QRgb Red = 0xff0000;

// What a trial computed, step by step, for replaying a Run.
struct Recorder {
    CurrentTrace I {};
    double E[RecordsSteps] = {};
    double Vpre[RecordsSteps] = {};
    QList<QPoint> releases; // (site, step)
    void step(const StepReport &s)
    {
        I[s.k] = s.I;
        E[s.k] = s.E;
        Vpre[s.k] = s.Vpre;
    }
    void release(int j, int k) { releases.append(QPoint(j, k)); }
};

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestRecordsWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void emptyFrame_data();
    void emptyFrame();
    void noReleaseTrial();
    void trialIsDrawnAndKept();
    void runByEnterKey();
    void hundredAndFirstRunStartsFresh();
    void clearAndParameterEditForget();
    void editorsReframe();
    void closeIsRefused();
    void pictureButtons_data();
    void pictureButtons();
    void saveProposesFreeNames();
    void saveTakesTypedNameAsIs();
    void saveCancelWritesNothing();
    void failedSaveReportsAndKeepsFile();
    void fullStoreTableStopsSave();
    void duplicateFreezesFigure();

private:
    RecordsWindow *form() const { return static_cast<RecordsWindow *>(windows().forms[4]); }
    Canvas &canvas() const { return form()->image3()->canvas(); }
    template <class T> T *child(const char *name) const
    {
        return form()->findChild<T *>(QLatin1String(name));
    }
    void run(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            QTest::mouseClick(child<QPushButton>("RunBtn"), Qt::LeftButton);
    }

    std::unique_ptr<MainWindow> m_main;
    QTemporaryDir m_dir;
};

void TestRecordsWindow::init()
{
    m_main = createWindowSet();
    m_main->show();
    form()->showAndRaise();
    form()->setSaveFolder(m_dir.path());
    form()->setSeedSource([] { return 20261207u; });
}

void TestRecordsWindow::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
    QDir(m_dir.path()).removeRecursively();
    QDir().mkpath(m_dir.path());
}

void TestRecordsWindow::emptyFrame_data()
{
    QTest::addColumn<int>("N");
    QTest::addColumn<double>("Rg");
    QTest::addColumn<int>("zeroLine");
    QTest::addColumn<int>("saturation"); // -1: none
    QTest::newRow("defaults") << 10 << 0.5 << 188 << 314;
    QTest::newRow("N 5") << 5 << 0.5 << 188 << 314;
    QTest::newRow("N 20") << 20 << 0.5 << 208 << 334;
    QTest::newRow("Rg 0") << 10 << 0.0 << 188 << -1;
    QTest::newRow("Rg 1") << 10 << 1.0 << 188 << 251;
}

void TestRecordsWindow::emptyFrame()
{
    QFETCH(int, N);
    QFETCH(double, Rg);
    QFETCH(int, zeroLine);
    QFETCH(int, saturation);
    run(2);
    model().LPC.N = N;
    model().LPC.Rg = Rg;
    form()->EmptyImage();

    QCOMPARE(form()->recordsCount(), 0);
    QCOMPARE(form()->traceBase() + 168, zeroLine);
    const Canvas &c = canvas();
    // Current axis from the zero line down 100 pA, with its major ticks.
    QCOMPARE(c.rgb(46, zeroLine), Grey);
    QCOMPARE(c.rgb(41, zeroLine), Grey);
    QCOMPARE(c.rgb(46, zeroLine + 99), Grey);
    QCOMPARE(c.rgb(41, zeroLine + 50), Grey);
    QCOMPARE(c.rgb(43, zeroLine + 10), Grey);
    QCOMPARE(c.rgb(41, zeroLine + 10), White);
    QCOMPARE(c.rgb(47, zeroLine), White); // no horizontal zero line
    if (zeroLine != 188)
        QCOMPARE(c.rgb(41, 188), White);
    // Potential axis and the time axis along 0 mV.
    QCOMPARE(c.rgb(46, 25), Grey);
    QCOMPARE(c.rgb(46, 24), White);
    QCOMPARE(c.rgb(41, 115), Grey);
    QCOMPARE(c.rgb(200, 65), Grey);
    QCOMPARE(c.rgb(166, 70), Grey); // major tick at 5 msec
    QCOMPARE(c.rgb(170, 68), Grey); // minor tick
    QCOMPARE(c.rgb(170, 70), White);
    // The saturation level.
    for (int y = 200; y < 380; ++y) {
        const bool line = y == saturation;
        QCOMPARE(c.rgb(100, y) == Grey, line);
    }
    if (saturation >= 0)
        QCOMPARE(c.rgb(360, saturation), Grey);
    // The text "saturation level" stands on a white box above the line's right half.
    bool text = false;
    for (int y = 250; y < 340; ++y)
        for (int x = 246; x < 300; ++x)
            text |= c.rgb(x, y) != White && y != saturation;
    QCOMPARE(text, saturation >= 0);

    QVERIFY(child<QLabel>("Label2")->isHidden());
    QCOMPARE(child<QLabel>("Label1")->text(), QString());
    QCOMPARE(child<QLabel>("Label3")->text(), QString());
    QVERIFY(!child<QPushButton>("ClearBtn")->isEnabled());
    QVERIFY(!child<QToolButton>("SaveBtn")->isEnabled());
    QVERIFY(!child<QToolButton>("DuplicateBtn")->isEnabled());
    QVERIFY(child<QPushButton>("RunBtn")->isEnabled());
}

void TestRecordsWindow::noReleaseTrial()
{
    model().LPC.gf = 0; // no site can release
    form()->EmptyImage();
    run();
    const Canvas &c = canvas();
    for (int k = 0; k < RecordsSteps; ++k) {
        const int x = 46 + k;
        const int y = (k >= 20 && k <= 39) ? 45 : 135;
        QCOMPARE(c.rgb(x, y), Black);
        QCOMPARE(c.rgb(x, 188), Black);
        QCOMPARE(form()->recordedCurrent(1)[k], 0.0);
    }
    for (int y = 166; y < 188; ++y)
        for (int x = 46; x < 367; ++x)
            QVERIFY(c.rgb(x, y) != Red);
    QLabel *label1 = child<QLabel>("Label1");
    QCOMPARE(label1->text(), QStringLiteral("0"));
    QCOMPARE(label1->pos(), QPoint(108, 164));
    QCOMPARE(label1->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QVERIFY(!child<QLabel>("Label2")->isHidden());
    QCOMPARE(child<QLabel>("Label3")->text(), QStringLiteral("1"));
    QVERIFY(child<QPushButton>("ClearBtn")->isEnabled());
    QVERIFY(child<QToolButton>("SaveBtn")->isEnabled());
    QVERIFY(child<QToolButton>("DuplicateBtn")->isEnabled());
}

void TestRecordsWindow::trialIsDrawnAndKept()
{
    model().LPC.du = 1.5;
    model().SpikeSteps = spikeStepsFor(1.5);
    form()->EmptyImage();
    run();

    // The same trial, replayed from the same seed.
    ModelState replay = model();
    Generator rng(20261207u);
    Recorder rec;
    const int m = runTrial(replay.LPC, replay.SpikeSteps, replay.Sites, rng, replay.LPC.V2, 0, 320, rec);
    QVERIFY(m > 0);

    const Canvas &c = canvas();
    const int B = 188;
    for (int k = 0; k < RecordsSteps; ++k) {
        QCOMPARE(form()->recordedCurrent(1)[k], rec.I[k]);
        QCOMPARE(c.rgb(46 + k, 65 - Round(rec.E[k])), Black);
        QCOMPARE(c.rgb(46 + k, 65 - Round(rec.Vpre[k])), Black);
        QCOMPARE(c.rgb(46 + k, B - Round(rec.I[k])), Black);
    }
    int redPixels = 0;
    for (int y = 160; y < 190; ++y)
        for (int x = 46; x < 367; ++x)
            redPixels += c.rgb(x, y) == Red;
    QCOMPARE(redPixels, 2 * int(rec.releases.size()));
    for (const QPoint &r : rec.releases) {
        QCOMPARE(c.rgb(46 + r.y(), 165 + 2 * r.x()), Red);
        QCOMPARE(c.rgb(46 + r.y(), 166 + 2 * r.x()), Red);
    }
    QCOMPARE(child<QLabel>("Label1")->text(), QString::number(m));
    QCOMPARE(child<QLabel>("Label1")->pos(), QPoint(Round(2.5 / 0.05) + 68, 164));
}

void TestRecordsWindow::runByEnterKey()
{
    QTest::keyClick(form(), Qt::Key_Return);
    QCOMPARE(form()->recordsCount(), 1);
    QTest::keyClick(form(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(form()->recordsCount(), 2);
}

void TestRecordsWindow::hundredAndFirstRunStartsFresh()
{
    int seeds = 0;
    form()->setSeedSource([&seeds] { return 1000u + 7u * ++seeds; });
    run(100);
    QCOMPARE(form()->recordsCount(), 100);
    QCOMPARE(child<QLabel>("Label3")->text(), QStringLiteral("100"));
    QCOMPARE(seeds, 100);
    canvas().setPixel(300, 20, QColor(0, 0, 0)); // a mark in the empty corner
    run();
    QCOMPARE(seeds, 101);
    QCOMPARE(form()->recordsCount(), 1);
    QCOMPARE(child<QLabel>("Label3")->text(), QStringLiteral("1"));
    QCOMPARE(canvas().rgb(300, 20), White);
    QVERIFY(child<QToolButton>("SaveBtn")->isEnabled());
}

void TestRecordsWindow::clearAndParameterEditForget()
{
    run(3);
    QTest::mouseClick(child<QPushButton>("ClearBtn"), Qt::LeftButton);
    QCOMPARE(form()->recordsCount(), 0);
    QVERIFY(child<QLabel>("Label2")->isHidden());
    QVERIFY(!child<QToolButton>("SaveBtn")->isEnabled());
    run(2);
    model().LPC.V2 = -40;
    parameterAccepted(Param::V2);
    QCOMPARE(form()->recordsCount(), 0);
    QVERIFY(!child<QPushButton>("ClearBtn")->isEnabled());
    // The frame follows the new V2: saturation at -80 pA.
    QCOMPARE(canvas().rgb(100, 188 + 80), Grey);
}

void TestRecordsWindow::editorsReframe()
{
    // Edits typed into Scheme Settings clear the figure and move the current panel.
    auto *spinN = windows().forms[1]->findChild<SpinEdit *>(QStringLiteral("SpinEditN"));
    QVERIFY(spinN);
    run(2);
    spinN->selectAll();
    QTest::keyClicks(spinN, QStringLiteral("20"));
    QCOMPARE(model().LPC.N, 20);
    QCOMPARE(form()->recordsCount(), 0);
    QCOMPARE(canvas().rgb(41, 208), Grey);
    QCOMPARE(canvas().rgb(41, 188), White);
    run();
    QCOMPARE(canvas().rgb(46, 208), Black); // the current starts at 0 pA on the new zero line
    // The background switch leaves the figure and its trials.
    windows().csForm0->setBackgroundChecked(true);
    QCOMPARE(form()->recordsCount(), 1);
}

void TestRecordsWindow::pictureButtons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("save");
    QTest::newRow("save") << "SaveBtn" << QRect(323, 360, 26, 26) << "save these records" << true;
    QTest::newRow("duplicate") << "DuplicateBtn" << QRect(353, 360, 26, 26) << "store this figure" << false;
}

void TestRecordsWindow::pictureButtons()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, hint);
    QFETCH(bool, save);
    auto *button = form()->findChild<QToolButton *>(name);
    QVERIFY(button);
    QCOMPARE(button->geometry(), geometry);
    QCOMPARE(button->toolTip(), hint);
    QVERIFY(button->autoRaise());
    for (bool enabled : {true, false}) {
        const QImage expected = (save ? saveGlyph(enabled) : duplicateGlyph(enabled))
                                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage shown = button->icon()
                                 .pixmap(QSize(16, 16), 1.0, enabled ? QIcon::Normal : QIcon::Disabled)
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(shown, expected);
    }
}

void TestRecordsWindow::closeIsRefused()
{
    QVERIFY(!form()->close());
    QVERIFY(windows().forms[4]);
    QVERIFY(form()->isVisible());
}

void TestRecordsWindow::saveProposesFreeNames()
{
    // Trials of an edited state: the first save stores it as state 1, and the
    // proposed name comes from that state, not from the one before.
    model().LPC.Rg = 0.75;
    run(2);
    QStringList proposed;
    form()->setSavePathChooser([&proposed](const QString &p) {
        proposed << p;
        return p;
    });
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(child<QToolButton>("SaveBtn"), Qt::LeftButton);
    QCOMPARE(QString::fromStdString(model().LPC.Name), QStringLiteral("1: 0>Rg"));
    const QString stem = QStringLiteral("1_0Rg");
    const QDir dir(m_dir.path());
    QCOMPARE(proposed,
        QStringList(
            {dir.filePath(stem + ".txt"), dir.filePath(stem + "(1).txt"), dir.filePath(stem + "(2).txt")}));

    std::ostringstream expected;
    QVERIFY(writeRecordsFile(expected, &form()->recordedCurrent(1), 2));
    const QByteArray bytes = fileBytes(proposed.last());
    QVERIFY(bytes.startsWith("161 2 10000\r\n"));
    QCOMPARE(bytes, QByteArray::fromStdString(expected.str()));
}

void TestRecordsWindow::saveTakesTypedNameAsIs()
{
    run();
    const QString typed = QDir(m_dir.path()).filePath(QStringLiteral("myrecords"));
    form()->setSavePathChooser([&](const QString &) { return typed; });
    QTest::mouseClick(child<QToolButton>("SaveBtn"), Qt::LeftButton);
    QVERIFY(QFileInfo::exists(typed));
    QVERIFY(!QFileInfo::exists(typed + ".txt"));
    QVERIFY(fileBytes(typed).startsWith("161 1 10000\r\n"));
}

void TestRecordsWindow::saveCancelWritesNothing()
{
    run();
    int asked = 0;
    form()->setSavePathChooser([&](const QString &) {
        ++asked;
        return QString();
    });
    QTest::mouseClick(child<QToolButton>("SaveBtn"), Qt::LeftButton);
    QCOMPARE(asked, 1);
    QVERIFY(QDir(m_dir.path()).entryList(QDir::Files).isEmpty());
}

void TestRecordsWindow::failedSaveReportsAndKeepsFile()
{
    run();
    // The chosen folder's parent is a regular file: nothing can be created there.
    const QString plain = QDir(m_dir.path()).filePath(QStringLiteral("plain"));
    {
        QFile f(plain);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
    QStringList errors;
    form()->setErrorReporter([&](const QString &e) { errors << e; });
    form()->setSavePathChooser([&](const QString &) { return plain + QStringLiteral("/r.txt"); });
    QTest::mouseClick(child<QToolButton>("SaveBtn"), Qt::LeftButton);
    QCOMPARE(errors.size(), 1);
    // The file and the system's reason.
    QVERIFY2(errors.first().startsWith(QDir::toNativeSeparators(plain + QStringLiteral("/r.txt"))
                 + QStringLiteral(" could not be saved: ")),
        qPrintable(errors.first()));
    QVERIFY(!errors.first().endsWith(QStringLiteral("saved: ")));
    QCOMPARE(fileBytes(plain), QByteArray("keep"));
    QVERIFY(child<QToolButton>("SaveBtn")->isEnabled());
}

void TestRecordsWindow::fullStoreTableStopsSave()
{
    // Fill the table of stored states with 15 different states.
    for (int i = 1; i <= 15; ++i) {
        model().LPC.Rg = 0.5 + 0.01 * i;
        QVERIFY(m_main->Store());
    }
    QCOMPARE(model().StoredCount, 15);
    run();
    model().LPC.Rg = 2.0;
    int asked = 0;
    form()->setSavePathChooser([&](const QString &) {
        ++asked;
        return QString();
    });
    // The refused store shows its own error box; close it as a user would.
    QTimer::singleShot(0, this, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    QTest::mouseClick(child<QToolButton>("SaveBtn"), Qt::LeftButton);
    QCOMPARE(asked, 0);
    QVERIFY(QDir(m_dir.path()).entryList(QDir::Files).isEmpty());
}

void TestRecordsWindow::duplicateFreezesFigure()
{
    // The copy is named after the state that the press stores.
    model().LPC.Rg = 0.75;
    run(3);
    QTest::mouseClick(child<QToolButton>("DuplicateBtn"), Qt::LeftButton);
    const auto copies = m_main->findChildren<RecordsCopyWindow *>();
    QCOMPARE(copies.size(), 1);
    RecordsCopyWindow *copy = copies.first();
    QCOMPARE(copy->windowTitle(), QStringLiteral("1: 0>Rg - Records"));
    QCOMPARE(QString::fromStdString(model().LPI.Name), QStringLiteral("1: 0>Rg"));
    QCOMPARE(copy->image3()->canvas().image(), canvas().image());
    QVERIFY(!child<QToolButton>("DuplicateBtn")->isEnabled());
    run();
    QVERIFY(child<QToolButton>("DuplicateBtn")->isEnabled());
}

QTEST_MAIN(TestRecordsWindow)
#include "tst_recordswindow.moc"
