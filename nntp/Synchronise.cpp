#include "nntp/Synchronise.h"

#include "base/Progress.h"
#include "base/SplitString.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "store/CacheFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "threads/MessageIdIndex.h"
#include "viewer/ArticleFetch.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

namespace {

// NUM is read as a buffer of this size holds it.
constexpr std::size_t kNumBufferSize = 256;

// One article to fetch.
struct Wanted {
    int row;    // its entry in the index
    int itemId; // its header tree item
    std::string number;
    std::string cachePath;
};

struct RecordIds {
    std::string num;
    std::string mesid;
};

// NUM and MESID of every record, by position.
std::vector<RecordIds> ReadRecords(const std::string& groupDir) {
    std::vector<RecordIds> records;
    CDbTable table;
    if (!table.Open(kHeaderTable, HeaderDbPath(groupDir)))
        return records;
    const int count = std::max(0, table.GetRecordCount());
    records.resize(static_cast<std::size_t>(count));
    table.MoveTo(0);
    std::vector<char> num(kNumBufferSize);
    for (RecordIds& record : records) {
        table.GetField("NUM", "", num.data(), static_cast<int>(num.size()));
        record.num = num.data();
        table.GetField("MESID", "", record.mesid);
        table.MoveNext();
    }
    table.Close();
    return records;
}

// The entries whose articles are to be fetched, in index order.
std::vector<Wanted> PlanFetches(const std::vector<std::string>& entries,
                                const std::vector<RecordIds>& records,
                                const std::string& groupDir) {
    std::vector<Wanted> wanted;
    std::unordered_set<std::string> planned;
    for (int row = 0; row < static_cast<int>(entries.size()); ++row) {
        const std::optional<CIndexEntry> entry = ParseIndexEntry(entries[row]);
        if (!entry || entry->m_itemId == 0 || entry->m_messageId.find('>') == std::string::npos)
            continue;
        // The entry's own record, not the row'th: the index leaves out records without a
        // Message-ID, and a table changed since the index was made must not send one article
        // into another's cache file.
        const int index = entry->m_recordIndex;
        if (index < 0 || index >= static_cast<int>(records.size()) ||
            records[index].mesid != entry->m_messageId || records[index].num.empty())
            continue;
        std::string path = CacheFilePath(groupDir, entry->m_messageId);
        if (IsArticleCached(path) || !planned.insert(path).second)
            continue;
        wanted.push_back(Wanted{row, entry->m_itemId, records[index].num, std::move(path)});
    }
    return wanted;
}

// Takes the reply to the ARTICLE command sent for an article into its cache file, which holds
// the article afterwards only when it came whole (cached tells).
ArticleReply ReceiveArticle(CNntpSocket& socket, const std::string& cachePath, bool& cached) {
    cached = false;
    CCacheFile cache(cachePath);
    if (!cache.Open()) {
        // The reply still has to be taken, or it would be read as the next one.
        std::string line;
        while (socket.ReadLine(line)) {
        }
        return socket.LastReplyWhole() ? ArticleReply::Refused : ArticleReply::Cut;
    }
    const ArticleReply reply = ReadArticleToFile(socket, cache.File());
    if (reply == ArticleReply::Whole)
        cached = cache.Commit();
    return reply;
}

void AppendArticleCommand(std::string& commands, const std::string& number) {
    commands += "ARTICLE ";
    commands += number;
    commands += "\r\n";
}

// Fetches the wanted articles over the connection, whose group is selected. Returns how many
// are cached now; cut tells whether a reply was cut short, which ends the run with the
// connection.
int FetchArticles(CNntpSocket& socket, const std::vector<Wanted>& wanted, int depth,
                  IProgress& progress, ISyncView& view, bool& cut) {
    depth = std::max(1, depth);
    // Commands are sent in runs, topping up once a quarter of the window has been answered;
    // with a depth of 1 each command goes when the reply before it has been taken.
    const std::size_t refillBelow = static_cast<std::size_t>(depth - depth / 4);
    std::size_t nextToSend = 0;
    std::string commands;
    int fetched = 0;
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        progress.SetProgressPos(wanted[k].row);
        progress.PumpMessages();
        // Commands already sent are answered into nothing: the conversation ends with QUIT.
        if (progress.StopRequested())
            break;
        if (nextToSend - k < refillBelow) {
            const std::size_t until = std::min(wanted.size(), k + static_cast<std::size_t>(depth));
            commands.clear();
            for (; nextToSend < until; ++nextToSend)
                AppendArticleCommand(commands, wanted[nextToSend].number);
            socket.SendCommand(commands);
        }
        view.SelectItem(wanted[k].itemId);
        bool cached = false;
        const ArticleReply reply = ReceiveArticle(socket, wanted[k].cachePath, cached);
        if (cached)
            ++fetched;
        if (reply == ArticleReply::Cut) {
            cut = true;
            break;
        }
    }
    return fetched;
}

SyncResult RunSync(const SyncParams& params, const std::vector<std::string>& entries,
                   IProgress& progress, ISyncView& view) {
    const std::string groupDir = GroupDirectory(params.baseDir, params.server, params.group);
    const std::vector<Wanted> wanted = PlanFetches(entries, ReadRecords(groupDir), groupDir);
    SyncResult result;
    result.m_failed = static_cast<int>(wanted.size());
    if (wanted.empty())
        return result;

    CNntpSocket socket;
    std::string code;
    std::string message;
    switch (BeginConversation(socket, params.server, code, message)) {
    case NntpStart::Ready:
        break;
    case NntpStart::ConnectFailed:
        view.ShowMessage(ConnectFailureMessage(socket));
        socket.Cleanup();
        return result;
    case NntpStart::Refused:
    case NntpStart::Failed:
        view.ShowMessage(message);
        socket.Cleanup();
        return result;
    case NntpStart::Cut:
        view.ShowMessage(ReplyFailureMessage(socket));
        socket.Cleanup();
        return result;
    }
    socket.SendCommand("GROUP " + params.group + "\r\n");
    std::string reply;
    bool cut = socket.ReadResponse(reply) <= 0;
    std::vector<std::string> fields;
    SplitString(reply, fields, kGroupReplyFields, ' ');
    if (!cut && fields[0] == "211") {
        result.m_fetched = FetchArticles(socket, wanted, params.pipelineDepth, progress, view, cut);
        result.m_failed -= result.m_fetched;
    }
    if (cut)
        result.m_cutReason = ReplyFailureText(socket);
    EndConversation(socket);
    socket.Cleanup();
    return result;
}

} // namespace

std::string ArticlesNotFetchedStatus(int count) {
    return std::to_string(count) + " 件の記事を読み取れませんでした";
}

SyncResult SynchroniseArticles(const SyncParams& params, const std::vector<std::string>& entries,
                               IProgress& progress, ISyncView& view) {
    progress.SetStatusText(kReadingArticlesStatus);
    progress.SetProgressRange(0, static_cast<int>(entries.size()));
    SyncResult result;
    try {
        result = RunSync(params, entries, progress, view);
    } catch (...) {
        // Out of memory: what was cached stays cached; nothing else is known.
        result = SyncResult{};
    }
    progress.SetProgressPos(0);
    std::string status;
    if (result.m_failed > 0)
        status = ArticlesNotFetchedStatus(result.m_failed);
    if (!result.m_cutReason.empty())
        status += " : " + result.m_cutReason;
    progress.SetStatusText(status);
    return result;
}
