#include "mime/SjisConvert.h"

#include "mime/Charset.h"
#include "mime/HeaderWords.h"

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <vector>

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// One iconv conversion, closed when done.
class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (IsOpen())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

// The name iconv knows a canonical charset by.
const char* IconvName(const std::string& charset) {
    return charset == kCharsetSjis ? "CP932" : charset.c_str();
}

// bytes as code points; an invalid or unfinished sequence gives one U+FFFD per byte skipped.
std::u32string ToCodePoints(std::string_view bytes, const std::string& charset) {
    std::u32string out;
    Iconv cd("UTF-32LE", IconvName(charset));
    if (!cd.IsOpen()) {
        for (char c : bytes)
            out.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char32_t>(c)
                                                               : kReplacementCharacter);
        return out;
    }
    auto* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::vector<char> buffer(4096);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(cd.Handle(), &in, &inLeft, &outPtr, &outLeft);
        const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
        for (const char* p = buffer.data(); p + 4 <= outPtr; p += 4) {
            const auto* u = reinterpret_cast<const unsigned char*>(p);
            out.push_back(static_cast<char32_t>(u[0] | (u[1] << 8) | (u[2] << 16) |
                                                (static_cast<std::uint32_t>(u[3]) << 24)));
        }
        if (error == EILSEQ || error == EINVAL) {
            out.push_back(kReplacementCharacter);
            ++in;
            --inLeft;
            iconv(cd.Handle(), nullptr, nullptr, nullptr, nullptr);
        } else if (error != 0 && error != E2BIG) {
            break;
        }
    }
    return out;
}

// Code points as Shift_JIS, one at a time where the converter refuses one.
CSjisText FromCodePoints(const std::u32string& text) {
    CSjisText out;
    Iconv cd("CP932", "UTF-32LE");
    std::string units;
    units.reserve(text.size() * 4);
    for (char32_t c : text) {
        const std::uint32_t u = ToCodePage932Form(c);
        units.push_back(static_cast<char>(u & 0xFF));
        units.push_back(static_cast<char>((u >> 8) & 0xFF));
        units.push_back(static_cast<char>((u >> 16) & 0xFF));
        units.push_back(static_cast<char>((u >> 24) & 0xFF));
    }
    if (!cd.IsOpen()) {
        for (char32_t c : text) {
            if (c < 0x80) {
                out.m_text.push_back(static_cast<char>(c));
            } else {
                out.m_text += kSjisReplacement;
                ++out.m_replaced;
            }
        }
        return out;
    }
    char* in = units.data();
    std::size_t inLeft = units.size();
    std::vector<char> buffer(4096);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(cd.Handle(), &in, &inLeft, &outPtr, &outLeft);
        const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
        out.m_text.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
        if (error == EILSEQ || error == EINVAL) {
            out.m_text += kSjisReplacement;
            ++out.m_replaced;
            const std::size_t skip = std::min<std::size_t>(4, inLeft);
            in += skip;
            inLeft -= skip;
            iconv(cd.Handle(), nullptr, nullptr, nullptr, nullptr);
        } else if (error != 0 && error != E2BIG) {
            break;
        }
    }
    return out;
}

} // namespace

CSjisText ConvertToSjis(std::string_view bytes, const std::string& charset) {
    if (charset.empty() || charset == kCharsetSjis)
        return {std::string(bytes), 0};
    if (charset == kCharsetJis)
        return {PreparePartText(bytes, charset, CTransfer::None), 0};
    // In every other charset the program knows, ASCII text is itself.
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return {std::string(bytes), 0};
    return FromCodePoints(ToCodePoints(bytes, charset));
}

CSjisText HeaderTextToSjis(std::string_view stored) {
    if (!HasEncodedWord(stored))
        return {std::string(stored), 0};
    CSjisText out;
    for (const CHeaderRun& run : SplitHeaderWords(stored)) {
        const CSjisText part = ConvertToSjis(run.m_bytes, run.m_charset);
        out.m_text += part.m_text;
        out.m_replaced += part.m_replaced;
    }
    return out;
}

CSjisText PartFileToSjis(const std::string& path, const std::string& charset, CTransfer transfer) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    return ConvertToSjis(PreparePartText(bytes, charset, transfer), PartServedCharset(charset));
}

CSjisText BodyTextToSjis(std::string_view text, std::string_view contentType,
                         std::string_view transferEncoding) {
    const std::string charset = PartTextCharset(contentType, transferEncoding);
    return ConvertToSjis(PreparePartText(text, charset, PartTransfer(transferEncoding)),
                         PartServedCharset(charset));
}

std::string ReplacementNote(int replaced) {
    if (replaced <= 0)
        return {};
    return "Shift_JIS にない文字 " + std::to_string(replaced) + " 個を〓にしました";
}
