#include "app/startup.h"

#include "app/mainwindow.h"
#include "app/sessionkeeper.h"
#include "drawing/glyphs.h"
#include "editors/modelconfigwindow.h"
#include "editors/presynapticwindow.h"
#include "editors/schemewindow.h"
#include "editors/subsynapticwindow.h"
#include "experiments/histogramswindow.h"
#include "experiments/isvwindow.h"
#include "experiments/recordswindow.h"
#include "model/drawscan.h"
#include "model/parameterset.h"
#include "run/rundescription.h"
#include "widgets/currentmodel.h"

#include <QApplication>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QStyleFactory>

#include <clocale>
#include <cstdio>
#include <string>

namespace cleftsim {

void applyClassicLook(QApplication &app)
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(fusion);
    QPalette pal = app.palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(g, QPalette::Button, ClassicButtonFace);
        pal.setColor(g, QPalette::Window, ClassicButtonFace);
    }
    pal.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    pal.setColor(QPalette::Active, QPalette::ButtonText, Qt::black);
    pal.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::black);
    // Disabled captions are grey, legible on the silver face.
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        pal.setColor(QPalette::Disabled, role, ClassicDisabledText);
    app.setPalette(pal);
}

QColor buttonFaceColour()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

bool askIgnoreColours()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
        QStringLiteral("csMDI has detected that you use non-standard color set."),
        QMessageBox::Abort | QMessageBox::Ignore);
    box.button(QMessageBox::Abort)->setText(QStringLiteral("&Abort"));
    box.button(QMessageBox::Ignore)->setText(QStringLiteral("&Ignore"));
    box.setDefaultButton(QMessageBox::Abort);
    box.setEscapeButton(QMessageBox::Abort);
    return box.exec() == QMessageBox::Ignore;
}

bool colourCheck(const QColor &buttonFace, const ColourQuestion &askIgnore)
{
    if (buttonFace.rgb() == ClassicButtonFace.rgb())
        return true;
    return askIgnore && askIgnore();
}

void fixNumberFormat()
{
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_NUMERIC, "C");
}

// The title appears in message boxes only: the display name is left unset,
// since the toolkit would append it to every window caption.
void setApplicationTitle()
{
    QCoreApplication::setApplicationName(QStringLiteral("CS"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(programVersion()));
}

namespace {

// The four windows that start open share the frame so that each shows its
// figures: Scheme Settings in the top left corner, where it keeps its
// failure-rate chart inside the frame when it widens, Model Configuration
// below it, and the two other editors side by side in the bottom right
// corner, over the part of Scheme Settings with the fewest figures.
void placeWindowsAtStart(QMdiArea *frame)
{
    const QSize area = frame->contentsRect().size();
    WindowSet &w = windows();
    const QSize scheme = w.forms[1]->subWindow()->size();
    const QSize presyn = w.forms[2]->subWindow()->size();
    w.forms[1]->moveOuter(QPoint(0, 0));
    w.forms[0]->moveOuter(QPoint(0, scheme.height()));
    w.forms[2]->moveOuter(QPoint(area.width() - 2 * presyn.width(), area.height() - presyn.height()));
    w.forms[3]->moveOuter(QPoint(area.width() - presyn.width(), area.height() - presyn.height()));
}

template <class Window> ChildWindow *make()
{
    return new Window;
}

} // namespace

std::unique_ptr<MainWindow> createWindowSet()
{
    model().reset();
    WindowSet &w = windows();
    w = WindowSet {};
    auto main = std::make_unique<MainWindow>();
    w.csMainForm = main.get();
    QMdiArea *frame = main->frame();

    // By number, which is the order of creation: each window is in the set
    // before the next one is made.
    using MakeWindow = ChildWindow *(*)();
    static const MakeWindow makers[FixedWindows]
        = {make<ModelConfigWindow>, make<SchemeWindow>, make<PresynapticWindow>, make<SubsynapticWindow>,
            make<RecordsWindow>, make<IsvWindow>, make<HistogramsWindow>};
    for (int i = 0; i < FixedWindows; ++i) {
        ChildWindow *form = makers[i]();
        w.add(i, form);
        form->addTo(frame);
    }
    placeWindowsAtStart(frame);
    for (int i = 0; i < 4; ++i)
        w.forms[i]->show();
    for (int i = 4; i < FixedWindows; ++i)
        w.forms[i]->showMinimizedInFrame();
    main->createDialogs();
    return main;
}

std::unique_ptr<MainWindow> startProgram(const QColor &buttonFace, const ColourQuestion &askIgnore)
{
    if (!colourCheck(buttonFace, askIgnore))
        return nullptr;
    fixNumberFormat();
    setApplicationTitle();
    // Every window of the program shows the program's icon; the frozen
    // copies set their own.
    QApplication::setWindowIcon(applicationIcon());
    return createWindowSet();
}

int runApplication(int &argc, char **argv)
{
    // A draw scan forced by the environment that cannot be followed is
    // refused before anything runs, with the words and the status of
    // cleftsim-batch (the Python module refuses it too).
    const std::string scanProblem = drawScanVariableProblem();
    if (!scanProblem.empty()) {
        std::fprintf(stderr, "cleftsim: %s\n", scanProblem.c_str());
        return 2;
    }
    QApplication app(argc, argv);
    // What is left once the toolkit took its options: at most one states file.
    QStringList files = QCoreApplication::arguments().mid(1);
    files.removeIf([](const QString &a) { return a.startsWith(QLatin1Char('-')); });
    if (files.size() > 1) {
        std::fprintf(
            stderr, "cleftsim: one states file at most, not %lld\n", static_cast<long long>(files.size()));
        return 2;
    }
    applyClassicLook(app);
    auto main = startProgram(buttonFaceColour(), askIgnoreColours);
    if (!main)
        return 0;
    main->show();
    SessionKeeper *keeper = main->sessionKeeper();
    keeper->watchEndSignals();
    keeper->start();
    // Opened as File > Open States would, after the question of a session
    // left by a run that did not close normally.
    if (!files.isEmpty() && !keeper->endedBySignal())
        main->openStates(files.constFirst());
    // A signal during the start ended the program already: the session is kept.
    const int result = keeper->endedBySignal() ? 0 : app.exec();
    // No window may reach another through the set while the windows go.
    windows() = WindowSet {};
    main.reset();
    return result;
}

} // namespace cleftsim
