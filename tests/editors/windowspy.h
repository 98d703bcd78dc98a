#pragma once

// The one spy of the announced changes, and helpers to enter text as a user
// does and to read the previews' pixels.

#include "drawing/canvas.h"
#include "editorspies.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QtTest>

namespace cleftsim {

using test::ChangeSpy;

// Replaces the whole text of an edit by pasting, as a user who selects all
// and pastes does: the edit's handler sees the pasted text at once.
inline void pasteText(QLineEdit *edit, const QString &text)
{
    QApplication::clipboard()->setText(text);
    edit->setFocus();
    edit->selectAll();
    edit->paste();
}

inline bool isNavy(const Canvas &c, int x, int y)
{
    return c.rgb(x, y) == (colors::Navy.rgb() & 0xffffff);
}

// Whether a navy curve, three pixels wide at most, runs level through (x, y):
// navy there and not two pixels above or below.
inline bool navyRow(const Canvas &c, int x, int y)
{
    return isNavy(c, x, y) && !isNavy(c, x, y - 2) && !isNavy(c, x, y + 2);
}

inline bool isGrey(const Canvas &c, int x, int y)
{
    return c.rgb(x, y) == (colors::Grey.rgb() & 0xffffff);
}

// Whether any pixel of column x (or of row y) is navy.
inline bool navyInColumn(const Canvas &c, int x)
{
    for (int y = 0; y < c.height(); ++y)
        if (isNavy(c, x, y))
            return true;
    return false;
}

// Whether any pixel of the rectangle x1..x2, y1..y2 (clipped) differs from the face.
inline bool inkIn(const Canvas &c, int x1, int y1, int x2, int y2, const QColor &face = colors::Silver)
{
    for (int y = std::max(0, y1); y <= std::min(c.height() - 1, y2); ++y)
        for (int x = std::max(0, x1); x <= std::min(c.width() - 1, x2); ++x)
            if (c.rgb(x, y) != (face.rgb() & 0xffffff))
                return true;
    return false;
}

} // namespace cleftsim
