#include "app/mainwindow.h"
#include "app/startup.h"
#include "experiments/copywindows.h"
#include "experiments/isvwindow.h"
#include "experiments/measuredoverlay.h"
#include "run/sha256.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"
#include "widgets/windowset.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace cleftsim;

namespace {

// An entry of a context menu by its text; nullptr when absent.
QAction *menuEntry(QMenu &menu, const QString &text)
{
    const auto actions = menu.actions();
    for (QAction *a : actions)
        if (a->text() == text)
            return a;
    return nullptr;
}

QStringList menuTexts(FigureView *view)
{
    QMenu menu;
    view->fillContextMenu(menu);
    QStringList texts;
    const auto actions = menu.actions();
    for (QAction *a : actions)
        if (!a->isSeparator())
            texts << a->text();
    return texts;
}

bool measuredAt(const QImage &image, int x, int y)
{
    return QRect(0, 0, image.width(), image.height()).contains(x, y)
        && (image.pixel(x, y) & 0xffffff) == (MeasuredColour.rgb() & 0xffffff);
}

// A marker centred on (x, y): its 5 x 5 square in the measured colour.
bool markerAt(const QImage &image, int x, int y)
{
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (!measuredAt(image, x + dx, y + dy))
                return false;
    return true;
}

int measuredPixels(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += measuredAt(image, x, y) ? 1 : 0;
    return n;
}

} // namespace

class TestMeasuredData : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void loadThroughTheDialog_data();
    void loadThroughTheDialog();
    void keptThroughRunsEditsAndCopies();
    void onlyRegularFilesAreRead_data();
    void onlyRegularFilesAreRead();

private:
    IsvWindow *isv() const { return static_cast<IsvWindow *>(windows().forms[5]); }
    QString writeData(const QString &name, const QByteArray &text);
    // Loads a file through the figure's menu and the real file dialog; the
    // text of the message box shown, if any.
    QString loadThroughMenu(FigureView *view, const QString &path);

    QTemporaryDir m_dir;
    std::unique_ptr<MainWindow> m_main;
};

void TestMeasuredData::init()
{
    QVERIFY(m_dir.isValid());
    m_main = createWindowSet();
    m_main->show();
    isv()->showAndRaise();
    isv()->setSeedSource([] { return 4242u; });
}

void TestMeasuredData::cleanup()
{
    measuredData().setData(nullptr);
    m_main.reset();
    windows() = WindowSet {};
}

QString TestMeasuredData::writeData(const QString &name, const QByteArray &text)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

QString TestMeasuredData::loadThroughMenu(FigureView *view, const QString &path)
{
    QString shown;
    bool answered = false;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<QFileDialog *>(modal); dialog && !answered) {
            answered = dialog->objectName() == QStringLiteral("MeasuredDataDialog");
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
            QMetaObject::invokeMethod(dialog, "accept");
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            shown = box->text();
            box->accept();
        }
    });
    answer.start(20);
    QMenu menu;
    view->fillContextMenu(menu);
    if (QAction *load = menuEntry(menu, QStringLiteral("Load Measured Data...")))
        load->trigger();
    return answered ? shown : QStringLiteral("no file dialog");
}

void TestMeasuredData::loadThroughTheDialog_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("refusal"); // empty: loaded
    QTest::newRow("peaks with standard errors")
        << QByteArray("V2_mV,mean_peak_pA,sem_pA\n-100,-30,4\n-60,-20,3\n20,5,3\n") << QString();
    QTest::newRow("peaks and quanta with n") << QByteArray(
        "V2_mV,mean_peak_pA,std_pA,n,mean_quanta,sem_quanta\n-100,-30,12,9,3,0.5\n-40,-15,9,9,2,0.25\n")
                                             << QString();
    QTest::newRow("refused: not a number")
        << QByteArray("V2_mV,mean_peak_pA,sem_pA\n-60,-20,3\n-20,abc,1\n") << QStringLiteral("row 2");
    QTest::newRow("refused: no peak column")
        << QByteArray("V2_mV,sem_pA\n-60,3\n") << QStringLiteral("mean_peak_pA");
    QTest::newRow("semicolons with decimal commas, as a spreadsheet writes them")
        << QByteArray("\"V2_mV\";\"mean_peak_pA\";\"sem_pA\"\r\n-100;-30,25;4,5\r\n-60;-20;3\r\n")
        << QString();
}

