#include "mime/Codec.h"

#include "base/AsciiCase.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789abcdef";

constexpr unsigned char kEsc = 0x1B;
constexpr std::string_view kToTwoByte = "\x1B$B";
constexpr std::string_view kToOneByte = "\x1B(B";

constexpr std::string_view kJisWordOpening = "=?ISO-2022-JP?B?";
constexpr std::string_view kWordClosing = "?=";

// What one word carries (both escapes, its pairs and the byte that ended the run) must fit the
// input of EncodeBase64.
constexpr std::size_t kMaxPairsPerWord = (kBase64EncodeMaxInput - 2 * 3 - 1) / 2;

struct WordOpening {
    std::string_view text;
    bool quoted;
};

// Longest first; compared without regard to letter case.
constexpr std::array<WordOpening, 6> kWordOpenings{{
    {"=?ISO-2022-JP?Q?", true},
    {"=?ISO-2022-JP?B?", false},
    {"=?iso-8859-1?Q?", true},
    {"=?iso-8859-1?B?", false},
    {"=?us-ascii?Q?", true},
    {"=?us-ascii?B?", false},
}};

// A text ends at its first zero byte.
std::string_view UpToZero(std::string_view text) {
    const std::size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// Appends a pair of a Shift_JIS text in its JIS X 0208 form.
void AppendJisPair(std::string& out, unsigned char first, unsigned char second) {
    SjisToJisChar(first, second);
    out.push_back(static_cast<char>(first));
    out.push_back(static_cast<char>(second));
}

void AppendJisWord(std::string& out, const std::string& block) {
    out += kJisWordOpening;
    out += EncodeBase64(block);
    out += kWordClosing;
}

} // namespace

std::string EncodeBase64(std::string_view bytes) {
    bytes = UpToZero(bytes);
    if (bytes.size() > kBase64EncodeMaxInput)
        bytes = bytes.substr(0, kBase64EncodeMaxInput);

    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const unsigned b0 = static_cast<unsigned char>(bytes[i]);
        const unsigned b1 = left > 1 ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const unsigned b2 = left > 2 ? static_cast<unsigned char>(bytes[i + 2]) : 0;
        out.push_back(kBase64Alphabet[b0 >> 2]);
        out.push_back(kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        out.push_back(left > 1 ? kBase64Alphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=');
        out.push_back(left > 2 ? kBase64Alphabet[b2 & 63] : '=');
    }
    return out;
}

int Base64Digit(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

int Base64Value(unsigned char c) {
    const int digit = Base64Digit(c);
    return digit < 0 ? c : digit;
}

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string DecodeBase64(std::string_view text) {
    text = UpToZero(text);
    const std::size_t n = text.size();

    std::size_t pad = 0;
    if (n >= 1 && text[n - 1] == '=')
        pad = 1;
    if (n >= 2 && text[n - 2] == '=')
        pad = 2;

    std::string out;
    for (std::size_t i = 0; i < n; i += 4) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const std::uint32_t value = i + k < n ? static_cast<std::uint32_t>(Base64Value(
                                                        static_cast<unsigned char>(text[i + k])))
                                                  : 0;
            v |= value << (18 - 6 * k);
        }
        // Appended as a text: a zero byte ends what this group contributes.
        for (int shift : {16, 8, 0}) {
            const auto byte = static_cast<unsigned char>((v >> shift) & 0xFF);
            if (byte == 0)
                break;
            out.push_back(static_cast<char>(byte));
        }
    }
    out.resize(out.size() > pad ? out.size() - pad : 0);
    if (out.size() > kBase64DecodeMaxResult)
        out.resize(kBase64DecodeMaxResult);
    return out;
}

