#include "experiments/isvdrawing.h"

#include "drawing/ticklabels.h"

#include <QtAlgorithms>

namespace cleftsim {

int isvQuantumStep(int N)
{
    return 140 / N;
}

int frameIsvQuanta(Canvas &c, int N)
{
    ClearFrame(c, colors::White, c.width(), c.height());

    // Quanta: m quanta at y = 145 - m * q.
    const int q = isvQuantumStep(N);
    drawSegment(c, 140, 150, 140, 145 - N * q);
    drawTicks(c, 140, 145 - q, 0, -q, N, 4, 0); // every quantum
    std::vector<TickLabel> labels;
    for (int i = 1; i <= N; ++i) {
        if (N <= 5 || i % 5 == 0)
            labels.push_back(tickLabel(148, 138 - i * q, QString::number(i), tickRank(i)));
    }
    writeTickLabels(c, labels);

    // Potential: x = 140 + V.
    drawSegment(c, 0, 145, 180, 145);
    drawTicks(c, 180, 145, -10, 0, 19, 0, 4); // every 10 mV from +40 to -140
    drawTicks(c, 90, 145, -50, 0, 2, 0, 6); // -50 and -100 mV
    c.setFontColor(colors::Grey);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    writeTickLabels(c,
        {tickLabel(137, 151, QStringLiteral("0"), 3), tickLabel(80, 151, QStringLiteral("-50"), 2),
            tickLabel(26, 151, QStringLiteral("-100"), 3)});
    writeLabelClear(c, 12, 165, QStringLiteral("potential, V2 (mV)"));
    return q;
}

void frameIsvCurrent(Canvas &c)
{
    ClearFrame(c, colors::White, c.width(), c.height());

    // Current: y = 40 - I, inward currents below the zero line.
    drawSegment(c, 140, 0, 140, 180);
    drawTicks(c, 140, 0, 0, 10, 4, -4, 0); // outward currents, every 10 pA
    drawTicks(c, 140, 50, 0, 10, 14, 4, 0); // inward currents, every 10 pA
    drawTicks(c, 140, 90, 0, 50, 2, 6, 0); // -50 and -100 pA

    // Potential along the zero-current line.
    drawSegment(c, 0, 40, 180, 40);
    drawTicks(c, 180, 40, -10, 0, 4, 0, 4); // +40 to +10 mV, below the line
    drawTicks(c, 130, 40, -10, 0, 14, 0, -4); // -10 to -140 mV, above it
    drawTicks(c, 90, 40, -50, 0, 2, 0, -6); // -50 and -100 mV
    c.setFontColor(colors::Grey);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    writeTickLabels(c,
        {tickLabel(80, 19, QStringLiteral("-50"), 2), tickLabel(26, 19, QStringLiteral("-100"), 3),
            tickLabel(148, 82, QStringLiteral("-50"), 2), tickLabel(148, 132, QStringLiteral("-100"), 3)});
    writeLabelClear(c, 12, 2, QStringLiteral("potential, V2 (mV)"));
}

int frameIsvFigures(Canvas &quanta, Canvas &current, Canvas &epsc, int N, bool background)
{
    // The titles inside their figures, clear of the labels.
    const int q = frameIsvQuanta(quanta, N);
    writeVerticalTitle(quanta, 180, 182, QStringLiteral("number of quanta released, m"));
    frameIsvCurrent(current);
    writeVerticalTitle(current, 173, 179, QStringLiteral("synaptic current (pA)"));
    if (background) {
        frameIsvCurrent(epsc);
        writeVerticalTitle(epsc, 174, 178, QStringLiteral("EPSC amplitude (pA)"));
    } else {
        writeVerticalTitle(current, 189, 175, QStringLiteral("(EPSC amplitude)"));
    }
    return q;
}

void drawIsvTrial(Canvas &quanta, Canvas &current, int quantumStep, int V, const IsvTrialResult &r)
{
    IsvTrialColumn column;
    column.add(quantumStep, r);
    column.draw(quanta, current, V);
}

void IsvTrialColumn::RowSet::draw(Canvas &c, int x)
{
    Q_ASSERT(c.height() <= Rows);
    static const QRgb silver = colors::Silver.rgb();
    for (int w = 0; w < Rows / 64; ++w) {
        for (std::uint64_t bits = words[w]; bits != 0; bits &= bits - 1)
            c.setPixel(x, w * 64 + int(qCountTrailingZeroBits(bits)), silver);
        words[w] = 0;
    }
}

void IsvTrialColumn::draw(Canvas &quanta, Canvas &current, int V)
{
    const int x = 140 + V;
    m_quanta.draw(quanta, x);
    m_current.draw(current, x);
}

void drawIsvPoint(Canvas &quanta, Canvas &current, Canvas &epsc, int quantumStep, const IsvPoint &p)
{
    const int x = 140 + p.V;
    const double meanPeak = p.meanPeak();
    const int y1 = 145 - Round(p.meanQuanta() * quantumStep);
    const int y2 = 40 - Round(meanPeak);
    const int y3 = 40 - Round(meanPeak - p.background);
    if (p.V == SweepFirstV) {
        quanta.moveTo(x, y1);
        current.moveTo(x, y2);
        epsc.moveTo(x, y3);
    } else {
        quanta.lineTo(x, y1);
        current.lineTo(x, y2);
        epsc.lineTo(x, y3);
    }
}

} // namespace cleftsim
