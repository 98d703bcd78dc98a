#include "experiments/recordsdrawing.h"

#include "drawing/ticklabels.h"
#include "model/rounding.h"

#include <algorithm>

namespace cleftsim {

namespace {

// Pixels per millivolt and per picoampere are 1; the figure's fixed places [px].
constexpr int TimeOrigin = 46; // x of step 0
constexpr int ZeroPotential = 65; // y of 0 mV
constexpr int TickTop = 165; // site j's tick covers y = TickTop + 2j and + 1

} // namespace

int recordsTraceBase(int N)
{
    return N >= 10 ? 2 * N : 20;
}

int frameRecords(Canvas &c, const ParameterSet &p)
{
    const int traceBase = recordsTraceBase(p.N);
    const int B = traceBase + 168;
    ClearFrame(c, colors::White, c.width(), c.height());

    // Potentials: 0 mV at y = 65, one pixel per millivolt.
    drawSegment(c, 46, 25, 46, 165);
    drawTicks(c, 46, 25, 0, 10, 14, -4, 0); // every 10 mV from +40 to -90
    std::vector<TickLabel> labels;
    for (int i = 0; i <= 2; ++i) {
        drawSegment(c, 46, 65 + 50 * i, 40, 65 + 50 * i);
        const QString L = QString::number(-50 * i);
        labels.push_back(tickLabel(39 - c.textWidth(L), 65 + 50 * i - 7, L, tickRank(i)));
    }
    writeTickLabels(c, labels);
    // The titles clear of the labels: the subscripts go with their title.
    const int potentialTitle = writeVerticalTitle(c, 0, 160, QStringLiteral("potential, V , V   (mV)"));
    DrawVerticalText(c, 4, 95 + potentialTitle - 160, QStringLiteral("1   p"));

    // Time along 0 mV, labelled in msec from the spike onset.
    drawSegment(c, 40, 65, 366, 65);
    drawTicks(c, 66, 65, 20, 0, 16, 0, 6); // every msec
    drawTicks(c, 50, 65, 4, 0, 80, 0, 4); // every 0.2 msec
    writeTickLabels(c,
        {tickLabel(63, 71, QStringLiteral("0"), 3), tickLabel(163, 71, QStringLiteral("5"), 2),
            tickLabel(260, 71, QStringLiteral("10"), 3), tickLabel(360, 71, QStringLiteral("15"), 2)});
    // Its title under the first five milliseconds, clear of the labels.
    const QString timeTitle = QStringLiteral("time (msec)");
    writeLabelClear(c, 116 - Round(0.5 * c.textWidth(timeTitle)), 84, timeTitle);

    // Current: 0 pA at y = B, inward currents below.
    drawSegment(c, 46, B, 46, B + 100);
    drawTicks(c, 46, B + 10, 0, 10, 9, -4, 0); // every 10 pA
    labels.clear();
    for (int i = 0; i <= 2; ++i) {
        drawSegment(c, 46, B + 50 * i, 40, B + 50 * i);
        const QString L = QString::number(-50 * i);
        labels.push_back(tickLabel(39 - c.textWidth(L), B + 50 * i - 7, L, tickRank(i)));
    }
    writeTickLabels(c, labels);
    const int currentTitle = writeVerticalTitle(c, 0, 330, QStringLiteral("synaptic current, I   (pA)"));
    DrawVerticalText(c, 4, 226 + currentTitle - 330, QStringLiteral("s"));

    // The current an unlimited conductance would drive through the gap.
    if (p.Rg > 0) {
        const double S = p.V2 / p.Rg;
        const int ys = B - Round(S);
        c.moveTo(46, ys);
        c.lineTo(366, ys);
        // Its name over it, kept inside the figure; none for a line outside it.
        c.setBrushColor(colors::White);
        c.setFontColor(colors::Grey);
        if (ys >= 0 && ys < c.height()) {
            const QString name = QStringLiteral("saturation level");
            const QRect box = textInk(c.font(), 246, ys - 9, name).boundingRect();
            const int y = ys - 9 + std::max(0, -box.top()) - std::max(0, box.bottom() - (c.height() - 1));
            c.textOut(246, y, name);
        }
    }
    return traceBase;
}

RecordsTraceDrawer::RecordsTraceDrawer(Canvas &canvas, int traceBase)
    : m_canvas(canvas)
    , m_zeroCurrent(traceBase + 168)
{
    m_canvas.beginTraces(3, colors::Black);
}

void RecordsTraceDrawer::step(const StepReport &s)
{
    // The pixel of each value, and the value itself at the pixel's centre
    // line for the drawing at finer resolutions.
    const int x = TimeOrigin + s.k;
    const double centre = x + 0.5;
    m_canvas.traceStep({{QPoint(x, ZeroPotential - Round(s.E)), QPointF(centre, ZeroPotential + 0.5 - s.E)},
        {QPoint(x, m_zeroCurrent - Round(s.I)), QPointF(centre, m_zeroCurrent + 0.5 - s.I)},
        {QPoint(x, ZeroPotential - Round(s.Vpre)), QPointF(centre, ZeroPotential + 0.5 - s.Vpre)}});
}

void RecordsTraceDrawer::release(int j, int k)
{
    m_canvas.setPenColor(colors::Red);
    m_canvas.moveTo(TimeOrigin + k, TickTop + 2 * j);
    m_canvas.lineTo(TimeOrigin + k, TickTop + 2 + 2 * j);
}

int recordsQuantaCaptionLeft(double du)
{
    return Round((SpikeOnset + du) / TimeStep) + 68;
}

} // namespace cleftsim
