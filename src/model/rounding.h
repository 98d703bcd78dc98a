#pragma once

#include <climits>
#include <cmath>
#include <string>

namespace cleftsim {

// Converts an integral real to int, saturating at the ends of the int range
// (NaN gives 0), so that a wild value can never make the conversion undefined.
inline int saturatedInt(double r)
{
    if (r >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (r <= static_cast<double>(INT_MIN))
        return INT_MIN;
    if (r != r)
        return 0;
    return static_cast<int>(r);
}

// Rounds to the nearest integer, halves to the even neighbour.
inline int Round(double x)
{
    double r = std::floor(x);
    const double diff = x - r;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0))
        r += 1.0;
    return saturatedInt(r);
}

// Drops the fraction.
inline int Trunc(double x)
{
    return saturatedInt(std::trunc(x));
}

// Formats x in fixed notation with the given number of decimals, at least one
// digit before the point, a leading minus for negative values and always the
// full stop as separator, whatever the locale. A value that rounds to zero is
// written without a minus sign.
std::string formatFixed(double x, int decimals);

// Formats x by a number pattern such as "0.00", "##0.0" or "#0.00": as many
// decimals as the pattern shows after its point.
std::string formatPattern(double x, const char *pattern);

} // namespace cleftsim
