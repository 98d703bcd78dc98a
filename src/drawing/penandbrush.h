#pragma once

#include <QRgb>

namespace cleftsim {

// The pen and brush one drawing operation paints with, as the canvas's
// settings resolve them for the raster and the vector drawing alike.
struct PenAndBrush {
    QRgb pen = 0;
    int penWidth = 1; // the side of the pen's square nib [pixels], at least 1
    bool dotted = false; // a width-1 pen painting 3 pixels on, 3 off
    bool exclusiveOr = false; // pixels become old XOR colour
    bool filled = false; // a solid brush
    QRgb brush = 0;
};

} // namespace cleftsim
