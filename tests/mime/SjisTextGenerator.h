#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

// Seeded generator of well-formed Shift_JIS (code page 932) text as this program reads it:
// ASCII (every byte 0x01-0x7F except ESC, which ISO-2022-JP would take as an escape), CR, LF
// and CR LF, half-width katakana, and pairs from every double-byte block: JIS X 0208, NEC row 13,
// NEC-selected IBM extensions, the user area and the IBM extensions. Single bytes that this
// program takes as lead bytes (0x80, 0xA0, 0xFD-0xFF) never stand alone.
class SjisTextGenerator {
public:
    explicit SjisTextGenerator(std::uint32_t seed) : m_random(seed) {}

    // A text of up to maxCharacters characters, with at most maxRun pairs in a row.
    std::string Next(std::size_t maxCharacters,
                     std::size_t maxRun = std::numeric_limits<std::size_t>::max());

    // Any bytes except zero.
    std::string NextBytes(std::size_t maxLength);

    // A run of exactly n pairs.
    std::string NextRun(std::size_t n);

private:
    unsigned Uniform(unsigned low, unsigned high);
    void AppendPair(std::string& out);
    void AppendSingle(std::string& out);

    std::mt19937 m_random;
};
