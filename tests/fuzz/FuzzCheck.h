#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

// A broken promise of the code under test is a crash the fuzzer records like any other.
inline void Check(bool promise) {
    if (!promise)
        std::abort();
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The part of an input that the codec looks at: a text ends at its first zero byte.
inline std::string_view UpToZero(std::string_view input) {
    return input.substr(0, input.find('\0'));
}

// Well-formed code page 932 text without ESC: the texts that survive the trip through
// ISO-2022-JP and back.
inline bool IsWellFormedSjis(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            if (i + 1 >= text.size())
                return false;
            const auto t = static_cast<unsigned char>(text[++i]);
            if (t < 0x40 || t == 0x7F || t > 0xFC)
                return false;
        } else if (b == 0x00 || b == 0x1B || b == 0x80 || b == 0xA0 || b >= 0xFD) {
            return false;
        }
    }
    return true;
}

// Well-formed text made from any bytes, so that every input also tries a round trip: a byte that
// may lead a pair takes the next byte, mapped onto the second-byte range, with it; a byte that
// may not stand alone becomes a blank.
inline std::string MakeWellFormedSjis(std::string_view input) {
    std::string out;
    for (std::size_t i = 0; i < input.size(); ++i) {
        const auto b = static_cast<unsigned char>(input[i]);
        if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            if (i + 1 >= input.size())
                break;
            unsigned trail = 0x40 + static_cast<unsigned char>(input[++i]) % 188;
            if (trail >= 0x7F)
                ++trail;
            out.push_back(static_cast<char>(b));
            out.push_back(static_cast<char>(trail));
        } else if (b == 0x00 || b == 0x1B || b == 0x80 || b == 0xA0 || b >= 0xFD) {
            out.push_back(' ');
        } else {
            out.push_back(static_cast<char>(b));
        }
    }
    return out;
}
