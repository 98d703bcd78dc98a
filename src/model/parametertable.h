#pragma once

#include "model/parameterset.h"

#include <array>
#include <string>
#include <string_view>

namespace cleftsim {

// What the program knows of one parameter field: its name, unit, the range
// its editor accepts and the decimals it is edited with. The editors, the
// main window's rows, the batch tool's options and its error texts read it
// here and nowhere else.
struct ParamInfo {
    Param field; // the field it describes
    const char *name; // "N", "Rg", "V2", ... as in batch options ("BackgroundOn" for the switch)
    const char *unit; // "GOhm", "mV", "msec", "nS", "" for pure numbers
    double min, max; // the range the editors accept
    int decimals; // decimals the editor shows (0 for N, the switch and the whole millivolts)
    const char *meaning; // a few words on what it is, for help texts
};

// Every field, in the order of Param.
const std::array<ParamInfo, 12> &parameterTable();
const ParamInfo &paramInfo(Param f);
// The field of that name ("N", "Rg", ..., "BackgroundOn"); nullptr when unknown.
const ParamInfo *findParam(std::string_view name);

// Writes one field of a parameter set (N as a whole number, the switch as 0
// or 1). The only place that turns a number into a field.
void setFieldValue(ParameterSet &p, Param f, double value);

// The value pulled into the field's range.
double clampToRange(Param f, double value);

// The range as every message shows it: "0.00..9.99 (at most 2 decimals)",
// "1..20 (whole numbers)".
std::string rangeText(const ParamInfo &info);

} // namespace cleftsim
