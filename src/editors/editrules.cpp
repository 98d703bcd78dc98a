#include "editors/editrules.h"

#include "widgets/edits.h"

namespace cleftsim {

namespace {

// A text that can still become a number as the user goes on typing.
bool isIncompleteNumber(const QString &text)
{
    const QString t = text.trimmed();
    return t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+");
}

} // namespace

bool readSpinValue(SpinEdit *edit, int *value)
{
    long long v = 0;
    if (!SpinEdit::parseInteger(edit->text(), &v)) {
        if (isIncompleteNumber(edit->text())) {
            *value = edit->minValue();
            return true;
        }
        edit->setValue(edit->minValue());
        return false;
    }
    if (v < edit->minValue() || v > edit->maxValue()) {
        edit->setValue(v < edit->minValue() ? edit->minValue() : edit->maxValue());
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

void finishSpinText(SpinEdit *edit, int modelValue)
{
    const QString shown = QString::number(modelValue);
    if (edit->text() != shown)
        edit->setText(shown);
}

} // namespace cleftsim
