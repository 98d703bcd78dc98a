#pragma once

#include <string>

namespace cleftsim {

// The SHA-256 digest of bytes as 64 lower-case hexadecimal digits: how an
// output names the exact data file it was made from.
std::string sha256Hex(const std::string &bytes);

} // namespace cleftsim
