#pragma once

// A listener to the announced changes of the model that counts what each of
// them asks of the windows, by the rules the windows decide by. The windows
// themselves are tested against those rules once, with the whole set.

#include "widgets/currentmodel.h"
#include "widgets/windowset.h"

#include <QList>
#include <QObject>

#include <map>

namespace cleftsim::test {

class ChangeSpy {
public:
    ChangeSpy()
    {
        m_connection = QObject::connect(
            &modelChanges(), &ModelChanges::parameterChanged, [this](Param f) { record(f); });
    }
    ~ChangeSpy() { QObject::disconnect(m_connection); }
    ChangeSpy(const ChangeSpy &) = delete;
    ChangeSpy &operator=(const ChangeSpy &) = delete;

    QList<Param> announced;
    QList<Param> shown; // the main window's rows written, in order
    std::map<Param, int> rows; // the same, counted by row
    int records = 0; // figures cleared
    int isv = 0;
    int histograms = 0;
    QList<bool> isvLayouts; // Is vs V2 framed with or without background
    int failureLabel = 0; // Scheme Settings' failure-rate row recomputed
    int failureChart = 0;
    int conductanceLabels = 0;

    int clearedFigures() const { return records + isv + histograms; }
    // Whether anything was announced at all.
    int calls() const { return static_cast<int>(announced.size()); }

private:
    void record(Param f)
    {
        announced << f;
        for (Param row : rowsShowing(f)) {
            shown << row;
            ++rows[row];
        }
        records += clearsRecords(f);
        isv += clearsIsv(f);
        histograms += clearsHistograms(f);
        if (f == Param::BackgroundOn)
            isvLayouts << (model().LPC.BackgroundOn != 0);
        failureLabel += changesFailureLabel(f);
        failureChart += changesFailureChart(f);
        conductanceLabels += changesConductanceLabels(f);
    }

    QMetaObject::Connection m_connection;
};

} // namespace cleftsim::test
