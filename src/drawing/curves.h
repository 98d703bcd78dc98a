#pragma once

#include <QPoint>
#include <QPointF>

#include <vector>

namespace cleftsim {

// A closed smooth curve through the given points (Catmull-Rom spline),
// sampled stepsPerSegment times between neighbouring points and rounded to
// whole pixels, as the vertices of a polygon.
std::vector<QPoint> smoothClosedCurve(const std::vector<QPointF> &points, int stepsPerSegment);

// A smooth open curve through the given points, as a polyline that ends on the
// last point.
std::vector<QPoint> smoothOpenCurve(const std::vector<QPointF> &points, int stepsPerSegment);

} // namespace cleftsim
