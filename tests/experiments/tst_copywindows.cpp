#include "app/mainwindow.h"
#include "app/startup.h"
#include "drawing/glyphs.h"
#include "experiments/copywindows.h"
#include "experiments/histogramswindow.h"
#include "experiments/isvwindow.h"
#include "experiments/measuredoverlay.h"
#include "experiments/recordswindow.h"
#include "model/parameterset.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>
#include <memory>
#include <random>

#include <sys/resource.h>

using namespace cleftsim;

namespace {

// A raster of the given size with a different, reproducible colour in every pixel.
Canvas noise(int w, int h, unsigned seed)
{
    Canvas c(w, h);
    std::mt19937 gen(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            c.setPixel(x, y, QColor::fromRgb(gen() & 0xffffff));
    return c;
}

bool samePixels(const Canvas &a, const Canvas &b)
{
    return a.image().convertToFormat(QImage::Format_RGB32) == b.image().convertToFormat(QImage::Format_RGB32);
}

FigureView *figure(QWidget *w, const char *name)
{
    return w->findChild<FigureView *>(QLatin1String(name));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Saves a figure through its real "Save Image As..." dialog as a user
// would: picks a filter, types a name and accepts, answers "Yes" to a
// replace question; returns the text of the error box, if one opened.
QString saveThroughDialog(FigureView *view, int filter, const QString &typed)
{
    QString error;
    QTimer answers;
    answers.setInterval(20);
    QObject::connect(&answers, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            combo->setCurrentIndex(filter);
            emit combo->activated(filter);
            emit combo->textActivated(combo->itemText(filter));
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(typed);
            // Queued: the questions it asks come while this timer waits.
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (box->icon() == QMessageBox::Critical) {
                error = box->text();
                QMetaObject::invokeMethod(box, "accept", Qt::QueuedConnection);
            } else {
                QMetaObject::invokeMethod(box->button(QMessageBox::Yes), "click", Qt::QueuedConnection);
            }
        }
    });
    answers.start();
    QMenu menu;
    view->fillContextMenu(menu);
    const auto actions = menu.actions();
    for (QAction *a : actions)
        if (a->text() == QStringLiteral("Save Image As..."))
            a->trigger();
    return error;
}

// Pixels of two images of one size that differ.
int differingPixels(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += (a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff);
    return n;
}

} // namespace

class TestCopyWindows : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void recordsCopy();
    void isvCopy_data();
    void isvCopy();
    void histogramsCopy_data();
    void histogramsCopy();
    void closedCopyIsDestroyed();
    void copyWithoutFrameIsTopLevel();
    void proposedNames_data();
    void proposedNames();
    void saveImageWritesRaster();
    void experimentCopiesFromWindows_data();
    void experimentCopiesFromWindows();
    void manyCopiesLiveApart();
    void experimentFiguresProposeStateNames_data();
    void experimentFiguresProposeStateNames();
    void experimentFigureSavesItsRaster();
    void numberLabelsKeepTheirNames_data();
    void numberLabelsKeepTheirNames();
    void fullStoreTableStopsTheCopy_data();
    void fullStoreTableStopsTheCopy();
    void imageFormsThroughTheDialog_data();
    void imageFormsThroughTheDialog();
    void failedImageSaveKeepsTheOldFile_data();
    void failedImageSaveKeepsTheOldFile();
    void vectorImageDrawsTheRasterFigure();
    void recordsTracesAreLinesInTheExports();
    void figuresAtDisplayScaleTwoAreFine_data();
    void figuresAtDisplayScaleTwoAreFine();

private:
    std::unique_ptr<MainWindow> m_main;
};

void TestCopyWindows::init()
{
    m_main = createWindowSet();
    m_main->show();
}

void TestCopyWindows::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
}

