#include "drawing/adaptiveticks.h"

#include "drawing/canvas.h"
#include "model/rounding.h"

namespace cleftsim {

AdaptiveTicks AdaptiveTicks::forScale(double fullScale, int height)
{
    AdaptiveTicks t;
    t.unit = Trunc(fullScale) > 0 ? 1 : 10;
    t.count = Trunc(fullScale * t.unit);
    t.step = (height / fullScale) / t.unit;
    return t;
}

int AdaptiveTicks::tickY(int y0, int i) const
{
    return y0 - Round(step * i);
}

QString AdaptiveTicks::label(int i) const
{
    if (count > 4) {
        if (i != 5)
            return QString();
        return unit == 1 ? QStringLiteral("5") : QStringLiteral("0.5");
    }
    if (unit == 1)
        return QString::number(i);
    return QString::fromStdString(formatFixed(0.1 * i, 1));
}

AdaptiveTicks drawAdaptiveTicks(
    Canvas &canvas, double fullScale, int height, int y0, int axisX, int tickEndX, int labelX1, int labelX10)
{
    const AdaptiveTicks t = AdaptiveTicks::forScale(fullScale, height);
    canvas.setFontColor(colors::Grey);
    const int labelX = t.unit == 1 ? labelX1 : labelX10;
    for (int i = 1; i <= t.count; ++i) {
        const int y = t.tickY(y0, i);
        canvas.moveTo(axisX, y);
        canvas.lineTo(tickEndX, y);
    }
    for (int i = 1; i <= t.count; ++i) {
        const QString text = t.label(i);
        if (!text.isEmpty())
            canvas.textOut(labelX, t.tickY(y0, i) - 7, text);
    }
    return t;
}

} // namespace cleftsim
