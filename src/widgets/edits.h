#pragma once

#include "model/parameterset.h"

#include <QLineEdit>

class QToolButton;

namespace cleftsim {

// An integer edit with up and down buttons and fixed bounds. Its text is
// free while the user types; value() reads it as a whole number, and a text
// that is not one (empty, a lone minus, letters) reads as the lower bound.
// changed() is emitted whenever the text changes, by the user or by the
// program; writing the text it already has emits nothing.
class SpinEdit : public QLineEdit {
    Q_OBJECT
public:
    SpinEdit(const QString &objectName, int minValue, int maxValue, int value, int maxLength,
        QWidget *parent = nullptr);
    // The editor of a whole-number parameter, with the bounds of its range.
    SpinEdit(const QString &objectName, Param f, int value, int maxLength, QWidget *parent = nullptr);

    int minValue() const { return m_min; }
    int maxValue() const { return m_max; }
    // The text read as a whole number, or the lower bound.
    int value() const;
    // Writes v, pulled into the bounds, as the text.
    void setValue(int v);

    // Reads a text as a whole number; false if it is not one.
    static bool parseInteger(const QString &text, long long *value);

signals:
    void changed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void step(int delta);
    QStringList widestTexts() const;

    int m_min;
    int m_max;
    QToolButton *m_up;
    QToolButton *m_down;
};

// A masked edit for a fixed-point number such as "0.00": one digit, the
// point, and required digits. Unfilled positions show "_" and read back as
// blanks in maskText().
class MaskEdit : public QLineEdit {
    Q_OBJECT
public:
    // decimals: digits after the point (2, 3 or 4).
    MaskEdit(const QString &objectName, int decimals, const QString &text, QWidget *parent = nullptr);
    // The editor of parameter f with the decimals it is edited with, showing value.
    MaskEdit(const QString &objectName, Param f, double value, QWidget *parent = nullptr);

    int decimals() const { return m_decimals; }
    // The text with blanks for unfilled positions, as the user sees it.
    QString maskText() const;
    bool hasBlank() const { return maskText().contains(QLatin1Char(' ')); }
    // Reads the complete text as a number (full stop as separator).
    double number() const;
    // Writes x with the edit's number of decimals.
    void setNumber(double x);

signals:
    void changed();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int m_decimals;
};

// Makes room in an edit for the widest of the texts it can show: the text
// area keeps its right margin (the spin buttons') and gives up as much of the
// toolkit's 2-pixel margin on either side as the widest text needs, so that
// no digit is cut at the sizes of the layouts.
void fitWidestText(QLineEdit *edit, int rightMargin, const QStringList &texts);

// Reads a spin edit's text for its change handler, by the rule every spin
// edit of the program shares:
// - a whole number inside the bounds is taken as it is;
// - a number outside is pulled back to the nearest bound and written back;
// - a text that is not a number reads as the lower bound. An empty text or a
//   lone sign is a number still being typed: it is left for the user to go on
//   (finishSpinText puts the value back when the user leaves the field);
//   anything else (letters, pasted text) is replaced by the bound at once.
// Writing back changes the text and so runs the handler again with the text
// written; this returns false then, and the outer call has nothing left to
// do. Otherwise it returns true with the value in *value.
bool readSpinValue(SpinEdit *edit, int *value);

// Writes the value the model holds back into a spin edit whose text does not
// show it (a number left half-typed, or written with a sign or leading zeros)
// when the user leaves the field or presses Return.
void finishSpinText(SpinEdit *edit, int modelValue);

} // namespace cleftsim
