#pragma once

#include <optional>
#include <string>
#include <string_view>

// The message-ID index beside the header tree: one text entry per inserted tree item, in record
// order, reading "%d %s ,%d" (record index, Message-ID as stored, tree item identifier). Other
// commands find an article's record, cache file and tree item through these texts, so their
// format is fixed byte for byte.

struct CIndexEntry {
    int m_recordIndex = 0;   // the number before the first blank
    std::string m_messageId; // angle brackets included, as stored
    int m_itemId = 0;        // 0 means the article has no tree item
};

// "%d %s ,%d" of the three values.
std::string FormatIndexEntry(int recordIndex, std::string_view messageId, int itemId);

// Reads an entry back: it is cut at its LAST comma (the identifier follows it), the one blank in
// front of that comma is dropped, the record index is the text before the first blank and the
// Message-ID the text after it. Cutting at the last comma and the first blank gives back every
// Message-ID that FormatIndexEntry was given, commas and blanks included. Numbers read as the C
// library reads them ("12x" is 12, "x" is 0). Nothing when the entry has no comma or the text
// before it has no blank.
std::optional<CIndexEntry> ParseIndexEntry(std::string_view entry);
