#include "editors/editorkit.h"

#include "drawing/canvas.h"
#include "model/parametertable.h"
#include "model/rounding.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>

#include <cmath>

namespace cleftsim {

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int left, int top, LabelStyle style)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    switch (style) {
    case LabelStyle::Plain:
    case LabelStyle::Grey: label->setFont(uiFont(13)); break;
    case LabelStyle::Bold: label->setFont(uiFont(13, true)); break;
    case LabelStyle::Heading: label->setFont(uiFont(17)); break;
    }
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, style == LabelStyle::Grey ? colors::Grey : colors::Black);
    label->setPalette(pal);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLabel *makePicture(QWidget *parent, const char *name, int left, int top, const QPixmap &picture)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setPixmap(picture);
    label->setGeometry(left, top, picture.width(), picture.height());
    return label;
}

namespace {

constexpr int TitleHeight = 11;
constexpr int SubscriptHeight = 9;
constexpr int SubscriptDrop = 3;

int runLength(const FormulaRun &run, int height)
{
    return QFontMetrics(titleFont(run.subscript ? height * SubscriptHeight / TitleHeight : height))
        .horizontalAdvance(run.text);
}

} // namespace

QPixmap verticalTitlePicture(int width, int height, const QColor &face, const std::vector<FormulaText> &lines)
{
    Canvas canvas(width, height, face);
    canvas.setFontColor(colors::Grey);
    // The words stand on the window's colour, not on boxes of their own.
    canvas.setBrushStyle(Canvas::BrushStyle::Clear);
    const int band = lines.empty() ? width : width / static_cast<int>(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        int length = 0;
        for (const FormulaRun &run : lines[i])
            length += runLength(run, TitleHeight);
        const int x = static_cast<int>(i) * band;
        int y = (height + length) / 2;
        for (const FormulaRun &run : lines[i]) {
            canvas.setFontHeight(run.subscript ? SubscriptHeight : TitleHeight);
            DrawVerticalText(canvas, run.subscript ? x + SubscriptDrop : x, y, run.text);
            y -= runLength(run, TitleHeight);
        }
        canvas.setFontHeight(TitleHeight);
    }
    return QPixmap::fromImage(canvas.image());
}

namespace {

// Lays out and draws a row of runs with its left end at x and its baseline at y.
int drawRuns(QPainter *p, const FormulaText &runs, int x, int y, int height, bool draw)
{
    const QFont normal = uiFont(height);
    const QFont sub = uiFont(std::max(7, height * 3 / 4));
    for (const FormulaRun &run : runs) {
        const QFont &f = run.subscript ? sub : normal;
        if (draw) {
            p->setFont(f);
            p->drawText(x, run.subscript ? y + height / 4 : y, run.text);
        }
        x += QFontMetrics(f).horizontalAdvance(run.text);
    }
    return x;
}

} // namespace

QPixmap formulaPicture(int width, int height, const QColor &face, const FormulaText &lhs,
    const FormulaText &numerator, const FormulaText &denominator)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(face);
    QPainter p(&image);
    p.setPen(colors::Black);
    int size = 13;
    int lhsWidth = 0, numWidth = 0, denWidth = 0;
    for (; size > 7; --size) {
        lhsWidth = drawRuns(&p, lhs, 0, 0, size, false);
        numWidth = drawRuns(&p, numerator, 0, 0, size, false);
        denWidth = drawRuns(&p, denominator, 0, 0, size, false);
        if (lhsWidth + std::max(numWidth, denWidth) + 4 <= width && 2 * size + 8 <= height)
            break;
    }
    const int fracWidth = std::max(numWidth, denWidth);
    const int left = std::max(0, (width - lhsWidth - fracWidth - 4) / 2);
    const int bar = height / 2;
    const int ascent = QFontMetrics(uiFont(size)).ascent();
    drawRuns(&p, lhs, left, bar + ascent / 2, size, true);
    const int fracLeft = left + lhsWidth + 2;
    drawRuns(&p, numerator, fracLeft + (fracWidth - numWidth) / 2, bar - 3, size, true);
    drawRuns(&p, denominator, fracLeft + (fracWidth - denWidth) / 2, bar + 2 + ascent, size, true);
    p.drawLine(fracLeft, bar, fracLeft + fracWidth, bar);
    p.end();
    return QPixmap::fromImage(image);
}

bool acceptMaskEntry(MaskEdit *edit, double modelValue, AcceptedValue &accepted,
    const std::function<double(double)> &limit, double *value)
{
    double x = 0;
    if (!takeMaskEntry(edit, modelValue, &x))
        return false;
    x = limit(x);
    if (rewriteMaskEntry(edit, x) || !accepted.renews(x, modelValue))
        return false;
    *value = x;
    return true;
}

bool acceptMaskField(
    MaskEdit *edit, Param f, AcceptedValue &accepted, const std::function<double(double)> &limit)
{
    double x = 0;
    if (!acceptMaskEntry(edit, fieldValue(model().LPC, f), accepted, limit ? limit : rangeLimit(f), &x))
        return false;
    model().setField(f, x);
    return true;
}

bool acceptSpinField(SpinEdit *edit, Param f, AcceptedValue &accepted)
{
    int v = 0;
    if (!readSpinValue(edit, &v) || !accepted.renews(v, fieldValue(model().LPC, f)))
        return false;
    model().setField(f, v);
    return true;
}

bool takeMaskEntry(MaskEdit *edit, double accepted, double *value)
{
    if (edit->hasBlank()) {
        const int cursor = edit->cursorPosition();
        edit->setText(QString::fromStdString(formatFixed(accepted, edit->decimals())));
        edit->setCursorPosition(cursor);
        return false;
    }
    *value = edit->number();
    return true;
}

bool rewriteMaskEntry(MaskEdit *edit, double x)
{
    const QString text = QString::fromStdString(formatFixed(x, edit->decimals()));
    if (edit->maskText() == text)
        return false;
    const int cursor = edit->cursorPosition();
    edit->setText(text);
    edit->setCursorPosition(cursor);
    return true;
}

std::function<double(double)> rangeLimit(Param f)
{
    return [f](double v) { return clampToRange(f, v); };
}

double fixedValue(double x, int decimals)
{
    return QString::fromStdString(formatFixed(x, decimals)).toDouble();
}

double fixedCeil(double x, int decimals)
{
    const double unit = std::pow(10.0, -decimals);
    double v = fixedValue(x, decimals);
    // Rounding to the nearest can fall below x by at most one unit.
    for (int i = 0; i < 2 && v < x; ++i)
        v = fixedValue(v + unit, decimals);
    return v;
}

} // namespace cleftsim
