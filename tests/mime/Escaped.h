#pragma once

#include <string>
#include <string_view>

// Bytes as C-style text, so that a failing case shows what it held: printable ASCII as it is,
// everything else as \xNN.
inline std::string Escaped(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x20 && b < 0x7F && b != '\\' && b != '"') {
            out += ch;
        } else {
            out += "\\x";
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    return out + "\"";
}