std::string EncodeQuoted(std::string_view text) {
    text = UpToZero(text);
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x21 || b >= 0x80 || b == '=') {
            out.push_back('=');
            out.push_back(kHexDigits[b >> 4]);
            out.push_back(kHexDigits[b & 15]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

std::string DecodeQuoted(std::string_view text) {
    text = UpToZero(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size()) {
            const int high = HexValue(static_cast<unsigned char>(text[i + 1]));
            const int low = HexValue(static_cast<unsigned char>(text[i + 2]));
            if (high >= 0 && low >= 0) {
                const int byte = high * 16 + low;
                if (byte != 0)
                    out.push_back(static_cast<char>(byte));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool IsSjisLeadByte(unsigned char c) {
    return (c >= 0x80 && c <= 0xA0) || c >= 0xE0;
}

unsigned SjisToJisChar(unsigned char& first, unsigned char& second) {
    const unsigned s1 = first;
    const unsigned s2 = second;
    unsigned row;
    if (s1 <= 0x9F)
        row = s2 < 0x9F ? 2 * s1 - 0xE1 : 2 * s1 - 0xE0;
    else
        row = s2 < 0x9F ? 2 * s1 - 0x161 : 2 * s1 - 0x160;
    unsigned cell;
    if (s2 < 0x7F)
        cell = s2 - 0x1F;
    else if (s2 < 0x9F)
        cell = s2 - 0x20;
    else
        cell = s2 - 0x7E;
    first = static_cast<unsigned char>(row & 0xFF);
    second = static_cast<unsigned char>(cell & 0xFF);
    return first * 256u + second;
}

unsigned JisToSjisChar(unsigned char& row, unsigned char& cell) {
    const unsigned j1 = row;
    const unsigned j2 = cell;
    unsigned second;
    if (j1 & 1)
        second = j2 < 0x60 ? j2 + 0x1F : j2 + 0x20;
    else
        second = j2 + 0x7E;
    const unsigned first = j1 < 0x5F ? (j1 + 0xE1) >> 1 : (j1 + 0x161) >> 1;
    row = static_cast<unsigned char>(first & 0xFF);
    cell = static_cast<unsigned char>(second & 0xFF);
    return row * 256u + cell;
}

std::string SjisToJis(std::string_view sjis) {
    sjis = UpToZero(sjis);
    std::string out;
    out.reserve(sjis.size() + 8);
    bool twoByte = false;
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        const auto b = static_cast<unsigned char>(sjis[i]);
        if (IsSjisLeadByte(b)) {
            if (i + 1 >= sjis.size())
                break;
            if (!twoByte) {
                out += kToTwoByte;
                twoByte = true;
            }
            AppendJisPair(out, b, static_cast<unsigned char>(sjis[i + 1]));
            ++i;
            continue;
        }
        if (twoByte) {
            out += kToOneByte;
            twoByte = false;
        }
        out.push_back(sjis[i]);
    }
    if (twoByte)
        out += kToOneByte;
    return out;
}

std::string JisToSjis(std::string_view jis) {
    jis = UpToZero(jis);
    if (jis.find(static_cast<char>(kEsc)) == std::string_view::npos)
        return std::string(jis);

    std::string out;
    out.reserve(jis.size());
    bool twoByte = false;
    std::size_t i = 0;
    while (i < jis.size()) {
        if (static_cast<unsigned char>(jis[i]) == kEsc) {
            if (jis.size() - i < 3)
                break;
            const std::string_view sequence = jis.substr(i + 1, 2);
            if (sequence == "$B" || sequence == "$@")
                twoByte = true;
            else if (sequence == "(B" || sequence == "(J")
                twoByte = false;
            i += 3;
            continue;
        }
        if (twoByte) {
            if (i + 1 >= jis.size())
                break;
            auto row = static_cast<unsigned char>(jis[i]);
            auto cell = static_cast<unsigned char>(jis[i + 1]);
            JisToSjisChar(row, cell);
            out.push_back(static_cast<char>(row));
            out.push_back(static_cast<char>(cell));
            i += 2;
            continue;
        }
        out.push_back(jis[i]);
        ++i;
    }
    return out;
}

std::optional<std::string> ReadFileLine(std::FILE* file) {
    if (!file)
        return std::nullopt;
    // One lock for the whole line: a lock per byte costs more than the reading itself on an
    // article of megabytes.
    struct FileLock {
        std::FILE* f;
        explicit FileLock(std::FILE* file) : f(file) { flockfile(f); }
        ~FileLock() { funlockfile(f); }
        FileLock(const FileLock&) = delete;
        FileLock& operator=(const FileLock&) = delete;
    } lock(file);
    std::string line;
    for (;;) {
        const int c = getc_unlocked(file);
        if (c == EOF || c == 0)
            return std::nullopt;
        if (c == '\r') {
            const int next = getc_unlocked(file);
            if (next != '\n' && next != EOF)
                std::ungetc(next, file);
            break;
        }
        if (c == '\n')
            break;
        const bool lead = IsSjisLeadByte(static_cast<unsigned char>(c));
        if (line.size() + (lead ? 2 : 1) > kFileLineMax) {
            std::ungetc(c, file);
            break;
        }
        line.push_back(static_cast<char>(c));
        if (lead) {
            const int second = getc_unlocked(file);
            if (second == EOF)
                return std::nullopt;
            line.push_back(static_cast<char>(second));
        }
    }
    // The line is a text: a zero taken in as a second byte ends it.
    line.resize(UpToZero(line).size());
    return line;
}

std::string DecodeHeaderText(std::string_view text) {
    text = UpToZero(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const WordOpening* opening = nullptr;
        if (text[i] == '=') {
            for (const WordOpening& candidate : kWordOpenings) {
                if (StartsWithNoCase(text.substr(i), candidate.text)) {
                    opening = &candidate;
                    break;
                }
            }
        }
        if (!opening) {
            out.push_back(text[i]);
            ++i;
            continue;
        }

        const std::size_t start = i + opening->text.size();
        const std::size_t close = text.find('?', start);
        if (close == std::string_view::npos)
            break; // never closed: dropped with its text
        const std::string_view word =
            text.substr(start, std::min(close - start, kEncodedWordMaxText));
        out += opening->quoted ? DecodeQuoted(word) : DecodeBase64(word);
        i = close + 2; // the "?" and the "=" after it
    }
    return out;
}

std::string EncodeHeaderText(std::string_view sjis) {
    sjis = UpToZero(sjis);
    std::string out;
    out.reserve(sjis.size());
    std::string block;
    std::size_t pairs = 0;
    bool inRun = false;
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        const auto b = static_cast<unsigned char>(sjis[i]);
        if (IsSjisLeadByte(b)) {
            if (i + 1 >= sjis.size())
                break;
            if (inRun && pairs == kMaxPairsPerWord) {
                block += kToOneByte;
                AppendJisWord(out, block);
                inRun = false;
            }
            if (!inRun) {
                block.assign(kToTwoByte);
                pairs = 0;
                inRun = true;
            }
            AppendJisPair(block, b, static_cast<unsigned char>(sjis[i + 1]));
            ++pairs;
            ++i;
            continue;
        }
        if (inRun) {
            block += kToOneByte;
            block.push_back(sjis[i]);
            AppendJisWord(out, block);
            inRun = false;
            continue;
        }
        out.push_back(sjis[i]);
    }
    if (inRun) {
        block += kToOneByte;
        AppendJisWord(out, block);
    }
    return out;
}
