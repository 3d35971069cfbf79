#include "threads/HeaderThreads.h"

#include "app/SplitString.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"

#include <unordered_map>
#include <vector>

namespace {

// A field read the way a fixed buffer holds it: cut to size - 1 bytes, ending at a NUL byte,
// empty when the field is Null or the cursor is past the last record.
std::string ReadField(CDbTable& table, const char* field, std::size_t size) {
    std::string buffer(size, '\0');
    table.GetField(field, "", buffer.data(), static_cast<int>(size));
    return std::string(buffer.c_str());
}

} // namespace

std::string WantedParentId(const std::string& ref) {
    std::vector<std::string> parts;
    SplitString(ref, parts, kTreeRefParts, ' ');
    int k = 0;
    while (k + 1 < kTreeRefParts && !parts[k + 1].empty())
        ++k;
    return parts[k];
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

    for (int i = 0; i <= count; ++i) {
        sink.Step(i);
        const std::string mesid = ReadField(table, "MESID", kTreeMesidBufferSize);
        if (mesid.empty()) {
            table.MoveNext();
            continue;
        }
        const std::string num = ReadField(table, "NUM", kTreeNumBufferSize);
        const std::string sub = ReadField(table, "SUB", kTreeSubBufferSize);
        const std::string read = ReadField(table, "READ", kTreeReadBufferSize);
        const std::string label = num + " " + sub;

        int parentId = 0;
        const std::string ref = ReadField(table, "REF", kTreeRefBufferSize);
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
            const bool cached = IsArticleCached(CacheFilePath(groupDir, mesid));
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
