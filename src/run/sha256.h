#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace cleftsim {

// The SHA-256 digest of bytes as 64 lower-case hexadecimal digits: how an
// output names the exact data file it was made from.
std::string sha256Hex(const std::string &bytes);

// The same digest of bytes that come in pieces, as a file is read.
class Sha256 {
public:
    void add(const char *bytes, std::size_t size);
    // The digest of all bytes added; the object is spent after it.
    std::string hex();

private:
    std::array<std::uint32_t, 8> m_state {
        0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<unsigned char, 64> m_block {};
    std::size_t m_filled = 0; // bytes of m_block in use
    std::uint64_t m_size = 0; // bytes added in all
};

} // namespace cleftsim
