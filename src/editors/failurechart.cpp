#include "editors/failurechart.h"

#include "drawing/canvas.h"
#include "model/rounding.h"
#include "model/synapse.h"

namespace cleftsim {

void drawFailureChartFrame(Canvas &canvas, int width, int height)
{
    ClearFrame(canvas, colors::Silver, width, height);

    // Failure rate [%], one pixel per percent.
    canvas.moveTo(140, 6);
    canvas.lineTo(140, 112);
    for (int i = 1; i <= 10; ++i) {
        canvas.moveTo(140, 106 - 10 * i);
        canvas.lineTo(144, 106 - 10 * i);
    }
    canvas.moveTo(140, 56);
    canvas.lineTo(146, 56);
    canvas.moveTo(140, 6);
    canvas.lineTo(146, 6);

    // Clamp potential [mV], one pixel per millivolt.
    canvas.moveTo(0, 106);
    canvas.lineTo(180, 106);
    for (int i = -4; i <= 14; ++i) {
        canvas.moveTo(140 - 10 * i, 106);
        canvas.lineTo(140 - 10 * i, 110);
    }
    canvas.moveTo(90, 106);
    canvas.lineTo(90, 112);
    canvas.moveTo(40, 106);
    canvas.lineTo(40, 112);

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
