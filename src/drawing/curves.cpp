#include "drawing/curves.h"

#include "model/rounding.h"

namespace cleftsim {

namespace {

QPointF catmullRom(const QPointF &p0, const QPointF &p1, const QPointF &p2, const QPointF &p3, double t)
{
    const double t2 = t * t, t3 = t2 * t;
    return 0.5
        * ((2 * p1) + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2
            + (-p0 + 3 * p1 - 3 * p2 + p3) * t3);
}

void append(std::vector<QPoint> &out, const QPointF &q)
{
    const QPoint r(Round(q.x()), Round(q.y()));
    if (out.empty() || out.back() != r)
        out.push_back(r);
}

} // namespace

std::vector<QPoint> smoothClosedCurve(const std::vector<QPointF> &p, int stepsPerSegment)
{
    std::vector<QPoint> out;
    const size_t n = p.size();
    for (size_t i = 0; i < n; ++i)
        for (int s = 0; s < stepsPerSegment; ++s)
            append(out,
                catmullRom(
                    p[(i + n - 1) % n], p[i], p[(i + 1) % n], p[(i + 2) % n], double(s) / stepsPerSegment));
    return out;
}

std::vector<QPoint> smoothOpenCurve(const std::vector<QPointF> &p, int stepsPerSegment)
{
    std::vector<QPoint> out;
    const size_t n = p.size();
    if (n == 0)
        return out;
    for (size_t i = 0; i + 1 < n; ++i) {
        const QPointF p0 = i == 0 ? p[0] : p[i - 1], p3 = i + 2 < n ? p[i + 2] : p[n - 1];
        for (int s = 0; s < stepsPerSegment; ++s)
            append(out, catmullRom(p0, p[i], p[i + 1], p3, double(s) / stepsPerSegment));
    }
    append(out, p[n - 1]);
    return out;
}

} // namespace cleftsim
