#include "drawing/elscheme.h"

#include "drawing/morphoscheme.h"
#include "model/rounding.h"

namespace cleftsim {

namespace {

void line(Canvas &c, std::initializer_list<QPoint> points)
{
    c.polyline(std::vector<QPoint>(points));
}

void arrowDown(Canvas &c, int x, int y)
{
    line(c, {{x - 2, y - 12}, {x, y}});
    line(c, {{x + 2, y - 12}, {x, y}});
}

void arrowUp(Canvas &c, int x, int y)
{
    line(c, {{x - 2, y + 12}, {x, y}});
    line(c, {{x + 2, y + 12}, {x, y}});
}

// One release site: a variable resistor between node 3 and node 2.
void conductanceBranch(Canvas &c, int x)
{
    line(c, {{100, 147}, {x, 177}, {x, 182}});
    c.rectangle(x - 5, 182, x + 6, 213);
    line(c, {{x - 12, 209}, {x + 12, 185}});
    line(c, {{x + 7, 185}, {x + 12, 185}, {x + 12, 191}});
    line(c, {{x, 212}, {x, 217}, {100, 247}});
}

// The drawing state every part starts from.
void setDrawingState(Canvas &c, const QColor &face)
{
    c.setPenWidth(1);
    c.setPenStyle(Canvas::PenStyle::Solid);
    c.setPenMode(Canvas::PenMode::Copy);
    c.setBrushColor(face);
    c.setFont(uiFont(13, true));
    c.setFontColor(colors::Black);
    c.setPenColor(colors::Grey);
}

// Leader arcs and the bubbles behind the compartment labels.
void drawLeaders(Canvas &c, int N)
{
    c.arc(-69, 56, 131, 136, 126, 56, 59, 56);
    const int Rh = spineHeadRadius(N);
    const int a = leaderHalfWidth(Rh);
    c.arc(-77 - a, 122 - Rh, -77 + a, 122 - Rh + Round(2 * leaderRho(Rh)), 165, 147, 0, 122 - Rh);
    line(c, {{100, 247}, {76, 259}});
    c.ellipse(0, 38, 62, 69);
    c.ellipse(10, 95, 60, 127);
    c.ellipse(0, 247, 80, 286);
}

// Potential marks: double-headed curved arrows round Vp and Vg.
void drawPotentialMarks(Canvas &c)
{
    c.arc(85, 46, 207, 168, 96, 71, 100, 97);
    line(c, {{96, 71}, {96, 79}});
    line(c, {{96, 71}, {89, 75}});
    c.arc(85, 46, 207, 168, 100, 112, 96, 143);
    line(c, {{96, 142}, {96, 134}});
    line(c, {{96, 142}, {89, 138}});
    c.arc(91, 119, 213, 243, 200, 143, 158, 147);
    line(c, {{199, 142}, {192, 141}});
    line(c, {{199, 142}, {198, 135}});
    c.arc(91, 119, 213, 243, 146, 147, 103, 144);
    line(c, {{104, 142}, {111, 141}});
    line(c, {{104, 142}, {105, 135}});
}

// The right rail (node 4), the presynaptic branch (R1 and the battery
// E1), its labels and the presynaptic potential Vp.
void drawPresynapticBranch(Canvas &c, const QColor &face)
{
    c.setPenColor(colors::Black);
    line(c, {{204, 67}, {204, 247}});

    // Presynaptic branch: R1 and the battery E1.
    line(c, {{100, 67}, {129, 67}});
    c.rectangle(129, 62, 160, 73);
    line(c, {{160, 67}, {180, 67}});
    c.setBrushColor(colors::Black);
    c.rectangle(180, 59, 183, 76);
    c.setBrushColor(face);
    line(c, {{186, 49}, {186, 86}});
    line(c, {{186, 67}, {204, 67}});

    // Its labels and the presynaptic potential Vp.
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.textOut(138, 42, QStringLiteral("R"));
    c.textOut(148, 47, QStringLiteral("1"));
    c.textOut(192, 42, QStringLiteral("E"));
    c.textOut(202, 47, QStringLiteral("1"));
    c.textOut(78, 95, QStringLiteral("V"));
    c.textOut(87, 99, QStringLiteral("p"));
}

// The gap resistance Rg to ground.
void drawGapResistance(Canvas &c)
{
    line(c, {{100, 147}, {137, 147}});
    c.rectangle(137, 142, 168, 153);
    line(c, {{168, 147}, {224, 147}, {224, 162}});
    line(c, {{210, 162}, {239, 162}});
    line(c, {{217, 167}, {232, 167}});
    line(c, {{222, 172}, {227, 172}});
    c.textOut(146, 111, QStringLiteral("V"));
    c.textOut(155, 115, QStringLiteral("g"));
    c.textOut(150, 153, QStringLiteral("R"));
    c.textOut(161, 157, QStringLiteral("g"));
}

// Postsynaptic branch: R2 and the battery E2.
void drawPostsynapticBranch(Canvas &c, const QColor &face)
{
    line(c, {{100, 247}, {129, 247}});
    c.rectangle(129, 242, 160, 253);
    line(c, {{160, 247}, {180, 247}});
    c.setBrushColor(colors::Black);
    c.rectangle(180, 239, 183, 256);
    c.setBrushColor(face);
    line(c, {{186, 229}, {186, 266}});
    line(c, {{186, 247}, {205, 247}});
    c.textOut(138, 253, QStringLiteral("R"));
    c.textOut(148, 258, QStringLiteral("2"));
    c.textOut(192, 253, QStringLiteral("E"));
    c.textOut(202, 258, QStringLiteral("2"));
}

// The junction dots and the node numbers.
void drawJunctions(Canvas &c)
{
    c.setBrushColor(colors::Black);
    c.ellipse(97, 64, 103, 70);
    c.ellipse(201, 64, 207, 70);
    c.ellipse(97, 144, 103, 150);
    c.ellipse(201, 144, 207, 150);
    c.ellipse(97, 244, 103, 250);
    c.ellipse(201, 244, 207, 250);

    // Node numbers.
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.textOut(88, 49, QStringLiteral("1"));
    c.textOut(80, 138, QStringLiteral("3"));
    c.textOut(88, 251, QStringLiteral("2"));
    c.textOut(206, 129, QStringLiteral("4"));
}

// Pulse stimulation at the top.
void drawPulseStimulation(Canvas &c, const QColor &face)
{
    c.setBrushColor(face);
    line(c, {{100, 55}, {100, 20}});
    arrowDown(c, 100, 55);
    line(c, {{204, 43}, {204, 20}});
    arrowDown(c, 204, 43);
    line(c, {{100, 20}, {204, 21}});
    c.ellipse(134, 2, 170, 38);
    c.ellipse(135, 3, 169, 37);
    c.ellipse(137, 5, 167, 35);
    c.setPenWidth(2);
    line(c, {{142, 27}, {147, 27}, {147, 10}, {152, 10}, {152, 27}, {162, 27}});
    c.setPenWidth(1);
}

// Voltage-clamp amplifier at the bottom.
void drawClampAmplifier(Canvas &c)
{
    line(c, {{100, 259}, {100, 307}, {114, 307}});
    arrowUp(c, 100, 259);
    line(c, {{118, 307}, {125, 307}});
    line(c, {{204, 275}, {204, 317}, {154, 317}, {114, 337}, {114, 297}, {154, 317}});
    arrowUp(c, 204, 275);
    line(c, {{118, 327}, {125, 327}});
    line(c, {{121, 324}, {121, 331}});
    c.ellipse(171, 306, 193, 328);
    c.ellipse(172, 307, 192, 327);
    line(c, {{169, 330}, {194, 303}});
    line(c, {{189, 303}, {194, 303}, {194, 309}});
    c.textOut(192, 323, QStringLiteral("I"));
    c.textOut(196, 327, QStringLiteral("s"));
    line(c, {{107, 307}, {107, 290}, {160, 290}, {160, 317}});
    c.rectangle(118, 285, 149, 296);
    line(c, {{114, 327}, {60, 327}, {60, 342}});
    line(c, {{46, 342}, {75, 342}});
    line(c, {{53, 347}, {68, 347}});
    line(c, {{58, 352}, {63, 352}});
    c.ellipse(79, 316, 101, 338);
    c.textOut(85, 341, QStringLiteral("V"));
    c.textOut(95, 345, QStringLiteral("2"));
    line(c, {{82, 326}, {97, 326}});
    line(c, {{82, 327}, {98, 327}});
    line(c, {{82, 328}, {97, 328}});
    for (int k = 3; k <= 6; ++k)
        line(c, {{98 - k, 328 - k}, {98 - k, 327 + k}});
}

} // namespace

std::vector<int> branchPositions(int N)
{
    std::vector<int> xs;
    for (int j = 1; j <= N; ++j) {
        if (N <= 10)
            xs.push_back(100 - 10 * (N - 1) + 20 * (j - 1));
        else
            xs.push_back(Round(10 + (180.0 / (N - 1)) * (j - 1)));
    }
    return xs;
}

void ElSchemePaint(Canvas &c, int N, const QColor &face)
{
    setDrawingState(c, face);
    drawLeaders(c, N);
    drawPotentialMarks(c);
    drawPresynapticBranch(c, face);
    drawGapResistance(c);
    drawPostsynapticBranch(c, face);
    // One variable conductance per release site.
    for (int x : branchPositions(N))
        conductanceBranch(c, x);
    drawJunctions(c);
    drawPulseStimulation(c, face);
    drawClampAmplifier(c);
}

} // namespace cleftsim
