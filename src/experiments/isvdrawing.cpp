#include "experiments/isvdrawing.h"

#include "model/rounding.h"

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
    c.moveTo(140, 150);
    c.lineTo(140, 145 - N * q);
    for (int i = 1; i <= N; ++i) {
        c.moveTo(140, 145 - i * q);
        c.lineTo(144, 145 - i * q);
    }
    for (int i = 1; i <= N; ++i) {
        if (N <= 5 || i % 5 == 0)
            c.textOut(148, 138 - i * q, QString::number(i));
    }

    // Potential: x = 140 + V.
    c.moveTo(0, 145);
    c.lineTo(180, 145);
    for (int j = -4; j <= 14; ++j) {
        c.moveTo(140 - 10 * j, 145);
        c.lineTo(140 - 10 * j, 149);
    }
    for (int x : {90, 40}) {
        c.moveTo(x, 145);
        c.lineTo(x, 151);
    }
    c.setFontColor(colors::Grey);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.textOut(12, 165, QStringLiteral("potential, V2 (mV)"));
    c.textOut(137, 151, QStringLiteral("0"));
    c.textOut(80, 151, QStringLiteral("-50"));
    c.textOut(26, 151, QStringLiteral("-100"));
    return q;
}

void frameIsvCurrent(Canvas &c)
{
    ClearFrame(c, colors::White, c.width(), c.height());

    // Current: y = 40 - I, inward currents below the zero line.
    c.moveTo(140, 0);
    c.lineTo(140, 180);
    for (int y = 0; y <= 30; y += 10) {
        c.moveTo(140, y);
        c.lineTo(136, y);
    }
    for (int y = 50; y <= 180; y += 10) {
        c.moveTo(140, y);
        c.lineTo(144, y);
    }
    for (int y : {90, 140}) {
        c.moveTo(140, y);
        c.lineTo(146, y);
    }

    // Potential along the zero-current line.
    c.moveTo(0, 40);
    c.lineTo(180, 40);
    for (int x = 180; x >= 150; x -= 10) {
        c.moveTo(x, 40);
        c.lineTo(x, 44);
    }
    for (int x = 130; x >= 0; x -= 10) {
        c.moveTo(x, 40);
        c.lineTo(x, 36);
    }
    for (int x : {90, 40}) {
        c.moveTo(x, 40);
        c.lineTo(x, 34);
    }
    c.setFontColor(colors::Grey);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.textOut(12, 2, QStringLiteral("potential, V2 (mV)"));
    c.textOut(80, 19, QStringLiteral("-50"));
    c.textOut(26, 19, QStringLiteral("-100"));
    c.textOut(148, 82, QStringLiteral("-50"));
    c.textOut(148, 132, QStringLiteral("-100"));
}

int frameIsvFigures(Canvas &quanta, Canvas &current, Canvas &epsc, int N, bool background)
{
    const int q = frameIsvQuanta(quanta, N);
    DrawVerticalText(quanta, 180, 182, QStringLiteral("number of quanta released, m"));
    frameIsvCurrent(current);
    DrawVerticalText(current, 173, 179, QStringLiteral("synaptic current (pA)"));
    if (background) {
        frameIsvCurrent(epsc);
        DrawVerticalText(epsc, 174, 178, QStringLiteral("EPSC amplitude (pA)"));
    } else {
        DrawVerticalText(current, 189, 175, QStringLiteral("(EPSC amplitude)"));
    }
    return q;
}

void drawIsvTrial(Canvas &quanta, Canvas &current, int quantumStep, int V, const IsvTrialResult &r)
{
    static const QRgb silver = colors::Silver.rgb();
    const int x = 140 + V;
    quanta.setPixel(x, 145 - r.m * quantumStep, silver);
    current.setPixel(x, 40 - Round(r.peak), silver);
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
