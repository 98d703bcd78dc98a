#include "drawing/previews.h"

#include "drawing/adaptiveticks.h"
#include "model/rounding.h"
#include "model/synapse.h"

namespace cleftsim {

// The spike: x = 10 + 20 t (t in msec), y = 40 - V (V in mV).
void drawSpikePreview(Canvas &c, const ParameterSet &p)
{
    const int E = Round(p.Emax);
    const int R = Round(p.V1r);
    const int w = Round(20 * p.du);

    c.setPenColor(colors::Grey);
    drawSegment(c, 10, 0, 10, 140);
    drawTicks(c, 10, 0, 0, 10, 14, -4, 0); // every 10 mV from +40 to -90
    drawSegment(c, 10, 90, 4, 90);
    drawSegment(c, 10, 140, 4, 140);
    drawSegment(c, 4, 40, 90, 40);
    drawTicks(c, 30, 40, 20, 0, 4, 0, 6); // every msec
    drawTicks(c, 14, 40, 4, 0, 19, 0, 4); // every 0.2 msec
    // Leaders to the captions of Emax, V1r and the duration beside the preview.
    drawSegment(c, w + 34, 40 - E, 102, 20);
    drawSegment(c, 94, 40 - R, 112, 85);
    drawSegment(c, 30, 44 - R, 96, 145);
    drawSegment(c, w + 30, 44 - R, 96, 145);

    c.setPenColor(colors::Navy);
    c.setPenWidth(3);
    c.polyline({{20, 40 - R}, {30, 40 - R}, {30, 40 - E}, {30 + w, 40 - E}, {30 + w, 40 - R}, {90, 40 - R}});
    c.setPenWidth(1);
}

// The release law: x = V + 100 (V in mV), y = 101 - 100 P.
void drawReleasePreview(Canvas &c, const ParameterSet &p, int spikeSteps)
{
    const int E = Round(p.Emax);
    const int R = Round(p.V1r);
    const int yg = 101 - Round(100 * p.gf);

    c.setPenColor(colors::Grey);
    drawSegment(c, 100, 1, 100, 107);
    drawTicks(c, 100, 101, 0, -10, 10, -4, 0); // every 0.1 from 0 to 0.9
    drawSegment(c, 100, 51, 94, 51);
    drawSegment(c, 100, 1, 94, 1);
    drawSegment(c, 0, 101, 140, 101);
    drawTicks(c, 140, 101, -10, 0, 15, 0, 4); // every 10 mV from +40 to -100
    drawSegment(c, 50, 101, 50, 107);
    drawSegment(c, 0, 101, 0, 107);
    // Guides at the level gf: up from Emax and from V1r, across to the axis.
    drawSegment(c, E + 100, yg, E + 100, 101);
    drawSegment(c, R + 100, yg, R + 100, 101);
    drawSegment(c, 94, yg, E + 100, yg);

    // The curve stops before the per-step probability exceeds 1, where the
    // per-spike probability is undefined.
    c.setPenColor(colors::Navy);
    c.setPenWidth(3);
    c.moveTo(0, 101 - Round(100 * SpikeReleaseProbability(p, spikeSteps, -100)));
    int V = -100;
    for (;;) {
        c.lineTo(V + 100, 101 - Round(100 * SpikeReleaseProbability(p, spikeSteps, V)));
        ++V;
        if (ReleaseProbability(p, spikeSteps, V) > 1 || V > 40)
            break;
    }
    c.setPenColor(colors::Black);
    c.setPenWidth(1);
}

// One site's conductance relative to Gmax: x = 20 + 20 t (t in msec since the
// release), y = 84 - 80 g / Gmax.
void drawConductancePreview(Canvas &c, const ParameterSet &p)
{
    const double rb = p.Gb / p.Gmax;

    c.setPenColor(colors::Grey);
    drawSegment(c, 20, 90, 20, 4);
    drawAdaptiveTicks(c, p.Gmax, 80, 84, 20, 16, 9, -1);
    drawSegment(c, 20 + Round(20 * p.tc), 4, 121, 4);
    if (p.BackgroundOn)
        drawSegment(c, 20, 84 - Round(80 * rb), 121, 66);
    drawSegment(c, 14, 84, 120, 84);
    drawTicks(c, 40, 84, 20, 0, 5, 0, 6); // every msec
    drawTicks(c, 24, 84, 4, 0, 24, 0, 4); // every 0.2 msec

    c.setPenColor(colors::Navy);
    c.setPenWidth(3);
    const int yb = 84 - Round(80 * rb);
    c.moveTo(10, yb);
    c.lineTo(20, yb);
    for (int i = 1; i <= 100; ++i) {
        const double s = ConductanceShape(p, i * TimeStep);
        c.lineTo(20 + i, 84 - Round(80 * (s * (1 - rb) + rb)));
    }
    c.setPenColor(colors::Black);
    c.setPenWidth(1);
}

// The spine conductance G_sum(m) of m sites at their peak and N - m at
// background (right axis, nS) and the relative amplitude of the m-th quantum
// (left axis), for m = 0..N in columns 10 pixels wide.
QuantaPreviewPlaces drawQuantaPreview(Canvas &c, const ParameterSet &p)
{
    QuantaPreviewPlaces places;
    const int N = p.N;
    const int XR = 10 * (N + 1) + 22;

    c.setPenColor(colors::Grey);
    c.setFontColor(colors::Grey);
    drawSegment(c, 22, 150, 22, 30);
    drawTicks(c, 22, 138, 0, -12, 10, -4, 0); // every 0.1
    c.textOut(8, 142, QStringLiteral("0"));
    c.textOut(0, 82, QStringLiteral("0.5"));
    c.textOut(0, 22, QStringLiteral("1.0"));
    drawSegment(c, XR, 150, XR, 5);

    // No number of quanta brings the effective conductance above 1/Rg: when
    // N quanta come near it, the scale ends there and says so with a line.
    double Ymax;
    if (p.Rg > 1 / (p.Gmax * N)) {
        Ymax = 1 / p.Rg;
        drawSegment(c, 22, 10, XR + 6, 10);
    } else {
        Ymax = 2 / (p.Rg + 1 / (p.Gmax * N));
    }
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    const AdaptiveTicks ticks = drawAdaptiveTicks(c, Ymax, 140, 150, XR, XR + 4, XR + 6, XR + 6);
    if (ticks.step * 0.1 > 10) {
        const int minor = Trunc(Ymax * ticks.unit * 10);
        for (int i = 1; i <= minor; ++i) {
            const int y = 150 - Round(ticks.step * 0.1 * i);
            drawSegment(c, XR, y, XR + 3, y);
        }
    }
    places.titleLeft = XR + (ticks.unit == 1 ? 33 : 41);

    drawSegment(c, 16, 150, XR, 150);
    drawTicks(c, 32, 150, 10, 0, N + 1, 0, -4); // every quantum
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    for (int m = 0; m <= N; ++m) {
        if (m < 10) {
            c.textOut(10 * m + 24, 151, QString::number(m));
        } else {
            c.textOut(10 * m + 21, 151, QString::number(m / 10));
            c.textOut(10 * m + 25, 151, QString::number(m % 10));
        }
    }
    places.captionCentre = N < 9 ? 98 : 5 * N + 53;

    const auto y = [Ymax](double G) { return 150 - Round(140 * G / Ymax); };
    c.setPenColor(colors::Navy);
    c.setPenWidth(3);
    const double G0 = N * p.Gb / (1 + p.Rg * N * p.Gb);
    c.moveTo(22, y(G0));
    c.lineTo(32, y(G0));
    for (int m = 1; m <= N; ++m) {
        const double Gm = 1 / (p.Rg + 1 / (m * p.Gmax + (N - m) * p.Gb));
        c.lineTo(10 * m + 22, y(Gm));
        c.lineTo(10 * m + 32, y(Gm));
    }

    // The step that the m-th quantum adds, relative to the first one's.
    c.setPenWidth(1);
    const double a = 1 + p.Gb * p.Rg;
    const double b = (p.Gmax - p.Gb) * p.Rg;
    const double cc = a * (a + b);
    c.moveTo(32, 30);
    c.lineTo(42, 30);
    for (int m = 2; m <= N; ++m) {
        const double A = cc / ((a + (m - 1) * b) * (a + m * b));
        const int yA = 150 - Round(120 * A);
        c.lineTo(10 * m + 22, yA);
        c.lineTo(10 * m + 32, yA);
    }
    c.setPenColor(colors::Black);
    return places;
}

} // namespace cleftsim
