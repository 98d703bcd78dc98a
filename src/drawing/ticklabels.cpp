#include "drawing/ticklabels.h"

#include "drawing/canvas.h"

#include <algorithm>
#include <numeric>

namespace cleftsim {

namespace {

// All the text a canvas holds, as one region.
QRegion writtenInk(const Canvas &canvas)
{
    QRegion all;
    for (const QRegion &ink : canvas.textInk())
        all += ink;
    return all;
}

// How far ink must move along x and y to lie inside the figure (nothing
// where it cannot fit).
QPoint intoFigure(const Canvas &canvas, const QRegion &ink)
{
    const QRect box = ink.boundingRect();
    if (box.isEmpty())
        return {};
    const auto along = [](int low, int high, int size) {
        if (high - low + 1 > size)
            return 0;
        return std::max(0, -low) - std::max(0, high - (size - 1));
    };
    return QPoint(
        along(box.left(), box.right(), canvas.width()), along(box.top(), box.bottom(), canvas.height()));
}

bool inside(const Canvas &canvas, const QRegion &ink)
{
    return QRect(0, 0, canvas.width(), canvas.height()).contains(ink.boundingRect());
}

} // namespace

bool inkClear(const QRegion &ink, const QRegion &other, int gap)
{
    QRegion around;
    for (const QRect &r : ink)
        around += r.adjusted(-gap, -gap, gap, gap);
    return !around.intersects(other);
}

TickLabel tickLabel(int x, int y, const QString &text, int rank)
{
    return TickLabel {{LabelPiece {QPoint(x, y), text}}, rank};
}

int tickRank(int k)
{
    if (k % 10 == 0)
        return 3;
    if (k % 5 == 0)
        return 2;
    return k % 2 == 0 ? 1 : 0;
}

void writeTickLabels(Canvas &canvas, const std::vector<TickLabel> &labels)
{
    // Each label's ink, moved into the figure where it would leave it.
    std::vector<QRegion> ink(labels.size());
    std::vector<QPoint> shift(labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i) {
        for (const LabelPiece &piece : labels[i].pieces)
            ink[i] += textInk(canvas.font(), piece.at.x(), piece.at.y(), piece.text);
        shift[i] = intoFigure(canvas, ink[i]);
        ink[i].translate(shift[i]);
    }
    // Which labels stay: by rank, then in their order.
    std::vector<std::size_t> order(labels.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(),
        [&](std::size_t a, std::size_t b) { return labels[a].rank > labels[b].rank; });
    QRegion kept = writtenInk(canvas);
    std::vector<bool> keep(labels.size(), false);
    for (std::size_t i : order) {
        if (inkClear(ink[i], kept, LabelGap)) {
            keep[i] = true;
            kept += ink[i];
        }
    }
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (keep[i]) {
            for (const LabelPiece &piece : labels[i].pieces)
                canvas.textOut(piece.at.x() + shift[i].x(), piece.at.y() + shift[i].y(), piece.text);
        }
    }
}

int writeLabelClear(Canvas &canvas, int x, int y, const QString &text)
{
    const QRegion written = writtenInk(canvas);
    const QRegion ink = textInk(canvas.font(), x, y, text);
    const auto clearAt = [&](int dx) {
        const QRegion moved = ink.translated(dx, 0);
        return inside(canvas, moved) && inkClear(moved, written, TitleGap);
    };
    int shift = 0;
    if (!ink.isEmpty() && !clearAt(0)) {
        shift = intoFigure(canvas, ink).x();
        for (int d = 1; d <= canvas.width(); ++d) {
            if (clearAt(d)) {
                shift = d;
                break;
            }
            if (clearAt(-d)) {
                shift = -d;
                break;
            }
        }
    }
    canvas.textOut(x + shift, y, text);
    return x + shift;
}

QRegion verticalTitleInk(const Canvas &canvas, int x, int y, const QString &text)
{
    const QFont font = canvas.font();
    int height = font.pixelSize();
    if (height <= 0)
        height = qRound(font.pointSizeF() * 96.0 / 72.0);
    return textInk(titleFont(height), x, y, text, true);
}

int writeVerticalTitle(Canvas &canvas, int x, int y, const QString &text)
{
    const QRegion ink = verticalTitleInk(canvas, x, y, text);
    int at = y;
    if (!ink.isEmpty()) {
        const QRegion written = writtenInk(canvas);
        const QRect box = ink.boundingRect();
        const int lowest = std::max(0, box.bottom() - (canvas.height() - 1));
        at = y - lowest;
        for (int up = lowest; box.top() - up >= 0; ++up) {
            if (inkClear(ink.translated(0, -up), written, TitleGap)) {
                at = y - up;
                break;
            }
        }
    }
    DrawVerticalText(canvas, x, at, text);
    return at;
}

} // namespace cleftsim