void TestMeasuredData::loadThroughTheDialog()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, refusal);
    const QString path = writeData(QStringLiteral("cell.csv"), text);
    FigureView *quanta = isv()->image(1);
    FigureView *current = isv()->image(2);
    const QImage quantaBefore = quanta->canvas().image();
    const QImage currentBefore = current->canvas().image();
    // Nothing loaded: the figures show their canvas, the menu only offers to load.
    QCOMPARE(current->shownImage(), currentBefore);
    QVERIFY(!menuTexts(current).contains(QStringLiteral("Clear Measured Data")));
    QVERIFY(menuTexts(current).contains(QStringLiteral("Load Measured Data...")));

    const QString shown = loadThroughMenu(current, path);
    if (!refusal.isEmpty()) {
        QVERIFY2(shown.contains(refusal) && shown.contains(path), qPrintable(shown));
        QVERIFY(!measuredData().data());
        QCOMPARE(current->shownImage(), currentBefore);
        QCOMPARE(quanta->shownImage(), quantaBefore);
        QVERIFY(!menuTexts(current).contains(QStringLiteral("Clear Measured Data")));
        return;
    }
    QVERIFY2(shown.isEmpty(), qPrintable(shown));
    const MeasuredDataPtr data = measuredData().data();
    QVERIFY(data);
    // The figures keep their pixels; the markers are drawn over them.
    QCOMPARE(current->canvas().image(), currentBefore);
    const QImage image = current->shownImage();
    bool anyQuanta = false;
    for (const MeasuredPoint &p : data->points) {
        const int x = 140 + p.V;
        const int y = 40 - qRound(p.meanPeak);
        QVERIFY2(markerAt(image, x, y), qPrintable(QStringLiteral("V %1").arg(p.V)));
        // The error bar of one standard error, capped at both ends.
        for (const int end : {40 - qRound(p.meanPeak + p.semPeak), 40 - qRound(p.meanPeak - p.semPeak)}) {
            QVERIFY(measuredAt(image, x - 2, end));
            QVERIFY(measuredAt(image, x + 2, end));
        }
        QVERIFY(!measuredAt(image, x, 40 - qRound(p.meanPeak + p.semPeak) - 1));
        if (p.hasQuanta) {
            anyQuanta = true;
            QVERIFY(markerAt(quanta->shownImage(), x, 145 - qRound(p.meanQuanta * isv()->QuantumStep())));
        }
    }
    QCOMPARE(measuredPixels(quanta->shownImage()) > 0, anyQuanta);
    // The legend says what the markers are, on the current figure alone.
    QVERIFY(!markerAt(currentBefore, MeasuredLegend.x(), MeasuredLegend.y()));
    QVERIFY(markerAt(image, MeasuredLegend.x(), MeasuredLegend.y()));
    QVERIFY(measuredAt(image, MeasuredLegend.x(), MeasuredLegend.y() - 4));
    int legendText = 0;
    for (int x = MeasuredLegend.x() + 6; x < image.width(); ++x)
        for (int y = MeasuredLegend.y() - 6; y <= MeasuredLegend.y() + 6; ++y)
            legendText += measuredAt(image, x, y) ? 1 : 0;
    QVERIFY(legendText > 20);
    const QStringList texts = menuTexts(current);
    QVERIFY2(texts.contains(QStringLiteral("Measured data: cell.csv, %1 points").arg(data->points.size())),
        qPrintable(texts.join(QLatin1Char('|'))));
    QVERIFY(texts.contains(QStringLiteral("Fit to Measured Data...")));

    // Clear takes the markers away, and the figures are as before.
    QMenu menu;
    current->fillContextMenu(menu);
    menuEntry(menu, QStringLiteral("Clear Measured Data"))->trigger();
    QVERIFY(!measuredData().data());
    QCOMPARE(current->shownImage(), currentBefore);
    QCOMPARE(quanta->shownImage(), quantaBefore);
}

