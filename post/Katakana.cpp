#include "post/Katakana.h"

#include "mime/Codec.h"

#include <array>
#include <cstdint>

namespace {

constexpr unsigned char kFirstHalfWidth = 0xA1;
constexpr unsigned char kLastHalfWidth = 0xDF;
constexpr unsigned char kVoicedMark = 0xDE;
constexpr unsigned char kSemiVoicedMark = 0xDF;

// Full-width Shift_JIS of 0xA1 to 0xDF, in order: 。「」、・ヲァィゥェォャュョッー
// アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜
constexpr std::array<std::uint16_t, kLastHalfWidth - kFirstHalfWidth + 1> kFullWidth = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};

bool IsHalfWidth(unsigned char c) {
    return c >= kFirstHalfWidth && c <= kLastHalfWidth;
}

// The full-width form of kana with the mark after it joined in, or 0 when they do not combine.
std::uint16_t Combined(unsigned char kana, unsigned char mark) {
    if (mark == kVoicedMark) {
        if (kana == 0xB3) // ｳ -> ヴ
            return 0x8394;
        // ｶ to ﾄ and ﾊ to ﾎ: the voiced form follows the plain one.
        if ((kana >= 0xB6 && kana <= 0xC4) || (kana >= 0xCA && kana <= 0xCE))
            return kFullWidth[kana - kFirstHalfWidth] + 1;
    } else if (mark == kSemiVoicedMark && kana >= 0xCA && kana <= 0xCE) {
        // ﾊ to ﾎ: the semi-voiced form comes two after the plain one.
        return kFullWidth[kana - kFirstHalfWidth] + 2;
    }
    return 0;
}

void AppendPair(std::string& out, std::uint16_t pair) {
    out.push_back(static_cast<char>(pair >> 8));
    out.push_back(static_cast<char>(pair & 0xFF));
}

} // namespace

std::string HalfToFullKatakana(std::string_view sjis) {
    std::string out;
    out.reserve(sjis.size() * 2);
    std::size_t i = 0;
    while (i < sjis.size()) {
        const auto c = static_cast<unsigned char>(sjis[i]);
        if (IsSjisLeadByte(c)) {
            out.append(sjis.substr(i, 2));
            i += 2;
        } else if (IsHalfWidth(c)) {
            const auto next = i + 1 < sjis.size() ? static_cast<unsigned char>(sjis[i + 1]) : 0;
            if (const std::uint16_t joined = Combined(c, next)) {
                AppendPair(out, joined);
                i += 2;
            } else {
                AppendPair(out, kFullWidth[c - kFirstHalfWidth]);
                ++i;
            }
        } else {
            out.push_back(static_cast<char>(c));
            ++i;
        }
    }
    return out;
}
