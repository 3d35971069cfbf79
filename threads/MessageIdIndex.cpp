#include "threads/MessageIdIndex.h"

#include <climits>
#include <cstdlib>

namespace {

// A number as atoi reads it, kept within int.
int ReadNumber(std::string_view text) {
    const std::string copy(text);
    const long value = std::strtol(copy.c_str(), nullptr, 10);
    if (value < INT_MIN)
        return INT_MIN;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

} // namespace

std::string FormatIndexEntry(int recordIndex, std::string_view messageId, int itemId) {
    std::string entry = std::to_string(recordIndex);
    entry += ' ';
    entry += messageId;
    entry += " ,";
    entry += std::to_string(itemId);
    return entry;
}

std::optional<CIndexEntry> ParseIndexEntry(std::string_view entry) {
    const std::size_t comma = entry.rfind(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = entry.substr(0, comma);
    if (!rest.empty() && rest.back() == ' ')
        rest.remove_suffix(1);
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;

    CIndexEntry result;
    result.m_recordIndex = ReadNumber(rest.substr(0, blank));
    result.m_messageId.assign(rest.substr(blank + 1));
    result.m_itemId = ReadNumber(entry.substr(comma + 1));
    return result;
}