void TestMeasuredData::keptThroughRunsEditsAndCopies()
{
    const QByteArray text(
        "V2_mV,mean_peak_pA,sem_pA,mean_quanta,sem_quanta\n-100,-30,4,3,0.5\n-40,-15,3,2,0.5\n");
    const QString path = writeData(QStringLiteral("kept.csv"), text);
    auto data = std::make_shared<MeasuredData>();
    RunProblem problem;
    QVERIFY(readMeasuredData(path.toStdString(), *data, &problem));
    measuredData().setData(data);
    const auto markersShown = [](FigureView *current) {
        return markerAt(current->shownImage(), 40, 70) && markerAt(current->shownImage(), 100, 55);
    };
    // A Run of the model's curves keeps them.
    isv()->findChild<SpinEdit *>(QStringLiteral("SpinEdit1"))->setValue(2);
    isv()->RunBtnClick();
    QVERIFY(isv()->figureData());
    QVERIFY(markersShown(isv()->image(2)));
    // Save data of the sweep with data loaded: the sweep as before, with the
    // measured points named by file and digest.
    const std::string plain = figureOutput(*isv()->figureData(), OutputFormat::Json);
    const std::string json = figureOutput(*isv()->shownFigureData(), OutputFormat::Json);
    QCOMPARE(plain.find("\"measured\""), std::string::npos);
    QCOMPARE(json.compare(0, plain.size() - 3, plain, 0, plain.size() - 3), 0);
    QVERIFY(json.find("\"measured\": {\"file\": \"" + path.toStdString() + "\", \"sha256\": \""
                + sha256Hex(text.toStdString()) + "\"")
        != std::string::npos);
    QCOMPARE(figureOutput(*isv()->shownFigureData(), OutputFormat::Text),
        figureOutput(*isv()->figureData(), OutputFormat::Text));

    // A frozen copy draws them and names them; Save data of the copy has them.
    isv()->findChild<QToolButton *>(QStringLiteral("DuplicateBtn"))->click();
    const auto copies = m_main->findChildren<IsvCopyWindow *>();
    QCOMPARE(copies.size(), 1);
    IsvCopyWindow *copy = copies.first();
    QCOMPARE(copy->image(2)->shownImage(), isv()->image(2)->shownImage());
    QCOMPARE(copy->image(1)->shownImage(), isv()->image(1)->shownImage());
    QVERIFY(measuredPixels(copy->image(1)->shownImage()) > 0);
    QVERIFY(menuTexts(copy->image(2)).contains(QStringLiteral("Measured data: kept.csv, 2 points")));
    QVERIFY(!menuTexts(copy->image(2)).contains(QStringLiteral("Clear Measured Data")));
    QCOMPARE(figureOutput(*copy->figureData(), OutputFormat::Json), json);

    // An edit clears the model's curves, not the points.
    windows().forms[1]->findChild<QLineEdit *>(QStringLiteral("MaskEdit1"))->setText(QStringLiteral("1.25"));
    QCOMPARE(model().LPC.Rg, 1.25);
    QVERIFY(!isv()->figureData());
    QVERIFY(markersShown(isv()->image(2)));

    // Clear leaves the copy as it was frozen.
    measuredData().setData(nullptr);
    QCOMPARE(isv()->image(2)->shownImage(), isv()->image(2)->canvas().image());
    QVERIFY(markersShown(copy->image(2)));
}

void TestMeasuredData::onlyRegularFilesAreRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("refused"); // the reason; empty: read
    QTest::newRow("a regular file") << "file"
                                    << "";
    QTest::newRow("a link to a regular file") << "link"
                                              << "";
    QTest::newRow("a named pipe") << "pipe"
                                  << "not a regular file";
    QTest::newRow("a folder") << "folder"
                              << "not a regular file";
    QTest::newRow("no such file") << "missing"
                                  << "cannot be read";
}

void TestMeasuredData::onlyRegularFilesAreRead()
{
    QFETCH(QString, kind);
    QFETCH(QString, refused);
    const QByteArray text("V2_mV,mean_peak_pA,sem_pA\n-60,-20,1\n-20,-5,1\n");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("data.csv");
    const QByteArray name = QFile::encodeName(path);
    std::thread writer;
    if (kind == "file" || kind == "link") {
        QFile f(kind == "file" ? path : dir.filePath("target.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(text), text.size());
        f.close();
        if (kind == "link")
            QVERIFY(QFile::link(dir.filePath("target.csv"), path));
    } else if (kind == "pipe") {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        // A writer with good data: a reader that let the pipe through reads
        // it and takes it, rather than wait for ever.
        writer = std::thread([name, text] {
            const int fd = ::open(name.constData(), O_WRONLY);
            if (fd >= 0) {
                [[maybe_unused]] const ssize_t n = ::write(fd, text.constData(), std::size_t(text.size()));
                ::close(fd);
            }
        });
    } else if (kind == "folder") {
        QVERIFY(QDir(dir.path()).mkdir("data.csv"));
    }
    MeasuredData data;
    RunProblem problem;
    const bool read = readMeasuredData(name.toStdString(), data, &problem);
    if (writer.joinable()) {
        // The writer waits for a reader: this one lets it go.
        const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
        writer.join();
        if (fd >= 0)
            ::close(fd);
    }
    QCOMPARE(read, refused.isEmpty());
    if (read) {
        QCOMPARE(data.points.size(), std::size_t(2));
    } else {
        QVERIFY2(QString::fromStdString(problem.text()).contains(refused), problem.text().c_str());
        QVERIFY(QString::fromStdString(problem.text()).contains("data.csv"));
    }
}

QTEST_MAIN(TestMeasuredData)
#include "tst_measureddata.moc"
