#pragma once

#include "model/parameterset.h"

#include <QColor>
#include <QPixmap>
#include <QString>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QWidget;

namespace cleftsim {

class MaskEdit;
class SpinEdit;

// How a label of an editor window looks.
enum class LabelStyle {
    Plain, // window font, black
    Bold, // bold window font, black (captions of the editors)
    Grey, // window font, grey (axis labels beside the previews)
    Heading // black, 17 pixels high (titles of the previews)
};

// Creates a label with its layout name at its design position (left, top).
QLabel *makeLabel(
    QWidget *parent, const char *name, const QString &text, int left, int top, LabelStyle style);

// Creates an image control showing a stored picture at its design position.
QLabel *makePicture(QWidget *parent, const char *name, int left, int top, const QPixmap &picture);

// A piece of a formula or title: normal text or a subscript.
struct FormulaRun {
    QString text;
    bool subscript = false;
};
using FormulaText = std::vector<FormulaRun>;

// An axis title picture: each line is written bottom to top in grey on the
// face colour, in the 11-pixel figure font; the lines share the width equally
// (the first at the left) and each is centred vertically.
QPixmap verticalTitlePicture(
    int width, int height, const QColor &face, const std::vector<FormulaText> &lines);

// A picture of "lhs = numerator / denominator" with a fraction bar, in black
// on the face colour, in the largest font (up to 13 pixels) that fits.
QPixmap formulaPicture(int width, int height, const QColor &face, const FormulaText &lhs,
    const FormulaText &numerator, const FormulaText &denominator);

// The entry rules shared by the change handlers of the editors.

// Reads a masked edit in its change handler. Returns true with the number
// when every position is filled. Otherwise the text is set back at once to
// `accepted` in the edit's format, the cursor staying where it was, and false
// is returned (the handler runs again on that text).
bool takeMaskEntry(MaskEdit *edit, double accepted, double *value);

// Writes `x` into a masked edit in its format. Returns true when this changed
// the text, which has run the edit's handler on the new text; false when the
// text already read so, and the caller goes on with the value itself.
bool rewriteMaskEntry(MaskEdit *edit, double x);

// The value an editor last wrote into the model. A handler that finds the
// same value in its edit again (after a blank was put back, or a half-typed
// number completed) leaves the model and the figures alone; a value that the
// model holds but the editor has not yet accepted (after a restore) is taken.
class AcceptedValue {
public:
    void reset(double v) { m_value = v; }
    // Whether accepting v changes anything; if so, v becomes the accepted value.
    bool renews(double v, double modelValue)
    {
        if (v == m_value && v == modelValue)
            return false;
        m_value = v;
        return true;
    }
    double value() const { return m_value; }

private:
    double m_value = 0.0;
};

// The whole entry rule of a masked edit's change handler: a blank puts
// modelValue back (takeMaskEntry); the number is pulled into the editor's
// range by limit and, if that changed it, written back (rewriteMaskEntry,
// which runs the handler again); a value already accepted changes nothing.
// Returns true with the value when the handler should take it into the model.
bool acceptMaskEntry(MaskEdit *edit, double modelValue, AcceptedValue &accepted,
    const std::function<double(double)> &limit, double *value);

// acceptMaskEntry against field f of the model (limit by default its range),
// and on success the value set into the model. Returns whether it was.
bool acceptMaskField(
    MaskEdit *edit, Param f, AcceptedValue &accepted, const std::function<double(double)> &limit = {});
// The same for a spin edit: its value read (readSpinValue) and, when it
// renews the accepted one, set into field f of the model.
bool acceptSpinField(SpinEdit *edit, Param f, AcceptedValue &accepted);

// The limit of a masked edit that pulls a number into the range of f.
std::function<double(double)> rangeLimit(Param f);

// The number that x shows with the given decimals, as the edit reads it back.
double fixedValue(double x, int decimals);

// The smallest number with the given decimals that is not below x.
double fixedCeil(double x, int decimals);

} // namespace cleftsim
