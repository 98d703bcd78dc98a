#include "model/rounding.h"

#include <charconv>
#include <cstring>

namespace cleftsim {

std::string formatFixed(double x, int decimals)
{
    if (!std::isfinite(x))
        return std::isnan(x) ? "NaN" : (x > 0 ? "INF" : "-INF");
    char buffer[512];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed, decimals);
    std::string text(buffer, result.ptr);
    if (!text.empty() && text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1); // "-0.00" reads as zero
    return text;
}

std::string formatPattern(double x, const char *pattern)
{
    const char *point = std::strchr(pattern, '.');
    const int decimals = point ? static_cast<int>(std::strlen(point + 1)) : 0;
    return formatFixed(x, decimals);
}

} // namespace cleftsim
