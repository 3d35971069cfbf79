#include "threads/HeaderThreads.h"

#include "store/CacheFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// A field read the way a fixed buffer holds it: cut to size - 1 bytes, ending at a NUL byte,
// empty when the field is Null or the cursor is past the last record.
void ReadField(CDbTable& table, int column, std::size_t size, std::string& value) {
    table.GetField(column, value);
    value.resize(std::min({value.size(), value.find('\0'), size - 1}));
}

// WantedParentId without a string of its own: a part of ref.
std::string_view WantedParent(std::string_view text) {
    // What SplitString(ref, parts, kTreeRefParts, ' ') followed by taking part k gives, found
    // without building the parts (this runs once per header of a fill), and over the whole REF:
    // a Message-ID is never cut.
    std::size_t blank = text.find(' ');
    std::string_view wanted = text.substr(0, blank);
    for (int k = 1; k < kTreeRefParts && blank != std::string_view::npos; ++k) {
        const std::size_t next = text.find(' ', blank + 1);
        const std::string_view part = text.substr(
            blank + 1, next == std::string_view::npos ? std::string_view::npos : next - blank - 1);
        if (part.empty())
            break;
        wanted = part;
        blank = next;
    }
    return wanted;
}

// The Message-IDs of a fill's items, one after another in blocks that never move, so that the
// map from Message-ID to item holds views rather than a string (and an allocation) each: a
// group of 100,000 headers costs megabytes less at the fill's peak.
class CMessageIdArena {
public:
    std::string_view Keep(std::string_view id) {
        if (m_blocks.empty() || m_capacity - m_used < id.size()) {
            m_capacity = std::max(kBlockBytes, id.size());
            m_blocks.push_back(std::make_unique<char[]>(m_capacity));
            m_used = 0;
        }
        char* at = m_blocks.back().get() + m_used;
        std::memcpy(at, id.data(), id.size());
        m_used += id.size();
        return {at, id.size()};
    }

private:
    static constexpr std::size_t kBlockBytes = 256 * 1024;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_capacity = 0;
    std::size_t m_used = 0;
};

// Names of the cache files in the group directory, read once, so that the many articles that
// were never fetched cost no file-system query of their own. Temporary files a killed fetch
// left behind are removed on the way.
std::unordered_set<std::string> CacheFilesIn(const std::string& dir) {
    namespace fs = std::filesystem;
    std::unordered_set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.ends_with(kCacheFileSuffix)) {
            names.insert(std::move(name));
        } else if (IsFetchFileName(name)) {
            std::error_code fileError;
            const auto written = it->last_write_time(fileError);
            if (!fileError && it->is_regular_file(fileError) &&
                fs::file_time_type::clock::now() - written >= kLeftoverFetchAge)
                fs::remove(it->path(), fileError);
        }
    }
    return names;
}

} // namespace

std::string WantedParentId(const std::string& ref) {
    return std::string(WantedParent(ref));
}

int FillHeaderTree(const std::string& groupDir, IHeaderTreeSink& sink) {
    CDbTable table;
    table.Open(kHeaderTable, HeaderDbPath(groupDir));
    int count = table.GetRecordCount();
    if (count < 0)
        count = 0;
    sink.SetProgressRange(count);
    table.MoveTo(0);

    // Message-ID -> identifier of the earliest item carrying it. The index entries hold the same
    // pairs in the same order, so this gives what a scan of the index from its first entry
    // would, without reading the index.
    CMessageIdArena ids;
    std::unordered_map<std::string_view, int> itemOf;
    itemOf.reserve(static_cast<std::size_t>(count));
    int inserted = 0;
    int firstTopLevel = 0;
    const std::unordered_set<std::string> files = CacheFilesIn(groupDir);

    const int mesidColumn = table.FieldColumn("MESID");
    const int numColumn = table.FieldColumn("NUM");
    const int subColumn = table.FieldColumn("SUB");
    const int readColumn = table.FieldColumn("READ");
    const int refColumn = table.FieldColumn("REF");
    table.ScanColumns({mesidColumn, numColumn, subColumn, readColumn, refColumn});
    // Reused by every record: their storage is kept from one to the next.
    std::string mesid, num, sub, read, ref, label;
    for (int i = 0; i <= count; ++i) {
        sink.Step(i);
        if (sink.StopRequested())
            break;
        // Message-IDs are read whole: two that differ only far in must not meet.
        table.GetField(mesidColumn, mesid);
        if (mesid.empty()) {
            table.MoveNext();
            continue;
        }
        ReadField(table, numColumn, kTreeNumBufferSize, num);
        ReadField(table, subColumn, kTreeSubBufferSize, sub);
        ReadField(table, readColumn, kTreeReadBufferSize, read);
        label.assign(num).append(1, ' ').append(sub);

        int parentId = 0;
        table.GetField(refColumn, ref);
        if (!ref.empty()) {
            const auto found = itemOf.find(WantedParent(ref));
            if (found != itemOf.end())
                parentId = found->second;
        }

        const int id = sink.InsertItem(parentId, label);
        ++inserted;
        sink.AppendIndexEntry(FormatIndexEntry(i, mesid, id));

        if (IsBracketedMessageId(mesid)) {
            // Every cache file name ends as the cache files' do: with none of them in the
            // directory, no name need be made.
            const bool cached = !files.empty() && files.count(CacheFileName(mesid)) != 0 &&
                                IsArticleCached(CacheFilePath(groupDir, mesid));
            if (id != 0) {
                if (!cached) {
                    sink.SetBold(id);
                    if (parentId != 0)
                        sink.Expand(parentId);
                }
                if (read.empty())
                    sink.SetIcon(id, kImageUnread, kImageUnreadSelected);
                else
                    sink.SetIcon(id, kImageRead, kImageReadSelected);
            }
        }
        if (id != 0) {
            // An entry whose identifier is 0 never counts as a parent.
            if (!itemOf.contains(mesid))
                itemOf.emplace(ids.Keep(mesid), id);
            if (parentId == 0 && firstTopLevel == 0)
                firstTopLevel = id;
        }
        table.MoveNext();
    }

    if (firstTopLevel != 0)
        sink.Expand(firstTopLevel);
    table.Close();
    return inserted;
}
