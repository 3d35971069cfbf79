#include "threads/HeaderThreads.h"

#include "store/DbTable.h"
#include "store/HeaderStore.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// A field read the way a fixed buffer holds it: cut to size - 1 bytes, ending at a NUL byte,
// empty when the field is Null or the cursor is past the last record.
std::string ReadField(CDbTable& table, const char* field, std::size_t size) {
    std::string value;
    table.GetField(field, "", value);
    value.resize(std::min({value.size(), value.find('\0'), size - 1}));
    return value;
}

// Names of the cache files in the group directory, read once, so that the many articles that
// were never fetched cost no file-system query of their own.
std::unordered_set<std::string> CacheFilesIn(const std::string& dir) {
    std::unordered_set<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.ends_with(kCacheFileSuffix))
            names.insert(std::move(name));
    }
    return names;
}

} // namespace

std::string WantedParentId(const std::string& ref) {
    // What SplitString(ref, parts, kTreeRefParts, ' ') followed by taking part k gives, found
    // without building the parts (this runs once per header of a fill), and over the whole REF:
    // a Message-ID is never cut.
    const std::string_view text = ref;
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
    return std::string(wanted);
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
    std::unordered_map<std::string, int> itemOf;
    itemOf.reserve(static_cast<std::size_t>(count));
    int inserted = 0;
    int firstTopLevel = 0;
    const std::unordered_set<std::string> files = CacheFilesIn(groupDir);

    for (int i = 0; i <= count; ++i) {
        sink.Step(i);
        if (sink.StopRequested())
            break;
        // Message-IDs are read whole: two that differ only far in must not meet.
        std::string mesid;
        table.GetField("MESID", "", mesid);
        if (mesid.empty()) {
            table.MoveNext();
            continue;
        }
        const std::string num = ReadField(table, "NUM", kTreeNumBufferSize);
        const std::string sub = ReadField(table, "SUB", kTreeSubBufferSize);
        const std::string read = ReadField(table, "READ", kTreeReadBufferSize);
        const std::string label = num + " " + sub;

        int parentId = 0;
        std::string ref;
        table.GetField("REF", "", ref);
        if (!ref.empty()) {
            const auto found = itemOf.find(WantedParentId(ref));
            if (found != itemOf.end())
                parentId = found->second;
        }

        const int id = sink.InsertItem(parentId, label);
        ++inserted;
        sink.AppendIndexEntry(FormatIndexEntry(i, mesid, id));
        if (id != 0) {
            // An entry whose identifier is 0 never counts as a parent.
            itemOf.try_emplace(mesid, id);
            if (parentId == 0 && firstTopLevel == 0)
                firstTopLevel = id;
        }

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
        table.MoveNext();
    }

    if (firstTopLevel != 0)
        sink.Expand(firstTopLevel);
    table.Close();
    return inserted;
}