void TestCopyWindows::recordsCopy()
{
    const Canvas source = noise(374, 380, 1);
    QPointer<RecordsCopyWindow> copy = copyRecords(source, QStringLiteral("2: 1>Rg - Records"));
    QVERIFY(copy);
    QMdiSubWindow *sub = copy->subWindow();
    QVERIFY(sub);
    QCOMPARE(sub->mdiArea(), m_main->frame());
    QCOMPARE(sub->windowTitle(), QStringLiteral("2: 1>Rg - Records"));
    QVERIFY(sub->windowFlags() & Qt::WindowMaximizeButtonHint);
    QVERIFY(sub->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!sub->windowIcon().isNull());
    const QImage icon = sub->windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(icon == copyWindowIcon().convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(copy->size(), QSize(381, 388));
    FigureView *image = figure(copy, "Image3");
    QVERIFY(image);
    QCOMPARE(image->geometry(), QRect(4, 4, 374, 380));
    QVERIFY(samePixels(image->canvas(), source));
    QVERIFY(copy->isVisible());
}

void TestCopyWindows::isvCopy_data()
{
    QTest::addColumn<bool>("background");
    QTest::newRow("without background") << false;
    QTest::newRow("with background") << true;
}

void TestCopyWindows::isvCopy()
{
    QFETCH(bool, background);
    const Canvas i1 = noise(204, 181, 11), i2 = noise(204, 181, 12), i3 = noise(190, 181, 13);
    IsvCopyWindow *copy
        = copyIsv(i1, i2, background ? &i3 : nullptr, QStringLiteral("0: default - Is vs V2"));
    QVERIFY(copy->subWindow());
    QVERIFY(!(copy->subWindow()->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(copy->outerWidth(), background ? 757 : 561);
    QCOMPARE(copy->outerHeight(), 193 + ChildWindow::FrameHeight);
    QCOMPARE(figure(copy, "Image1")->geometry(), QRect(4, 4, 204, 181));
    QCOMPARE(figure(copy, "Image2")->geometry(), QRect(200, 4, 204, 181));
    QCOMPARE(figure(copy, "Image3")->geometry(), QRect(396, 4, 190, 181));
    QVERIFY(samePixels(copy->image(1)->canvas(), i1));
    QVERIFY(samePixels(copy->image(2)->canvas(), i2));
    QCOMPARE(copy->image(3)->isVisibleTo(copy), background);
    if (background)
        QVERIFY(samePixels(copy->image(3)->canvas(), i3));
    else
        QVERIFY(copy->image(3)->canvas().image().pixel(10, 10) == qRgb(255, 255, 255));
    // Image1 lies above the left edge of Image2, Image3 above its right edge.
    QCOMPARE(copy->childAt(203, 50), copy->image(1));
    if (background)
        QCOMPARE(copy->childAt(400, 50), copy->image(3));
}

void TestCopyWindows::histogramsCopy_data()
{
    QTest::addColumn<bool>("quanta");
    QTest::addColumn<bool>("latency");
    QTest::addColumn<int>("outerHeight");
    QTest::newRow("quanta row") << true << false << 278;
    QTest::newRow("both rows") << true << true << 522;
    QTest::newRow("latency row") << false << true << 278;
    QTest::newRow("neither") << false << false << 278;
}

void TestCopyWindows::histogramsCopy()
{
    QFETCH(bool, quanta);
    QFETCH(bool, latency);
    QFETCH(int, outerHeight);
    Canvas src[4] = {noise(250, 244, 21), noise(250, 244, 22), noise(250, 244, 23), noise(250, 244, 24)};
    HistogramsCopyWindow *copy = copyHistograms(
        src[0], src[1], src[2], src[3], quanta, latency, QStringLiteral("1: 0>n12 - Histograms"));
    QVERIFY(copy->subWindow());
    QVERIFY(copy->subWindow()->windowFlags() & Qt::WindowMaximizeButtonHint);
    QCOMPARE(copy->outerWidth(), 508 + ChildWindow::FrameWidth);
    QCOMPARE(copy->outerHeight(), outerHeight);
    const Canvas blank(250, 244);
    for (int i = 1; i <= 4; ++i) {
        const bool row1 = i <= 2;
        const bool shown = row1 ? quanta || !latency : latency;
        QCOMPARE(copy->image(i)->isVisibleTo(copy), shown);
        const bool copied = row1 ? quanta : latency;
        QVERIFY2(samePixels(copy->image(i)->canvas(), copied ? src[i - 1] : blank),
            qPrintable(QString::number(i)));
    }
    const int latencyTop = !quanta && latency ? 4 : 247;
    QCOMPARE(copy->image(3)->pos(), QPoint(4, latencyTop));
    QCOMPARE(copy->image(4)->pos(), QPoint(253, latencyTop));
    QCOMPARE(copy->image(1)->pos(), QPoint(4, 4));
    QCOMPARE(copy->image(2)->pos(), QPoint(253, 4));
}

void TestCopyWindows::closedCopyIsDestroyed()
{
    const Canvas source = noise(374, 380, 2);
    QPointer<RecordsCopyWindow> copy = copyRecords(source, QStringLiteral("0: default - Records"));
    QPointer<QMdiSubWindow> sub = copy->subWindow();
    QPointer<FigureView> image = copy->image3();
    QVERIFY(sub);
    const int before = m_main->frame()->subWindowList().size();
    QVERIFY(sub->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(copy.isNull());
    QVERIFY(sub.isNull());
    QVERIFY(image.isNull());
    QCOMPARE(m_main->frame()->subWindowList().size(), before - 1);

    // The experiment windows themselves refuse to close.
    QMdiSubWindow *histograms = windows().forms[6]->subWindow();
    QVERIFY(!histograms->close());
    QVERIFY(windows().forms[6]);
}

void TestCopyWindows::copyWithoutFrameIsTopLevel()
{
    windows().csMainForm = nullptr;
    const Canvas i1 = noise(204, 181, 3), i2 = noise(204, 181, 4);
    QPointer<IsvCopyWindow> copy = copyIsv(i1, i2, nullptr, QStringLiteral("x - Is vs V2"));
    QVERIFY(copy->isWindow());
    QVERIFY(!copy->subWindow());
    QCOMPARE(copy->windowTitle(), QStringLiteral("x - Is vs V2"));
    QVERIFY(samePixels(copy->image(2)->canvas(), i2));
    QVERIFY(copy->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(copy.isNull());
}

void TestCopyWindows::proposedNames_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("expected");
    QTest::newRow("histograms") << "3: 2>RgV2 - Histograms"
                                << "Image1"
                                << "3_2RgV2_histograms_Image1.png";
    QTest::newRow("default") << "0: default - Records"
                             << "Image3"
                             << "0_default_records_Image3.png";
    QTest::newRow("is vs v2") << "12: 11>+Gb - Is vs V2"
                              << "Image2"
                              << "12_11+Gb_isv_Image2.png";
}

void TestCopyWindows::proposedNames()
{
    QFETCH(QString, caption);
    QFETCH(QString, image);
    QFETCH(QString, expected);
    Canvas c[4] = {Canvas(250, 244), Canvas(250, 244), Canvas(250, 244), Canvas(250, 244)};
    QWidget *copy = nullptr;
    if (caption.endsWith(QLatin1String("Records")))
        copy = copyRecords(Canvas(374, 380), caption);
    else if (caption.endsWith(QLatin1String("V2")))
        copy = copyIsv(Canvas(204, 181), Canvas(204, 181), nullptr, caption);
    else
        copy = copyHistograms(c[0], c[1], c[2], c[3], true, true, caption);
    FigureView *view = figure(copy, qPrintable(image));
    QVERIFY(view);
    QCOMPARE(view->proposedName(), expected);
    QCOMPARE(stateFileBase(QStringLiteral("3: 2>RgV2")), QStringLiteral("3_2RgV2"));
}

void TestCopyWindows::saveImageWritesRaster()
{
    const Canvas source = noise(374, 380, 5);
    RecordsCopyWindow *copy = copyRecords(source, QStringLiteral("0: default - Records"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(copy->image3()->proposedName());
    QString error;
    QVERIFY2(copy->image3()->saveImage(file, &error), qPrintable(error));
    QImage back(file);
    QCOMPARE(back.size(), QSize(374, 380));
    QVERIFY(
        back.convertToFormat(QImage::Format_RGB32) == source.image().convertToFormat(QImage::Format_RGB32));
    // A folder that does not exist gives a reason, not a crash.
    QVERIFY(!copy->image3()->saveImage(dir.filePath(QStringLiteral("missing/x.png")), &error));
    QVERIFY2(error.startsWith(QDir::toNativeSeparators(dir.filePath(QStringLiteral("missing/x.png")))
                 + QStringLiteral(" could not be saved: ")),
        qPrintable(error));
}

void TestCopyWindows::experimentCopiesFromWindows_data()
{
    QTest::addColumn<bool>("background");
    QTest::newRow("background off") << false;
    QTest::newRow("background on") << true;
}

void TestCopyWindows::experimentCopiesFromWindows()
{
    QFETCH(bool, background);
    if (background)
        windows().csForm0->setBackgroundChecked(true);
    // Each window's copy button freezes its figures as they are, pixel for
    // pixel, whatever the figures show.
    for (int form = 4; form <= 6; ++form) {
        ChildWindow *w = windows().forms[form];
        QVERIFY(w);
        w->showAndRaise();
        const auto views = w->findChildren<FigureView *>();
        QVERIFY(!views.isEmpty());
        for (FigureView *v : views)
            v->canvas().draw(0, 0, noise(v->canvas().width(), v->canvas().height(), 100 + form));
        auto *button = w->findChild<QToolButton *>(QStringLiteral("DuplicateBtn"));
        QVERIFY(button);
        button->setEnabled(true);
        const int before = m_main->frame()->subWindowList().size();
        QTest::mouseClick(button, Qt::LeftButton);
        const auto subs = m_main->frame()->subWindowList();
        QCOMPARE(subs.size(), before + 1);
        QWidget *copy = subs.last()->widget();
        const char *names[] = {"Image1", "Image2", "Image3", "Image4"};
        int compared = 0;
        for (int i = 0; i < 4; ++i) {
            const char *name = names[i];
            FigureView *source = figure(w, name), *frozen = figure(copy, name);
            if (!source)
                continue;
            QVERIFY(frozen);
            const bool shown = !(form == 5 && i == 2 && !background) && !(form == 6 && i >= 2);
            QVERIFY2(
                frozen->isVisible() == shown, qPrintable(QStringLiteral("form %1 %2").arg(form).arg(name)));
            if (shown) {
                QVERIFY2(samePixels(frozen->canvas(), source->canvas()), name);
                ++compared;
            }
        }
        QCOMPARE(compared, form == 4 ? 1 : form == 5 ? (background ? 3 : 2) : 2);
        if (form == 5)
            QCOMPARE(static_cast<ChildWindow *>(copy)->outerWidth(), background ? 757 : 561);
        QVERIFY(!button->isEnabled());
    }
}

void TestCopyWindows::manyCopiesLiveApart()
{
    // Any number of copies exist side by side; closing one frees it alone.
    const int before = m_main->frame()->subWindowList().size();
    QList<QPointer<RecordsCopyWindow>> copies;
    for (unsigned i = 0; i < 5; ++i)
        copies.append(copyRecords(noise(374, 380, 30 + i), QStringLiteral("0: default - Records")));
    QCOMPARE(m_main->frame()->subWindowList().size(), before + 5);
    QVERIFY(copies[2]->subWindow()->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(copies[2].isNull());
    QCOMPARE(m_main->frame()->subWindowList().size(), before + 4);
    for (int i : {0, 1, 3, 4}) {
        QVERIFY(copies[i]);
        QVERIFY(samePixels(copies[i]->image3()->canvas(), noise(374, 380, 30 + unsigned(i))));
    }
}

void TestCopyWindows::experimentFiguresProposeStateNames_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("experiment");
    QTest::newRow("records") << 4 << "Image3"
                             << "records";
    QTest::newRow("is vs v2 1") << 5 << "Image1"
                                << "isv";
    QTest::newRow("is vs v2 2") << 5 << "Image2"
                                << "isv";
    QTest::newRow("is vs v2 3") << 5 << "Image3"
                                << "isv";
    QTest::newRow("histograms 1") << 6 << "Image1"
                                  << "histograms";
    QTest::newRow("histograms 4") << 6 << "Image4"
                                  << "histograms";
}

void TestCopyWindows::experimentFiguresProposeStateNames()
{
    QFETCH(int, form);
    QFETCH(QString, image);
    QFETCH(QString, experiment);
    FigureView *view = figure(windows().forms[form], qPrintable(image));
    QVERIFY(view);
    QCOMPARE(view->proposedName(), QStringLiteral("0_default_%1_%2.png").arg(experiment, image));
    // The name follows the state that describes the current parameters.
    model().LPC.Rg = 0.75;
    QVERIFY(m_main->Store());
    QCOMPARE(QString::fromStdString(model().LPC.Name), QStringLiteral("1: 0>Rg"));
    QCOMPARE(view->proposedName(), QStringLiteral("1_0Rg_%1_%2.png").arg(experiment, image));
}

void TestCopyWindows::experimentFigureSavesItsRaster()
{
    ChildWindow *records = windows().forms[4];
    records->showAndRaise();
    QTest::mouseClick(records->findChild<QPushButton *>(QStringLiteral("RunBtn")), Qt::LeftButton);
    FigureView *view = figure(records, "Image3");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(view->proposedName());
    QString error;
    QVERIFY2(view->saveImage(file, &error), qPrintable(error));
    const QImage back(file);
    QCOMPARE(back.size(), QSize(374, 380));
    QVERIFY(back.convertToFormat(QImage::Format_RGB32)
        == view->canvas().image().convertToFormat(QImage::Format_RGB32));
}

void TestCopyWindows::numberLabelsKeepTheirNames_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("name");
    QTest::newRow("records") << 4 << "Label20";
    QTest::newRow("is vs v2") << 5 << "Label2";
    QTest::newRow("histograms") << 6 << "Label2";
}

void TestCopyWindows::numberLabelsKeepTheirNames()
{
    QFETCH(int, form);
    QFETCH(QString, name);
    ChildWindow *w = windows().forms[form];
    QCOMPARE(w->numberLabel()->objectName(), name);
    auto *label = w->findChild<QLabel *>(name);
    QVERIFY(label);
    QCOMPARE(label->text(), QString::number(form));
}

void TestCopyWindows::fullStoreTableStopsTheCopy_data()
{
    QTest::addColumn<int>("form");
    QTest::newRow("records") << 4;
    QTest::newRow("is vs v2") << 5;
}

void TestCopyWindows::fullStoreTableStopsTheCopy()
{
    QFETCH(int, form);
    QStringList errors;
    m_main->setErrorPresenter([&errors](const QString &message) { errors << message; });
    for (int i = 1; i <= 15; ++i) {
        model().LPC.Rg = 0.5 + 0.01 * i;
        QVERIFY(m_main->Store());
    }
    QCOMPARE(model().StoredCount, 15);
    model().LPC.Rg = 0.25;
    ChildWindow *w = windows().forms[form];
    w->showAndRaise();
    auto *button = w->findChild<QToolButton *>(QStringLiteral("DuplicateBtn"));
    button->setEnabled(true);
    const int before = m_main->frame()->subWindowList().size();
    QTest::mouseClick(button, Qt::LeftButton);
    // The refused store ends the press: no copy, and the button stays enabled.
    QCOMPARE(errors, QStringList {QStringLiteral("Range check error")});
    QCOMPARE(m_main->frame()->subWindowList().size(), before);
    QVERIFY(button->isEnabled());
}

void TestCopyWindows::imageFormsThroughTheDialog_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("scale");
    // The extension typed chooses an offered form; a bare name gets the
    // filter's; another extension keeps the filter's form.
    QTest::newRow("svg typed") << 0 << "x.svg"
                               << "x.svg"
                               << "svg" << 1;
    QTest::newRow("pdf typed") << 1 << "x.pdf"
                               << "x.pdf"
                               << "pdf" << 1;
    QTest::newRow("png typed, 2x filter") << 1 << "x.png"
                                          << "x.png"
                                          << "png" << 2;
    QTest::newRow("png typed, svg filter") << 3 << "x.png"
                                           << "x.png"
                                           << "png" << 1;
    QTest::newRow("bare, png") << 0 << "x"
                               << "x.png"
                               << "png" << 1;
    QTest::newRow("bare, png 2x") << 1 << "x"
                                  << "x.png"
                                  << "png" << 2;
    QTest::newRow("bare, png 4x") << 2 << "x"
                                  << "x.png"
                                  << "png" << 4;
    QTest::newRow("bare, svg") << 3 << "x"
                               << "x.svg"
                               << "svg" << 1;
    QTest::newRow("bare, pdf") << 4 << "x"
                               << "x.pdf"
                               << "pdf" << 1;
    QTest::newRow("other extension, pdf") << 4 << "x.json"
                                          << "x.json"
                                          << "pdf" << 1;
}

void TestCopyWindows::imageFormsThroughTheDialog()
{
    QFETCH(int, filter);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QString, kind);
    QFETCH(int, scale);
    auto *records = qobject_cast<RecordsWindow *>(windows().forms[4]);
    records->showAndRaise();
    QTest::mouseClick(records->findChild<QPushButton *>(QStringLiteral("RunBtn")), Qt::LeftButton);
    FigureView *view = records->image3();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString error = saveThroughDialog(view, filter, dir.filePath(typed));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {written});
    const QByteArray bytes = readAll(dir.filePath(written));
    if (kind == QLatin1String("svg")) {
        QXmlStreamReader xml(bytes);
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name().toString(), QStringLiteral("svg"));
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        // Text stays text, in the figure's face.
        QVERIFY(bytes.contains("DejaVu Sans"));
    } else if (kind == QLatin1String("pdf")) {
        QVERIFY(bytes.startsWith("%PDF"));
    } else {
        QImage image;
        QVERIFY(image.loadFromData(bytes, "PNG"));
        QCOMPARE(image.size(), QSize(374, 380) * scale);
        if (scale == 1)
            QVERIFY(image.convertToFormat(QImage::Format_RGB32) == view->canvas().image());
    }
}

void TestCopyWindows::failedImageSaveKeepsTheOldFile_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("full");
    QTest::newRow("full disk, png") << 0 << true;
    QTest::newRow("full disk, pdf") << 4 << true;
    QTest::newRow("folder is a file") << 0 << false;
}

