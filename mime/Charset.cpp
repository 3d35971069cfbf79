#include "mime/Charset.h"

#include "base/AsciiCase.h"
#include "mime/Codec.h"

#include <algorithm>
#include <array>

namespace {

struct CharsetLabel {
    std::string_view label;
    const char* canonical;
};

// Every label the program accepts, lower case. Anything else is unknown.
constexpr std::array kLabels = std::to_array<CharsetLabel>({
    {"utf-8", kCharsetUtf8},
    {"utf8", kCharsetUtf8},
    {"unicode-1-1-utf-8", kCharsetUtf8},
    {"shift_jis", kCharsetSjis},
    {"shift-jis", kCharsetSjis},
    {"sjis", kCharsetSjis},
    {"x-sjis", kCharsetSjis},
    {"ms_kanji", kCharsetSjis},
    {"csshiftjis", kCharsetSjis},
    {"windows-31j", kCharsetSjis},
    {"cp932", kCharsetSjis},
    {"ms932", kCharsetSjis},
    {"iso-2022-jp", kCharsetJis},
    {"csiso2022jp", kCharsetJis},
    {"euc-jp", "EUC-JP"},
    {"x-euc-jp", "EUC-JP"},
    {"eucjp", "EUC-JP"},
    {"euc_jp", "EUC-JP"},
    {"cseucpkdfmtjapanese", "EUC-JP"},
    {"us-ascii", "US-ASCII"},
    {"ascii", "US-ASCII"},
    {"ansi_x3.4-1968", "US-ASCII"},
    {"iso-8859-1", "windows-1252"},
    {"iso8859-1", "windows-1252"},
    {"iso_8859-1", "windows-1252"},
    {"latin1", "windows-1252"},
    {"l1", "windows-1252"},
    {"cp819", "windows-1252"},
    {"iso-8859-2", "ISO-8859-2"},
    {"iso8859-2", "ISO-8859-2"},
    {"iso_8859-2", "ISO-8859-2"},
    {"latin2", "ISO-8859-2"},
    {"iso-8859-3", "ISO-8859-3"},
    {"iso8859-3", "ISO-8859-3"},
    {"iso-8859-4", "ISO-8859-4"},
    {"iso8859-4", "ISO-8859-4"},
    {"iso-8859-5", "ISO-8859-5"},
    {"iso8859-5", "ISO-8859-5"},
    {"iso_8859-5", "ISO-8859-5"},
    {"iso-8859-6", "ISO-8859-6"},
    {"iso8859-6", "ISO-8859-6"},
    {"iso-8859-7", "ISO-8859-7"},
    {"iso8859-7", "ISO-8859-7"},
    {"iso_8859-7", "ISO-8859-7"},
    {"iso-8859-8", "ISO-8859-8"},
    {"iso8859-8", "ISO-8859-8"},
    {"iso-8859-8-i", "ISO-8859-8"},
    {"iso-8859-9", "windows-1254"},
    {"iso8859-9", "windows-1254"},
    {"latin5", "windows-1254"},
    {"iso-8859-10", "ISO-8859-10"},
    {"iso8859-10", "ISO-8859-10"},
    {"iso-8859-11", "windows-874"},
    {"tis-620", "windows-874"},
    {"iso-8859-13", "ISO-8859-13"},
    {"iso8859-13", "ISO-8859-13"},
    {"iso-8859-14", "ISO-8859-14"},
    {"iso8859-14", "ISO-8859-14"},
    {"iso-8859-15", "ISO-8859-15"},
    {"iso8859-15", "ISO-8859-15"},
    {"iso_8859-15", "ISO-8859-15"},
    {"latin-9", "ISO-8859-15"},
    {"windows-874", "windows-874"},
    {"windows-1250", "windows-1250"},
    {"cp1250", "windows-1250"},
    {"x-cp1250", "windows-1250"},
    {"windows-1251", "windows-1251"},
    {"cp1251", "windows-1251"},
    {"x-cp1251", "windows-1251"},
    {"windows-1252", "windows-1252"},
    {"cp1252", "windows-1252"},
    {"x-cp1252", "windows-1252"},
    {"windows-1253", "windows-1253"},
    {"cp1253", "windows-1253"},
    {"windows-1254", "windows-1254"},
    {"cp1254", "windows-1254"},
    {"windows-1255", "windows-1255"},
    {"cp1255", "windows-1255"},
    {"windows-1256", "windows-1256"},
    {"cp1256", "windows-1256"},
    {"windows-1257", "windows-1257"},
    {"cp1257", "windows-1257"},
    {"windows-1258", "windows-1258"},
    {"cp1258", "windows-1258"},
    {"koi8-r", "KOI8-R"},
    {"koi8r", "KOI8-R"},
    {"koi8-u", "KOI8-U"},
    {"gb2312", "GBK"},
    {"gbk", "GBK"},
    {"x-gbk", "GBK"},
    {"cp936", "GBK"},
    {"gb18030", "GB18030"},
    {"big5", "Big5"},
    {"x-big5", "Big5"},
    {"csbig5", "Big5"},
    {"euc-kr", "EUC-KR"},
    {"cseuckr", "EUC-KR"},
    {"ks_c_5601-1987", "EUC-KR"},
});

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text, std::string_view what) {
    const std::size_t first = text.find_first_not_of(what);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(what);
    return text.substr(first, last - first + 1);
}

