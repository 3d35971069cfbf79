#include "mime/HeaderWords.h"

#include "mime/Charset.h"
#include "mime/Codec.h"

#include <optional>

namespace {

// Longer than any charset label the program knows, with room for a language suffix.
constexpr std::size_t kMaxCharsetField = 64;

struct DecodedWord {
    std::string charset;
    std::string bytes;
    std::size_t end; // just after the word
};

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

// Printable ASCII other than blank and "?".
bool IsWordTextChar(char c) {
    return c > ' ' && c < 0x7F && c != '?';
}

std::string DecodeQ(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high =
            i + 2 < text.size() ? HexValue(static_cast<unsigned char>(text[i + 1])) : -1;
        const int low =
            i + 2 < text.size() ? HexValue(static_cast<unsigned char>(text[i + 2])) : -1;
        if (text[i] == '=' && high >= 0 && low >= 0) {
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            out.push_back(text[i] == '_' ? ' ' : text[i]);
        }
    }
    return out;
}

// The encoded word that begins at `at` (with "=?"), if there is a well-formed one.
std::optional<DecodedWord> ParseWord(std::string_view text, std::size_t at) {
    const std::size_t charsetStart = at + 2;
    const std::size_t charsetEnd = text.find('?', charsetStart);
    if (charsetEnd == std::string_view::npos || charsetEnd == charsetStart ||
        charsetEnd - charsetStart > kMaxCharsetField)
        return std::nullopt;
    std::string_view label = text.substr(charsetStart, charsetEnd - charsetStart);
    for (char c : label)
        if (!IsWordTextChar(c))
            return std::nullopt;
    label = label.substr(0, label.find('*'));
    std::string charset = CanonicalCharset(label);
    if (charset.empty() || charsetEnd + 2 >= text.size() || text[charsetEnd + 2] != '?')
        return std::nullopt;
    const char encoding = text[charsetEnd + 1];
    const bool quoted = encoding == 'Q' || encoding == 'q';
    if (!quoted && encoding != 'B' && encoding != 'b')
        return std::nullopt;

    const std::size_t textStart = charsetEnd + 3;
    std::size_t i = textStart;
    while (i < text.size() && IsWordTextChar(text[i]))
        ++i;
    std::size_t end;
    if (text.substr(i, 2) == "?=") {
        end = i + 2;
    } else if (i == text.size() || (i + 1 == text.size() && text[i] == '?')) {
        end = text.size(); // cut off by the end of the value
    } else {
        return std::nullopt;
    }
    const std::string_view encoded = text.substr(textStart, i - textStart);
    if (!quoted) {
        for (char c : encoded)
            if (!IsBase64Char(c))
                return std::nullopt;
    }
    return DecodedWord{std::move(charset), quoted ? DecodeQ(encoded) : DecodeBase64Text(encoded),
                       end};
}

bool IsWhiteSpace(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

} // namespace

bool HasEncodedWord(std::string_view stored) {
    return stored.find("=?") != std::string_view::npos;
}

std::vector<CHeaderRun> SplitHeaderWords(std::string_view stored) {
    std::vector<CHeaderRun> runs;
    auto addText = [&runs](std::string_view text) {
        if (text.empty())
            return;
        if (!runs.empty() && runs.back().m_charset.empty())
            runs.back().m_bytes.append(text);
        else
            runs.push_back(CHeaderRun{std::string(text), {}});
    };

    std::size_t textStart = 0; // stored text not yet in a run
    bool afterWord = false;
    std::size_t at = stored.find("=?");
    while (at != std::string_view::npos) {
        std::optional<DecodedWord> word = ParseWord(stored, at);
        if (!word) {
            at = stored.find("=?", at + 1);
            continue;
        }
        const std::string_view between = stored.substr(textStart, at - textStart);
        if (afterWord && IsWhiteSpace(between) && runs.back().m_charset == word->charset) {
            runs.back().m_bytes += word->bytes;
        } else {
            if (!(afterWord && IsWhiteSpace(between)))
                addText(between);
            runs.push_back(CHeaderRun{std::move(word->bytes), std::move(word->charset)});
        }
        afterWord = true;
        textStart = word->end;
        at = stored.find("=?", textStart);
    }
    addText(stored.substr(textStart));
    return runs;
}
