// Takes the pictures of the README's tour: starts the program as a user
// would, works its windows through their own controls, and saves what the
// screen shows at each stop as a PNG in the folder given on the command line.

#include "app/mainwindow.h"
#include "app/startup.h"
#include "experiments/fitwindow.h"
#include "experiments/measuredoverlay.h"
#include "widgets/childwindow.h"
#include "widgets/figureview.h"
#include "widgets/windowset.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QScreen>

#include <cstdio>

namespace {

using namespace cleftsim;

void settle(int ms = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

template <class T> T *control(int form, const char *name)
{
    T *w = windows().forms[form]->findChild<T *>(QLatin1String(name));
    if (!w) {
        std::fprintf(stderr, "cleftsim-tour: window %d has no control %s\n", form, name);
        std::exit(1);
    }
    return w;
}

void type(int form, const char *name, const QString &text)
{
    control<QLineEdit>(form, name)->setText(text);
    settle(50);
}

bool save(const QPixmap &picture, const QDir &dir, const char *file)
{
    const QString path = dir.filePath(QLatin1String(file));
    if (!picture.save(path, "PNG")) {
        std::fprintf(stderr, "cleftsim-tour: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The window as it stands in the frame, with its title bar.
QPixmap windowPicture(int form)
{
    ChildWindow *f = windows().forms[form];
    QWidget *w = f->subWindow() ? static_cast<QWidget *>(f->subWindow()) : f;
    return w->grab();
}

// Records, Is vs V2 with a background conductance (its current figure also
// as a PDF page) and Histograms with both rows.
bool pictureExperiments(const QDir &dir)
{
    bool ok = true;
    // Records: a few trials with the default synapse.
    windows().forms[4]->showAndRaise();
    settle();
    for (int i = 0; i < 8; ++i) {
        control<QAbstractButton>(4, "RunBtn")->click();
        settle(30);
    }
    settle();
    ok = save(windowPicture(4), dir, "records.png");

    // Is vs V2 with a background conductance.
    control<QCheckBox>(0, "CheckBox1")->setChecked(true);
    settle();
    type(3, "MaskEdit3", QStringLiteral("0.020"));
    type(5, "SpinEdit1", QStringLiteral("300"));
    windows().forms[5]->showAndRaise();
    settle();
    control<QAbstractButton>(5, "RunBtn")->click();
    settle();
    ok = save(windowPicture(5), dir, "isv-background.png") && ok;
    // The current figure as "Save Image As..." writes it for a paper.
    {
        const QString path = dir.filePath(QStringLiteral("isv-current.pdf"));
        QString error;
        if (windows()
                .forms[5]
                ->findChild<FigureView *>(QStringLiteral("Image2"))
                ->saveImage(path, ImageFormat::Pdf, &error))
            std::printf("%s\n", qPrintable(path));
        else
            std::fprintf(stderr, "cleftsim-tour: %s\n", qPrintable(error));
        ok = ok && error.isEmpty();
    }

    // Histograms with both rows, back in the basic configuration.
    control<QCheckBox>(0, "CheckBox1")->setChecked(false);
    type(6, "SpinEdit1", QStringLiteral("2000"));
    windows().forms[6]->showAndRaise();
    settle();
    control<QCheckBox>(6, "CheckBoxLatency")->click();
    settle();
    control<QAbstractButton>(6, "RunBtn")->click();
    settle();
    ok = save(windowPicture(6), dir, "histograms.png") && ok;

    return ok;
}

// A fit with the free parameters over their ranges and fewer trials: the
// profile of each, and the result's text as long as it grows.
bool pictureFit(FitWindow *fit, const std::vector<std::pair<const char *, std::pair<double, double>>> &free,
    const QDir &dir, const char *name)
{
    for (const FitWindow::Row &row : fit->rows()) {
        row.free->setChecked(false);
        row.low->setValue(row.info->min);
        row.high->setValue(row.info->max);
    }
    for (const auto &[code, range] : free) {
        fit->findChild<QCheckBox *>(QStringLiteral("Free_") + QLatin1String(code))->setChecked(true);
        fit->findChild<QDoubleSpinBox *>(QStringLiteral("Low_") + QLatin1String(code))->setValue(range.first);
        fit->findChild<QDoubleSpinBox *>(QStringLiteral("High_") + QLatin1String(code))
            ->setValue(range.second);
    }
    fit->findChild<QLineEdit *>(QStringLiteral("TrialsEdit"))->setText(QStringLiteral("500"));
    fit->showAndRaise();
    settle();
    fit->findChild<QAbstractButton *>(QStringLiteral("RunBtn"))->click();
    while (fit->running())
        settle(100);
    settle();
    return save(fit->subWindow() ? fit->subWindow()->grab() : fit->grab(), dir, name);
}

// A recording (made by the batch tool at Rg = 1.50) fitted with Rg free, the
// estimate applied and the sweep beside the recording, then fits of two and
// three free parameters. False when anything failed.
bool pictureFits(QDir &dir)
{
    bool ok = true;
    auto data = std::make_shared<MeasuredData>();
    RunProblem problem;
    // Read from the source tree by the name the README gives it.
    dir.setPath(dir.absolutePath());
    QDir::setCurrent(QStringLiteral(CLEFTSIM_SOURCE_DIR));
    if (!readMeasuredData("doc/recording.csv", *data, &problem)) {
        std::fprintf(stderr, "cleftsim-tour: %s\n", problem.text().c_str());
        return false;
    }
    measuredData().setData(data);
    FitWindow *fit = showFitWindow();
    fit->moveOuter(QPoint(200, 20));
    fit->findChild<QCheckBox *>(QStringLiteral("Free_Rg"))->setChecked(true);
    fit->findChild<QLineEdit *>(QStringLiteral("SeedEdit"))->setText(QStringLiteral("3"));
    settle();
    fit->findChild<QAbstractButton *>(QStringLiteral("RunBtn"))->click();
    while (fit->running())
        settle(100);
    settle();
    ok = save(fit->subWindow() ? fit->subWindow()->grab() : fit->grab(), dir, "fit.png") && ok;

    // The estimate applied, and the sweep beside the recording.
    fit->findChild<QAbstractButton *>(QStringLiteral("ApplyBtn"))->click();
    windows().forms[5]->showAndRaise();
    settle();
    control<QAbstractButton>(5, "RunBtn")->click();
    settle();
    ok = save(windowPicture(5), dir, "isv-measured.png") && ok;

    // Two and three free parameters over narrower ranges, fewer trials.
    ok = pictureFit(fit, {{"Rg", {0.5, 3.0}}, {"N", {6, 14}}}, dir, "fit-two.png") && ok;
    ok = pictureFit(fit, {{"Rg", {0.5, 3.0}}, {"N", {6, 14}}, {"Gmax", {0.1, 0.4}}}, dir, "fit-three.png")
        && ok;

    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: cleftsim-tour FOLDER\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cleftsim-tour: cannot make %s\n", argv[1]);
        return 1;
    }
    applyClassicLook(app);
    auto mainForm = startProgram(buttonFaceColour(), [] { return true; });
    if (!mainForm)
        return 1;
    mainForm->show();
    settle(800);
    bool ok = save(mainForm->grab(), dir, "main-window.png");

    ok = pictureExperiments(dir) && ok;
    ok = pictureFits(dir) && ok;
    return ok ? 0 : 1;
}