std::string JisLinesToSjis(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        // JisToSjis stops at a zero byte; a line holding one is kept as it is.
        const std::string_view line = text.substr(start, end - start);
        out += line.find('\0') == std::string_view::npos ? JisToSjis(line) : std::string(line);
        std::size_t next = end;
        while (next < text.size() && (text[next] == '\r' || text[next] == '\n'))
            ++next;
        out.append(text.substr(end, next - end));
        start = next;
    }
    return out;
}

// "=" at the end of a line, with the line end after it, goes.
std::string JoinSoftLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=') {
            if (text.substr(i + 1, 2) == "\r\n") {
                i += 2;
                continue;
            }
            if (text.substr(i + 1, 1) == "\n") {
                i += 1;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string DropStrayCarriageReturns(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 3) == "\r\r\n")
            continue;
        out.push_back(text[i]);
    }
    return out;
}

} // namespace

std::string CanonicalCharset(std::string_view label) {
    label = Trim(Trim(label, kBlanks), "\"");
    for (const CharsetLabel& entry : kLabels) {
        if (EqualsNoCase(label, entry.label))
            return entry.canonical;
    }
    return {};
}

std::vector<std::string> KnownCharsets() {
    std::vector<std::string> names;
    for (const CharsetLabel& entry : kLabels) {
        if (std::find(names.begin(), names.end(), entry.canonical) == names.end())
            names.emplace_back(entry.canonical);
    }
    return names;
}

std::string ContentTypeParameter(std::string_view contentType, std::string_view name) {
    std::size_t semicolon = contentType.find(';');
    while (semicolon != std::string_view::npos) {
        const std::size_t next = contentType.find(';', semicolon + 1);
        const std::string_view parameter =
            Trim(contentType.substr(semicolon + 1, next == std::string_view::npos
                                                       ? std::string_view::npos
                                                       : next - semicolon - 1),
                 kBlanks);
        const std::size_t equals = parameter.find('=');
        if (equals != std::string_view::npos &&
            EqualsNoCase(Trim(parameter.substr(0, equals), kBlanks), name)) {
            std::string_view value = Trim(parameter.substr(equals + 1), kBlanks);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            return std::string(value);
        }
        semicolon = next;
    }
    return {};
}

bool IsBase64Transfer(std::string_view transferEncoding) {
    return EqualsNoCase(Trim(transferEncoding, kBlanks), "base64");
}

bool IsQuotedPrintableTransfer(std::string_view transferEncoding) {
    return EqualsNoCase(Trim(transferEncoding, kBlanks), "quoted-printable");
}

CTransfer PartTransfer(std::string_view transferEncoding) {
    if (IsBase64Transfer(transferEncoding))
        return CTransfer::Base64;
    if (IsQuotedPrintableTransfer(transferEncoding))
        return CTransfer::QuotedPrintable;
    return CTransfer::None;
}

std::string PartTextCharset(std::string_view contentType, std::string_view transferEncoding) {
    const std::string charset = CanonicalCharset(ContentTypeParameter(contentType, "charset"));
    if (charset == kCharsetSjis || charset == "US-ASCII")
        return {};
    if (charset == kCharsetJis && !IsBase64Transfer(transferEncoding) &&
        !IsQuotedPrintableTransfer(transferEncoding))
        return {};
    return charset;
}

std::string DecodeBase64Text(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned bits = 0;
    int count = 0;
    for (char ch : text) {
        if (ch == '=')
            break;
        const int digit = Base64Digit(static_cast<unsigned char>(ch));
        if (digit < 0)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

std::string PreparePartText(std::string_view fileBytes, const std::string& charset,
                            CTransfer transfer) {
    std::string text;
    if (transfer == CTransfer::Base64) {
        text = DecodeBase64Text(fileBytes);
    } else {
        text = charset.empty() || charset == kCharsetJis ? std::string(fileBytes)
                                                         : DropStrayCarriageReturns(fileBytes);
        if (transfer == CTransfer::QuotedPrintable)
            text = JoinSoftLineBreaks(text);
    }
    return charset == kCharsetJis ? JisLinesToSjis(text) : text;
}

std::string PartServedCharset(const std::string& charset) {
    return charset == kCharsetJis ? std::string() : charset;
}

char32_t ToCodePage932Form(char32_t c) {
    switch (c) {
    case 0x301C:
        return 0xFF5E; // wave dash → fullwidth tilde
    case 0x2212:
        return 0xFF0D; // minus sign → fullwidth hyphen-minus
    case 0x2016:
        return 0x2225; // double vertical line → parallel to
    case 0x00A2:
        return 0xFFE0; // cent sign → fullwidth cent
    case 0x00A3:
        return 0xFFE1; // pound sign → fullwidth pound
    case 0x00AC:
        return 0xFFE2; // not sign → fullwidth not
    case 0x2014:
        return 0x2015; // em dash → horizontal bar
    default:
        return c;
    }
}
