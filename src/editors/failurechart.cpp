#include "editors/failurechart.h"

#include "drawing/canvas.h"
#include "model/rounding.h"
#include "model/synapse.h"

namespace cleftsim {

void drawFailureChartFrame(Canvas &canvas, int width, int height)
{
    ClearFrame(canvas, colors::Silver, width, height);

    // Failure rate [%], one pixel per percent.
    drawSegment(canvas, 140, 6, 140, 112);
    drawTicks(canvas, 140, 96, 0, -10, 10, 4, 0); // every 10 %
    drawTicks(canvas, 140, 56, 0, -50, 2, 6, 0); // 50 and 100 %

    // Clamp potential [mV], one pixel per millivolt.
    drawSegment(canvas, 0, 106, 180, 106);
    drawTicks(canvas, 180, 106, -10, 0, 19, 0, 4); // every 10 mV from +40 to -140
    drawTicks(canvas, 90, 106, -50, 0, 2, 0, 6); // -50 and -100 mV

    canvas.setFontColor(colors::Grey);
    canvas.setBrushStyle(Canvas::BrushStyle::Clear);
    canvas.textOut(40, 124, QStringLiteral("potential, V2 (mV)"));
    canvas.textOut(137, 112, QStringLiteral("0"));
    canvas.textOut(80, 112, QStringLiteral("-50"));
    canvas.textOut(26, 112, QStringLiteral("-100"));
    canvas.textOut(148, 48, QStringLiteral("50"));
    canvas.textOut(148, -2, QStringLiteral("100"));
    DrawVerticalText(canvas, 176, 94, QStringLiteral("failure rate (%)"));
}

int failureCurveY(const ParameterSet &p, double V)
{
    return 106 - Round(100 * FailureRate(p, V));
}

void drawFailureCurve(Canvas &canvas, const ParameterSet &p)
{
    canvas.setPenColor(colors::Navy);
    canvas.setPenWidth(3);
    canvas.moveTo(180, failureCurveY(p, 40));
    for (int i = -40; i <= 140; ++i)
        canvas.lineTo(140 - i, failureCurveY(p, -i));
    canvas.setPenColor(colors::Black);
    canvas.setPenWidth(1);
}

} // namespace cleftsim
