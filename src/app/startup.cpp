#include "app/startup.h"

#include "app/mainform.h"
#include "editors/configform.h"
#include "editors/presynform.h"
#include "editors/schemeform.h"
#include "editors/subsynform.h"
#include "experiments/histogramsform.h"
#include "experiments/isvform.h"
#include "experiments/recordsform.h"
#include "model/parameterset.h"

#include <QApplication>

namespace cleftsim {

std::unique_ptr<TcsMainForm> createWindowSet()
{
    model().reset();
    WindowSet &w = windows();
    w = WindowSet{};
    auto main = std::make_unique<TcsMainForm>();
    w.csMainForm = main.get();
    QMdiArea *frame = main->frame();

    auto *f0 = new TcsForm0;
    w.csForm0 = f0;
    w.forms[0] = f0;
    f0->addTo(frame);
    auto *f1 = new TcsForm1;
    w.csForm1 = f1;
    w.forms[1] = f1;
    f1->addTo(frame);
    auto *f2 = new TcsForm2;
    w.csForm2 = f2;
    w.forms[2] = f2;
    f2->addTo(frame);
    auto *f3 = new TcsForm3;
    w.csForm3 = f3;
    w.forms[3] = f3;
    f3->addTo(frame);
    auto *f4 = new TcsForm4;
    w.csForm4 = f4;
    w.forms[4] = f4;
    f4->addTo(frame);
    auto *f5 = new TcsForm5;
    w.csForm5 = f5;
    w.forms[5] = f5;
    f5->addTo(frame);
    auto *f6 = new TcsForm6;
    w.csForm6 = f6;
    w.forms[6] = f6;
    f6->addTo(frame);
    for (int i = 0; i < 4; ++i)
        w.forms[i]->show();
    for (int i = 4; i < 7; ++i)
        w.forms[i]->showMinimizedInFrame();
    return main;
}

int runApplication(int &argc, char **argv)
{
    QApplication app(argc, argv);
    auto main = createWindowSet();
    main->show();
    const int result = app.exec();
    windows() = WindowSet{};
    return result;
}

} // namespace cleftsim