void TestCopyWindows::failedImageSaveKeepsTheOldFile()
{
    QFETCH(int, filter);
    QFETCH(bool, full);
    const Canvas source = noise(374, 380, 7); // a large PNG
    RecordsCopyWindow *copy = copyRecords(source, QStringLiteral("0: default - Records"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray old = "an old image";
    QString path = dir.filePath(filter == 0 ? QStringLiteral("x.png") : QStringLiteral("x.pdf"));
    {
        QFile f(full ? path : dir.filePath(QStringLiteral("plain")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    if (!full)
        path = dir.filePath(QStringLiteral("plain/x.png"));
    // A disk that fills up: the file size limit makes every write beyond
    // 4 KB fail, as a full disk would.
    rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    if (full)
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString error = saveThroughDialog(copy->image3(), filter, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY2(error.startsWith(QDir::toNativeSeparators(path) + QStringLiteral(" could not be saved: ")),
        qPrintable(error));
    QVERIFY2(!error.endsWith(QStringLiteral("Unknown error")), qPrintable(error));
    QCOMPARE(readAll(full ? path : dir.filePath(QStringLiteral("plain"))), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestCopyWindows::vectorImageDrawsTheRasterFigure()
{
    // Every figure of the three windows after a Run, as SVG rendered at its
    // own size by Qt's SVG renderer, against the raster. Tolerance: text is
    // drawn smooth in SVG and without smoothing in the raster (every edge
    // pixel of a glyph differs), and the smooth lines of the renderer and
    // its rounding of a diagonal's halfway steps differ from the raster's
    // along the jagged mean curves of a short sweep; axes, ticks, bars and
    // the trials' pixels lie on the same pixels. At most 10 % may differ
    // (measured: 9.6 % in the Is vs V2 quanta figure with its text and its
    // curve, 8.3 % and 8.0 % in the other two, 2 to 4 % in the rest); a
    // figure shifted by a pixel or drawn at another scale differs in far
    // more. The Runs draw from fixed seeds, as how jagged the mean curves of
    // a short sweep are depends on its trials: over seeds drawn at random the
    // quanta figure differed in 8.8 to 10.5 %.
    windows().csForm0->setBackgroundChecked(true);
    auto *records = qobject_cast<RecordsWindow *>(windows().forms[4]);
    records->showAndRaise();
    records->setSeedSource([seed = 1u]() mutable { return seed++; });
    for (int k = 0; k < 3; ++k)
        QTest::mouseClick(records->findChild<QPushButton *>(QStringLiteral("RunBtn")), Qt::LeftButton);
    auto *isv = qobject_cast<IsvWindow *>(windows().forms[5]);
    isv->showAndRaise();
    isv->setSeedSource([] { return 1u; });
    auto *spin = isv->findChild<SpinEdit *>(QStringLiteral("SpinEdit1"));
    spin->selectAll();
    QTest::keyClicks(spin, QStringLiteral("20"));
    isv->RunBtnClick();
    auto *histograms = qobject_cast<HistogramsWindow *>(windows().forms[6]);
    histograms->showAndRaise();
    histograms->setSeedSource([] { return 1u; });
    histograms->findChild<QCheckBox *>(QStringLiteral("CheckBoxLatency"))->click();
    histograms->RunBtnClick();
    QList<FigureView *> views {records->image3()};
    views += isv->findChildren<FigureView *>();
    views += histograms->findChildren<FigureView *>();
    QCOMPARE(views.size(), 8);
    for (FigureView *view : std::as_const(views)) {
        const Canvas &c = view->canvas();
        QSvgRenderer svg(encodeImage(c, ImageFormat::Svg));
        QVERIFY(svg.isValid());
        QImage back(c.width(), c.height(), QImage::Format_RGB32);
        back.fill(Qt::green);
        {
            QPainter painter(&back);
            svg.render(&painter);
        }
        const int differ = differingPixels(back, c.image());
        QVERIFY2(differ * 10 <= c.width() * c.height(),
            qPrintable(QStringLiteral("%1: %2 of %3 pixels differ")
                           .arg(view->parent()->objectName() + QLatin1Char('.') + view->objectName())
                           .arg(differ)
                           .arg(c.width() * c.height())));
    }
}

void TestCopyWindows::recordsTracesAreLinesInTheExports()
{
    // Three trials of Records: the SVG holds their curves as lines, not a
    // rectangle per pixel (it was over a megabyte), and the PNG at four
    // times the size draws them one device pixel wide, without the 4 x 4
    // blocks of a magnified raster.
    auto *records = qobject_cast<RecordsWindow *>(windows().forms[4]);
    records->showAndRaise();
    records->setSeedSource([seed = 1u]() mutable { return seed++; });
    for (int k = 0; k < 3; ++k)
        QTest::mouseClick(records->findChild<QPushButton *>(QStringLiteral("RunBtn")), Qt::LeftButton);
    const Canvas &c = records->image3()->canvas();
    const QByteArray svg = encodeImage(c, ImageFormat::Svg);
    QVERIFY2(svg.size() < 100 * 1024, qPrintable(QString::number(svg.size())));
    QVERIFY2(svg.count("<rect") < 20, qPrintable(QString::number(svg.count("<rect"))));
    QVERIFY(svg.count("<polyline") >= 9); // three curves of three trials
    const QByteArray pdf = encodeImage(c, ImageFormat::Pdf);
    QVERIFY2(pdf.size() < 100 * 1024, qPrintable(QString::number(pdf.size())));
    qInfo("Records of three trials: SVG %lld bytes, PDF %lld bytes", qlonglong(svg.size()),
        qlonglong(pdf.size()));
    QImage fine;
    QVERIFY(fine.loadFromData(encodeImage(c, ImageFormat::Png4x), "PNG"));
    QCOMPARE(fine.size(), QSize(4 * 374, 4 * 380));
    int blocks = 0, blackRaster = 0;
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < c.width(); ++x) {
            if (c.rgb(x, y) != 0)
                continue;
            ++blackRaster;
            bool block = true;
            for (int dy = 0; dy < 4 && block; ++dy)
                for (int dx = 0; dx < 4 && block; ++dx)
                    block = (fine.pixel(4 * x + dx, 4 * y + dy) & 0xffffff) == 0;
            blocks += block;
        }
    }
    QVERIFY(blackRaster > 600); // the spike and the current of each step at 1x
    QVERIFY2(blocks < blackRaster / 50, qPrintable(QStringLiteral("%1 blocks").arg(blocks)));
}

void TestCopyWindows::figuresAtDisplayScaleTwoAreFine_data()
{
    QTest::addColumn<bool>("measured");
    QTest::newRow("model alone") << false;
    // Measured points are drawn over the figure, at device resolution too.
    QTest::newRow("recording loaded") << true;
}

void TestCopyWindows::figuresAtDisplayScaleTwoAreFine()
{
    QFETCH(bool, measured);
    // The display scale is set before the application starts: this test
    // runs itself again in a program at scale 2.
    if (qEnvironmentVariable("QT_SCALE_FACTOR") != QLatin1String("2")) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("figuresAtDisplayScaleTwoAreFine:")
                + QString::fromUtf8(QTest::currentDataTag())});
        QVERIFY(child.waitForFinished(600000));
        QVERIFY2(child.exitCode() == 0, child.readAll().constData());
        return;
    }
    // Two measured mean peak currents of -30 pA with error bars of 5 pA,
    // apart from the axis.
    const QList<int> clamps {-100, -20};
    if (measured) {
        auto data = std::make_shared<MeasuredData>();
        for (int V : clamps) {
            MeasuredPoint p;
            p.V = V;
            p.meanPeak = -30;
            p.semPeak = 5;
            data->points.push_back(p);
        }
        measuredData().setData(data);
    }
    auto *isv = qobject_cast<IsvWindow *>(windows().forms[5]);
    isv->showAndRaise();
    FigureView *view = figure(isv, "Image2");
    QCOMPARE(view->devicePixelRatioF(), 2.0);
    const QImage grabbed = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    // "Copy Image" copies the figure as shown, at device resolution.
    QGuiApplication::clipboard()->clear();
    {
        QMenu menu;
        view->fillContextMenu(menu);
        const auto actions = menu.actions();
        for (QAction *a : actions)
            if (a->text() == QStringLiteral("Copy Image"))
                a->trigger();
    }
    const QImage copied = QGuiApplication::clipboard()->image();
    measuredData().setData(nullptr);
    QCOMPARE(grabbed.size(), QSize(408, 362));
    QCOMPARE(copied.size(), grabbed.size());
    QCOMPARE(copied.devicePixelRatio(), 2.0);
    QCOMPARE(differingPixels(copied, grabbed), 0);
    // The points are there, each marker a square of 5 x 5 pixels around
    // (140 + V, 70): 10 x 10 device pixels.
    for (int V : clamps) {
        int shown = 0;
        for (int y = 2 * 68; y < 2 * 73; ++y)
            for (int x = 2 * (138 + V); x < 2 * (143 + V); ++x)
                shown += (grabbed.pixel(x, y) & 0xffffff) == (MeasuredColour.rgb() & 0xffffff);
        QCOMPARE(shown, measured ? 100 : 0);
    }
    // The current axis: a horizontal grey line of the raster. At device
    // resolution it is one device row deep: rows just above and below it
    // differ from it (a magnified raster would repeat every row twice).
    const Canvas &c = view->canvas();
    int axisRow = -1;
    for (int y = 0; y < c.height() && axisRow < 0; ++y) {
        int grey = 0;
        for (int x = 0; x < c.width(); ++x)
            grey += c.rgb(x, y) == (colors::Grey.rgb() & 0xffffff);
        if (grey > c.width() / 2)
            axisRow = y;
    }
    QVERIFY(axisRow >= 0);
    const auto greyAt
        = [&](int x, int y) { return (grabbed.pixel(x, y) & 0xffffff) == (colors::Grey.rgb() & 0xffffff); };
    int lineRows = 0, blocks = 0, columns = 0;
    for (int y = 2 * axisRow - 1; y <= 2 * axisRow + 2; ++y) {
        int grey = 0;
        for (int x = 0; x < grabbed.width(); ++x)
            grey += greyAt(x, y);
        lineRows += grey > grabbed.width() / 2;
    }
    // Blocks of 2 x 2 equal grey pixels along the axis: none at device resolution.
    for (int x = 0; x + 1 < grabbed.width(); x += 2) {
        for (int y = 2 * axisRow - 1; y <= 2 * axisRow + 1; ++y) {
            if (greyAt(x, y) && greyAt(x + 1, y) && greyAt(x, y + 1) && greyAt(x + 1, y + 1))
                ++blocks;
        }
        ++columns;
    }
    QCOMPARE(lineRows, 1);
    QVERIFY2(blocks < columns / 10,
        qPrintable(QStringLiteral("%1 blocks in %2 columns").arg(blocks).arg(columns)));
}

QTEST_MAIN(TestCopyWindows)
#include "tst_copywindows.moc"
