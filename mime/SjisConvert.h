#pragma once

#include "mime/Charset.h"

#include <string>
#include <string_view>

// Text of other charsets turned into Shift_JIS, for the places where the program works on it
// as its own text: quoting a part into a reply, comparing with a search text. Done by the C
// library's iconv. A character Shift_JIS (code page 932) does not have, and a byte sequence
// that is not valid in its charset, becomes kSjisReplacement and is counted: nothing is dropped
// without a trace.

// "〓" (geta mark), the traditional mark of a character that could not be shown.
inline constexpr char kSjisReplacement[] = "\x81\xac";

struct CSjisText {
    std::string m_text;
    int m_replaced = 0; // characters written as kSjisReplacement

    bool operator==(const CSjisText&) const = default;
};

// bytes in charset (a canonical name, CanonicalCharset) as Shift_JIS. Empty and Shift_JIS are
// returned as they are, ISO-2022-JP goes through JisToSjis line by line; other charsets are
// converted with the look-alikes of ToCodePage932Form mapped first, so a wave dash from UTF-8
// becomes 0x81 0x60. A charset iconv cannot open gives every non-ASCII byte as a replacement.
CSjisText ConvertToSjis(std::string_view bytes, const std::string& charset);

// A stored header value with the encoded words that stayed in it (SplitHeaderWords) converted:
// the text to compare where the screen shows the decoded value.
CSjisText HeaderTextToSjis(std::string_view stored);

// The text of a part file as Shift_JIS: PreparePartText, then ConvertToSjis. A file that
// cannot be read gives an empty text. charset and transfer are those of the part's entry. This
// is what a reply quotes.
CSjisText PartFileToSjis(const std::string& path, const std::string& charset, CTransfer transfer);

// Body text of a cached article (lines as the cache holds them, joined in any way) as Shift_JIS,
// read by the article's main Content-Type and Content-Transfer-Encoding values as the view
// reads its body: base64 decoded, soft line breaks joined, text of another charset converted.
// This is what a search compares.
CSjisText BodyTextToSjis(std::string_view text, std::string_view contentType,
                         std::string_view transferEncoding);

// The status-line note (UTF-8) after text was converted with replaced characters; empty when
// there were none.
std::string ReplacementNote(int replaced);
