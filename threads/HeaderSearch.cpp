#include "threads/HeaderSearch.h"

#include "base/Progress.h"
#include "mime/Codec.h"
#include "store/HeaderStore.h"
#include "threads/MessageIdIndex.h"

#include <cstdio>
#include <memory>
#include <optional>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Appends as much of line as the gathered text has room for; false once it is full.
bool Append(std::string& gathered, std::string_view line) {
    gathered.append(line.substr(0, kSearchGatherMax - gathered.size()));
    return gathered.size() < kSearchGatherMax;
}

} // namespace

std::string GatherSearchText(const std::string& cachePath, bool header, bool body) {
    std::string gathered;
    if (!header && !body)
        return gathered;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(cachePath.c_str(), "rb"));
    if (!file)
        return gathered;
    // The header runs to the first empty line, the first paragraph to the next one.
    for (const bool wanted : {header, body}) {
        for (;;) {
            const std::optional<std::string> line = ReadFileLine(file.get());
            if (!line)
                return gathered;
            if (line->empty())
                break;
            if (wanted && !Append(gathered, *line))
                return gathered;
        }
    }
    return gathered;
}

CSearchResult SearchArticles(const std::vector<std::string>& entries, int startRow,
                             const CSearchParams& params, IProgress& progress) {
    if (params.text.empty())
        return CSearchResult{};
    const int count = static_cast<int>(entries.size());
    progress.SetProgressRange(0, count);
    for (int row = startRow < 0 ? 0 : startRow; row < count; ++row) {
        progress.SetProgressPos(row);
        progress.PumpMessages();
        if (progress.StopRequested())
            break;
        const std::optional<CIndexEntry> entry = ParseIndexEntry(entries[row]);
        if (!entry)
            continue;
        const std::string gathered = GatherSearchText(
            CacheFilePath(params.groupDir, entry->m_messageId), params.header, params.body);
        // An article without a tree item cannot be shown: the search goes on past it.
        if (entry->m_itemId != 0 && gathered.find(params.text) != std::string::npos)
            return CSearchResult{row, entry->m_itemId};
    }
    return CSearchResult{};
}
