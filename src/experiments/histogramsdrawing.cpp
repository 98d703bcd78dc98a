#include "experiments/histogramsdrawing.h"

#include "drawing/canvas.h"
#include "drawing/ticklabels.h"
#include "model/rounding.h"

#include <algorithm>

namespace cleftsim {

using histo::Base;
using histo::X0;

namespace {

QString pattern(double x, const char *p)
{
    return QString::fromStdString(formatPattern(x, p));
}

// Height in pixels of a bar of count trials: 400 / trialCount per trial.
int barHeight(int count, int trialCount)
{
    return Round(400.0 * count / trialCount);
}

} // namespace

void ClearImage(Canvas &image)
{
    ClearFrame(image, colors::White, image.width(), image.height());
}

void CountAxis(Canvas &image, int trialCount, int tickStep)
{
    const int n = Trunc(double(trialCount) / tickStep * 0.5);
    std::vector<TickLabel> labels;
    for (int g = 1; g <= n; ++g) {
        const int y = Base - Round(400.0 / trialCount * tickStep * g);
        image.moveTo(X0 - 2, y);
        image.lineTo(X0 - 6, y);
        const QString label = QString::number(g * tickStep);
        labels.push_back(tickLabel(X0 - 6 - image.textWidth(label), y - 7, label, tickRank(g)));
    }
    writeTickLabels(image, labels);
}

void MeanMarker(Canvas &image, int a, const QString &text)
{
    const int x = X0 + a;
    image.setPenColor(colors::Red);
    image.setBrushColor(colors::White);
    image.setPenStyle(Canvas::PenStyle::Dot);
    image.moveTo(x, Base);
    image.lineTo(x, 30);
    image.setPenStyle(Canvas::PenStyle::Solid);
    image.setPenColor(colors::Black);
    image.polygon({QPoint(x, 24), QPoint(x + 5, 19), QPoint(x - 5, 19)});
    image.setFontColor(colors::Black);
    // Centred over the mean, or beside where the count labels stand.
    writeLabelClear(image, x - Round(0.5 * image.textWidth(text)), 3, text);
}

void MAxis(Canvas &image, int N)
{
    // A number of two digits starts 2 pixels left of its bar, as one text
    // (its digits 4 pixels apart overprinted one another); labels that
    // would run into their neighbours are thinned, the multiples of 10, 5
    // and 2 kept first.
    std::vector<TickLabel> labels;
    for (int m = 0; m <= N; ++m) {
        const int x = X0 + 10 * m;
        labels.push_back(tickLabel(m < 10 ? x + 1 : x - 2, Base, QString::number(m), tickRank(m)));
    }
    writeTickLabels(image, labels);
    const QString title = QStringLiteral("number of quanta released, m");
    const int centre = N < 13 ? 108 : 43 + 5 * N;
    writeLabelClear(image, centre - Round(0.5 * image.textWidth(title)), 223, title);
}

void frameQuantaHistogram(Canvas &image, const ParameterSet &p, int trialCount)
{
    ClearImage(image);
    CountAxis(image, trialCount, TickStep(trialCount));
    MAxis(image, p.N);
}

void frameCurrentHistogram(Canvas &image, const ParameterSet &p, int trialCount)
{
    ClearImage(image);
    if (p.V2 == 0)
        return;
    CountAxis(image, trialCount, TickStep(trialCount));
    image.moveTo(X0, Base);
    image.lineTo(X0 + 10 * p.N, Base);
    const double maxCurrent = MaxCurrent(p);
    const int nT = Trunc(-0.1 * maxCurrent); // 10-pA steps of the full scale
    const double w = -100.0 * p.N / maxCurrent; // pixels per 10 pA
    for (int j = 0; j <= nT; ++j) {
        const int x = X0 + Round(w * j);
        image.moveTo(x, Base);
        image.lineTo(x, Base + 4);
    }
    std::vector<TickLabel> labels;
    if (nT > 4) {
        labels.push_back(tickLabel(34, Base + 4, QStringLiteral("0"), 3));
        labels.push_back(tickLabel(X0 + Round(5 * w) - 7, Base + 4, QStringLiteral("50"), 2));
    } else {
        for (int j = 0; j <= nT; ++j) {
            const QString label = QString::number(10 * j);
            labels.push_back(
                tickLabel(X0 + Round(w * j - 0.5 * image.textWidth(label)), Base + 4, label, tickRank(j)));
        }
    }
    writeTickLabels(image, labels);
    const QString title = QStringLiteral("synaptic current (pA)");
    const int centre = p.N < 6 ? 68 : 38 + 5 * p.N;
    writeLabelClear(image, centre - Round(0.5 * image.textWidth(title)), 227, title);
}

void frameLatencyHistogram(Canvas &image, const ParameterSet &p, int trialCount)
{
    ClearImage(image);
    CountAxis(image, trialCount, TickStep(trialCount));
    const double steps = p.du / TimeStep;
    const int minor = Round(0.5 * steps);
    drawTicks(image, 37, 211, 10, 0, minor + 1, 0, 3); // every step
    const int major = Trunc((steps + 0.1) * 0.1);
    std::vector<TickLabel> labels;
    for (int j = 0; j <= major; ++j) {
        image.moveTo(37 + 50 * j, 211);
        image.lineTo(37 + 50 * j, 216);
        if (j == 0)
            labels.push_back(tickLabel(36, 215, QStringLiteral("0"), 3));
        else
            labels.push_back(tickLabel(31 + 50 * j, 215, pattern(0.5 * j, "0.0"), tickRank(j)));
    }
    writeTickLabels(image, labels);
    const QString title = QStringLiteral("latency (msec)");
    writeLabelClear(image, p.du < 0.7 ? 28 : 5 * minor - 7, 227, title);
}

void histogramBar(Canvas &image, int x1, int x2, int height)
{
    if (height <= 0)
        return;
    image.rectangle(x1, Base - height, x2, Base);
}

void drawQuantaHistogram(Canvas &image, const HistogramsResult &r)
{
    if (r.trials <= 0)
        return;
    const double meanM = r.meanQuanta();
    MeanMarker(image, Round(10 * meanM + 4), pattern(meanM, "##0.0"));
    // The failures: a white bar with a black outline.
    image.setPenColor(colors::Black);
    image.setPenStyle(Canvas::PenStyle::Solid);
    image.setBrushColor(colors::White);
    histogramBar(image, X0, X0 + 9, barHeight(r.quanta[0], r.trials));
    image.setBrushColor(colors::Black);
    for (int m = 1; m <= r.N; ++m)
        histogramBar(image, X0 + 10 * m, X0 + 10 * m + 9, barHeight(r.quanta[m], r.trials));
}

void drawCurrentHistogram(Canvas &image, const HistogramsResult &r, const ParameterSet &p)
{
    if (r.trials <= 0 || !r.currentCollected || r.maxCurrent == 0)
        return;
    const double meanPeak = r.meanPeak();
    MeanMarker(
        image, Round(meanPeak / r.maxCurrent * r.N * 10), pattern(meanPeak, "##0.0") + QStringLiteral(" pA"));
    if (p.Gb > 0) {
        const double background = HistogramsBackgroundCurrent(p);
        const int bx = Round(background / r.maxCurrent * r.N * 10);
        image.setPenColor(colors::Silver);
        image.setBrushColor(colors::White);
        image.setPenStyle(Canvas::PenStyle::Dot);
        image.moveTo(X0 + bx, Base);
        image.lineTo(X0 + bx, 52);
        image.setPenStyle(Canvas::PenStyle::Solid);
        image.setPenColor(colors::Grey);
        image.polygon({QPoint(X0 + bx, 46), QPoint(X0 + 5 + bx, 41), QPoint(X0 - 5 + bx, 41)});
        image.setFontColor(colors::Grey);
        const QString text = pattern(background, "##0.0") + QStringLiteral(" pA");
        writeLabelClear(image, X0 + bx - Round(0.5 * image.textWidth(text)), 25, text);
        if (bx > 10)
            writeVerticalTitle(image, 23 + bx, 180, QStringLiteral("background current"));
    }
    image.setPenColor(colors::Black);
    image.setBrushColor(colors::Black);
    const int bins = std::min(10 * r.N, int(r.current.size()) - 1);
    for (int b = 0; b <= bins; ++b) {
        image.moveTo(X0 + b, Base);
        image.lineTo(X0 + b, Base - barHeight(r.current[b], r.trials));
    }
}

void drawLatencyHistogram(Canvas &image, const HistogramsResult &r)
{
    if (r.trials <= 0)
        return;
    // The mean over the trials with a release; without any there is none.
    const int released = r.trials - r.quanta[0];
    if (released > 0) {
        const double meanS = double(r.sumLatency) / released;
        MeanMarker(image, Round(5 * meanS + 2),
            pattern(meanS * TimeStep + 0.5 * TimeStep, "##0.00") + QStringLiteral(" msec"));
    }
    image.setPenColor(colors::Black);
    image.setPenStyle(Canvas::PenStyle::Solid);
    image.setBrushColor(colors::Black);
    const int last = std::min(r.spikeSteps, int(r.latency.size()) - 1);
    for (int s = 0; s < last; ++s)
        histogramBar(image, X0 + 5 * s, X0 + 5 * s + 4, barHeight(r.latency[s], r.trials));
    image.setBrushColor(colors::White);
    histogramBar(image, X0 + 5 * last, X0 + 5 * last + 4, barHeight(r.latency[last], r.trials));
}

} // namespace cleftsim
