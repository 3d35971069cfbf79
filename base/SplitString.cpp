#include "base/SplitString.h"

int SplitString(std::string_view text, std::vector<std::string>& parts, int n, char separator) {
    if (text.size() > kSplitStringMaxText)
        text = text.substr(0, kSplitStringMaxText);

    const std::size_t entries = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (parts.size() < entries)
        parts.resize(entries);
    for (std::size_t i = 0; i < entries; ++i)
        parts[i].clear();

    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = text.find(separator, start);
        const std::string_view part = text.substr(
            start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
        if (count < entries)
            parts[count].assign(part);
        ++count;
        if (sep == std::string_view::npos)
            break;
        start = sep + 1;
    }
    return static_cast<int>(count);
}
