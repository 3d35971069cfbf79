#pragma once

#include <string>
#include <string_view>
#include <vector>

// Encoded words (RFC 2047) that stay in stored header values: the fetch and the header
// download decode only ISO-2022-JP, ISO-8859-1 and US-ASCII words, so a Subject or From in
// UTF-8, EUC-JP, windows-1252 and so on is stored as "=?charset?B?...?=" text. What is stored
// never changes; these words are decoded only where the value is shown or compared.

// One run of a stored value: stored text (Shift_JIS), or the decoded bytes of one or more
// encoded words in the same charset that stood next to each other.
struct CHeaderRun {
    std::string m_bytes;
    std::string m_charset; // canonical (CanonicalCharset); empty for stored text

    bool operator==(const CHeaderRun&) const = default;
};

// True when the value holds "=?", the opening of an encoded word; SplitHeaderWords of any
// other value is the value itself.
bool HasEncodedWord(std::string_view stored);

// Cuts a stored value into runs. An encoded word is "=?", a charset (a "*language" suffix is
// ignored), "?", B or Q in either case, "?", text of printable ASCII without blanks or "?",
// and "?="; its charset must be one CanonicalCharset knows, and a B word's text must be base64.
// Q text turns "_" into a blank and "=XX" into its byte. White space between two encoded words
// is not part of the value, and their bytes join when the charsets agree (a character may be
// split between words). A word that the end of the value cuts off before its "?=" (a value cut
// to its buffer) is decoded as far as it goes. Everything else, malformed words and words in
// unknown charsets included, is stored text.
std::vector<CHeaderRun> SplitHeaderWords(std::string_view stored);
