#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class IProgress;

// The search over the cached articles of a group: for each entry of the message-ID index in
// turn, the article's cache file is read as far as its first body paragraph, and the search text
// is looked for in what was gathered, byte for byte (so letter case matters).

// At most this many bytes are gathered from one article.
inline constexpr std::size_t kSearchGatherMax = 2047;

// What one article offers the search: with header, its header lines (those before the first
// empty line); with body, the lines of its first paragraph (from there to the next empty line or
// the end of the file). Lines are read as ReadFileLine reads them and joined with nothing
// between, so a text may run from the end of one line into the next; the result is cut at
// kSearchGatherMax bytes. Empty when the file cannot be read or neither part is wanted.
// Text in other charsets is gathered as Shift_JIS, as the screen shows it: encoded words of
// other charsets in header lines decoded (HeaderTextToSjis), a first paragraph whose main
// header declares another charset or a transfer encoding read the way the view reads the body
// (BodyTextToSjis: base64 decoded, soft line breaks joined, converted). The program's own text
// is gathered as it stands.
std::string GatherSearchText(const std::string& cachePath, bool header, bool body);

struct CSearchParams {
    std::string groupDir; // where the cache files are
    std::string text;     // Shift_JIS; an empty text finds nothing
    bool header = true;   // "ヘッダー"
    bool body = true;     // "本文"
};

struct CSearchResult {
    // The entry of the article found, or -1 when the search went past the last entry.
    int m_row = -1;
    int m_itemId = 0; // its header tree item, never 0 for an article found
};

// Looks through the index entries ("%d %s ,%d") from startRow to the last for the first article
// whose gathered text holds the search text and which has a tree item (an entry whose item is 0
// is passed over). The progress bar runs over the entries; the window is kept alive once per
// entry. An empty search text finds nothing and touches nothing. A stop request ends the search
// as if past the last entry.
CSearchResult SearchArticles(const std::vector<std::string>& entries, int startRow,
                             const CSearchParams& params, IProgress& progress);

// The message shown when a search went past the last entry.
inline constexpr char kSearchEndMessage[] = "最後まで検索しました";
