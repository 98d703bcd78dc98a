#pragma once

// Stand-ins for the experiment windows and the main window that count what
// an edit asks of them. SpyScope puts them into the window set and the real
// windows back when it ends.

#include "widgets/windowset.h"

#include <QList>

namespace cleftsim::test {

struct RecordsSpy : RecordsLink {
    int emptied = 0;
    void EmptyImage() override { ++emptied; }
};

struct IsvSpy : IsvLink {
    int emptied = 0;
    QList<bool> layouts;
    void EmptyImages() override { ++emptied; }
    void setBackgroundLayout(bool on) override { layouts << on; }
};

struct HistogramsSpy : HistogramsLink {
    int emptied = 0;
    void EmptyImages() override { ++emptied; }
};

struct MainSpy : MainWindowLink {
    QList<Param> shown;
    void showParameter(Param f) override { shown << f; }
    bool Store() override { return true; }
    QMdiArea *frame() override { return m_frame; }
    QMdiArea *m_frame = nullptr;
};

class SpyScope {
public:
    SpyScope()
        : m_saved(windows())
    {
        WindowSet &w = windows();
        main.m_frame = w.csMainForm ? w.csMainForm->frame() : nullptr;
        w.csMainForm = &main;
        w.csForm4 = &records;
        w.csForm5 = &isv;
        w.csForm6 = &histograms;
    }
    ~SpyScope() { windows() = m_saved; }
    SpyScope(const SpyScope &) = delete;
    SpyScope &operator=(const SpyScope &) = delete;

    MainSpy main;
    RecordsSpy records;
    IsvSpy isv;
    HistogramsSpy histograms;

private:
    WindowSet m_saved;
};

} // namespace cleftsim::test
