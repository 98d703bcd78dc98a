#pragma once

namespace cleftsim {

class SpinEdit;

// Reads a spin edit's text for its change handler, by the rule all spin edits
// of the editors share:
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
