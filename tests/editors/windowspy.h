#pragma once

// Stand-ins for the windows that an editor reaches, counting what it asks of
// them, and helpers to enter text as a user does.

#include "drawing/canvas.h"
#include "widgets/windowset.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QtTest>

#include <map>

namespace cleftsim {

// Counts the calls that the editors make on the other windows.
class WindowSpy : public MainWindowLink, public SchemeLink, public RecordsLink {
public:
    // Puts the spy in place of the main window, Scheme Settings and the three
    // experiment windows; the destructor puts the real ones back.
    WindowSpy()
        : m_saved(windows())
    {
        WindowSet &w = windows();
        w.csMainForm = this;
        w.csForm1 = this;
        w.csForm4 = this;
        w.csForm5 = &isv;
        w.csForm6 = &histograms;
    }
    ~WindowSpy() override
    {
        WindowSet &w = windows();
        w.csMainForm = m_saved.csMainForm;
        w.csForm1 = m_saved.csForm1;
        w.csForm4 = m_saved.csForm4;
        w.csForm5 = m_saved.csForm5;
        w.csForm6 = m_saved.csForm6;
    }
    WindowSpy(const WindowSpy &) = delete;
    WindowSpy &operator=(const WindowSpy &) = delete;

    void showParameter(Param f) override { ++rows[f]; }
    bool Store() override { return true; }
    QMdiArea *frame() override { return nullptr; }

    void LabelsN0() override { ++failureLabel; }
    void FailuresChart() override { ++failureChart; }
    void refreshConductanceLabels() override { ++conductanceLabels; }
    void setBackgroundLayout(bool) override { }
    void writeEditors(int, double, double) override { }

    void EmptyImage() override { ++records; }

    struct IsvCounter : IsvLink {
        int count = 0;
        void EmptyImages() override { ++count; }
        void setBackgroundLayout(bool) override { }
    } isv;
    struct HistogramsCounter : HistogramsLink {
        int count = 0;
        void EmptyImages() override { ++count; }
    } histograms;

    int clearedFigures() const { return records + isv.count + histograms.count; }
    int calls() const
    {
        int n = failureLabel + failureChart + conductanceLabels + clearedFigures();
        for (const auto &r : rows)
            n += r.second;
        return n;
    }

    std::map<Param, int> rows;
    int failureLabel = 0;
    int failureChart = 0;
    int conductanceLabels = 0;
    int records = 0;

private:
    WindowSet m_saved;
};

// Replaces the whole text of an edit by pasting, as a user who selects all
// and pastes does: the edit's handler sees the pasted text at once.
inline void pasteText(QLineEdit *edit, const QString &text)
{
    QApplication::clipboard()->setText(text);
    edit->setFocus();
    edit->selectAll();
    edit->paste();
}

inline bool isNavy(const Canvas &c, int x, int y)
{
    return c.rgb(x, y) == (colors::Navy.rgb() & 0xffffff);
}

inline bool isGrey(const Canvas &c, int x, int y)
{
    return c.rgb(x, y) == (colors::Grey.rgb() & 0xffffff);
}

// Whether any pixel of column x (or of row y) is navy.
inline bool navyInColumn(const Canvas &c, int x)
{
    for (int y = 0; y < c.height(); ++y)
        if (isNavy(c, x, y))
            return true;
    return false;
}

// Whether any pixel of the rectangle x1..x2, y1..y2 (clipped) differs from the face.
inline bool inkIn(const Canvas &c, int x1, int y1, int x2, int y2, const QColor &face = colors::Silver)
{
    for (int y = std::max(0, y1); y <= std::min(c.height() - 1, y2); ++y)
        for (int x = std::max(0, x1); x <= std::min(c.width() - 1, x2); ++x)
            if (c.rgb(x, y) != (face.rgb() & 0xffffff))
                return true;
    return false;
}

} // namespace cleftsim
