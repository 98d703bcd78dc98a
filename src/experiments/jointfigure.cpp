#include "experiments/jointfigure.h"

#include "drawing/ticklabels.h"
#include "experiments/histogramsdrawing.h"
#include "model/rounding.h"

#include <algorithm>
#include <cmath>

namespace cleftsim {

using histo::Base;
using histo::X0;

void frameJointFigure(Canvas &image, const ParameterSet &p)
{
    ClearImage(image);
    MAxis(image, p.N);
    const double steps = p.du / TimeStep;
    const int minor = Round(0.5 * steps);
    for (int j = 0; j <= minor; ++j) {
        image.moveTo(X0 - 2, Base - 10 * j);
        image.lineTo(X0 - 5, Base - 10 * j);
    }
    const int major = Trunc((steps + 0.1) * 0.1);
    std::vector<TickLabel> labels;
    for (int j = 0; j <= major; ++j) {
        image.moveTo(X0 - 2, Base - 50 * j);
        image.lineTo(X0 - 7, Base - 50 * j);
        if (j == 0)
            labels.push_back(tickLabel(24, 200, QStringLiteral("0"), 3));
        else
            labels.push_back(tickLabel(
                14, 200 - 50 * j, QString::fromStdString(formatPattern(0.5 * j, "0.0")), tickRank(j)));
    }
    writeTickLabels(image, labels);
    const int y = p.du < 0.7 ? 215 : 250 - 5 * minor;
    writeVerticalTitle(image, -2, y, QStringLiteral("latency (msec)"));
}

QPoint jointPixel(double m, double s)
{
    return QPoint(X0 + Round((m + 0.5) * 10), Base - Round((s + 0.5) * 5));
}

void drawJointFigure(Canvas &image, const HistogramsResult &r)
{
    const int N = std::min(r.N, int(r.joint.size()) - 1);
    const int last = std::min(r.spikeSteps, int(r.joint[0].size()) - 1);
    const ScatterStats st = scatterStatistics(r);

    // Grey levels relative to the fullest included cell. Without an occupied
    // included cell there is no scale, and nothing is shaded.
    if (st.maxCount > 0) {
        for (int m = 0; m <= N; ++m) {
            for (int s = 0; s <= last; ++s) {
                const int c = r.joint[m][s];
                if (c <= 0)
                    continue;
                // An excluded cell fuller than the fullest included one is black.
                const int level = std::clamp(255 - Round(255.0 * c / st.maxCount), 0, 255);
                const QColor grey(level, level, level);
                image.setPenColor(grey);
                image.setBrushColor(grey);
                image.rectangle(X0 + 10 * m, Base - 4 - 5 * s, X0 + 9 + 10 * m, Base - 5 * s);
            }
        }
    }

    // The failures: a white box with a black outline in the top cell of m = 0.
    image.setPenColor(colors::Black);
    image.setPenStyle(Canvas::PenStyle::Solid);
    image.setBrushColor(colors::White);
    if (r.joint[0][last] > 0)
        image.rectangle(X0, Base - 4 - 5 * last, X0 + 9, Base - 5 * last);

    // The statistics of the included cells.
    image.setFontColor(colors::Black);
    image.setBrushStyle(Canvas::BrushStyle::Clear);
    if (!st.any)
        return;
    if (st.hasR)
        writeLabelClear(
            image, 150, 30, QStringLiteral("r = ") + QString::fromStdString(formatPattern(st.r, "#0.00")));
    const QPoint mean = jointPixel(st.meanM, st.meanS);
    image.setPixel(mean.x(), mean.y(), colors::Red);
    // The ellipse within the plane of the cells, under none of the text.
    const QRect plane(QPoint(X0, 0), QPoint(image.width() - 1, Base - 1));
    std::vector<QRect> text;
    for (const QRegion &ink : image.textInk())
        text.push_back(ink.boundingRect());
    for (int k = 0; k <= 500; ++k) {
        const ScatterPoint e = ellipsePoint(st, k);
        if (!std::isfinite(e.m) || !std::isfinite(e.s) || std::abs(e.m) > 1e6 || std::abs(e.s) > 1e6)
            continue;
        const QPoint pt = jointPixel(e.m, e.s);
        if (plane.contains(pt)
            && std::none_of(text.begin(), text.end(), [&](const QRect &box) { return box.contains(pt); }))
            image.setPixel(pt.x(), pt.y(), colors::Aqua);
    }
}

} // namespace cleftsim
