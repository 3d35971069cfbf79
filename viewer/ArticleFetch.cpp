#include "viewer/ArticleFetch.h"

#include "base/AsciiCase.h"

#include "mime/Codec.h"
#include "nntp/NntpAuth.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "store/CacheFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"

#include <string_view>

namespace {

constexpr std::string_view kArticleArrives = "220";
constexpr std::string_view kCrLf = "\r\n";

// A field read as a fixed buffer of `size` bytes reads it: cut at size - 1 bytes and at a zero.
std::string ReadFieldCut(CDbTable& table, const std::string& field, std::size_t size) {
    std::string buffer(size, '\0');
    table.GetField(field, "", buffer.data(), static_cast<int>(size));
    return std::string(buffer.c_str());
}

} // namespace

std::string TooManyPartsStatus() {
    return "パートが多すぎるため、最初の " + std::to_string(kMaxPartFiles) + " 個だけを表示します";
}

std::optional<CArticleRecord> FindArticleRecord(CDbTable& table, const std::string& number) {
    const int count = table.GetRecordCount();
    table.MoveTo(0);
    std::string num;
    for (int i = 0; i < count; ++i) {
        table.GetField("NUM", "", num);
        if (EqualsNoCase(num, number)) {
            std::string mesid;
            table.GetField("MESID", "", mesid);
            if (mesid.empty())
                return std::nullopt;
            return CArticleRecord{i, std::move(mesid)};
        }
        table.MoveNext();
    }
    return std::nullopt;
}

ArticleReply ReadArticleToFile(CNntpSocket& socket, std::FILE* file) {
    std::string line;
    if (!socket.ReadLine(line))
        return ArticleReply::Cut;
    std::string code;
    std::string rest;
    CNntpSocket::SplitStatus(line, code, rest);
    if (code != kArticleArrives) {
        while (socket.ReadLine(line)) {
        }
        return socket.LastReplyWhole() ? ArticleReply::Refused : ArticleReply::Cut;
    }
    bool quotedPrintable = false;
    while (socket.ReadLine(line)) {
        std::string decoded = JisToSjis(DecodeHeaderText(line));
        if (quotedPrintable)
            decoded = DecodeQuoted(decoded);
        // The declaring line itself is stored as it came.
        if (StartsWithNoCase(decoded, kQuotedPrintableDeclaration))
            quotedPrintable = true;
        decoded += kCrLf;
        std::fwrite(decoded.data(), 1, decoded.size(), file);
    }
    return socket.LastReplyWhole() ? ArticleReply::Whole : ArticleReply::Cut;
}

ArticleReply FetchArticleToFile(CNntpSocket& socket, std::FILE* file, const std::string& number) {
    socket.SendCommand("ARTICLE " + number + "\r\n");
    return ReadArticleToFile(socket, file);
}

CFetchResult FetchArticle(std::FILE* file, const std::string& number, const std::string& server,
                          const std::string& group) {
    CNntpSocket socket;
    std::string code;
    std::string message;
    switch (BeginConversation(socket, server, code, message)) {
    case NntpStart::ConnectFailed: {
        CFetchResult result{0, ConnectFailureMessage(socket), ArticleReply::Refused, {}};
        socket.Cleanup();
        return result;
    }
    case NntpStart::Refused:
    case NntpStart::Failed:
        socket.Cleanup();
        return CFetchResult{0, message, ArticleReply::Refused, {}};
    case NntpStart::Cut: {
        CFetchResult result{0, ReplyFailureMessage(socket), ArticleReply::Refused, {}};
        socket.Cleanup();
        return result;
    }
    case NntpStart::Ready:
        break;
    }
    CFetchResult result{1, {}, ArticleReply::Refused, {}};
    socket.SendCommand("GROUP " + group + "\r\n");
    std::string reply;
    if (socket.ReadResponse(reply) <= 0) {
        result.m_reply = ArticleReply::Cut;
    } else {
        std::string code;
        std::string rest;
        CNntpSocket::SplitStatus(reply, code, rest);
        if (code == "211") {
            result.m_reply = FetchArticleToFile(socket, file, number);
        } else if (std::string access = AccessReplyMessage(reply); !access.empty()) {
            // Refused until the user logs in or encrypts: say so rather than show nothing.
            result.m_result = 0;
            result.m_message = std::move(access);
        }
    }
    if (result.m_reply == ArticleReply::Cut)
        result.m_reason = ReplyFailureText(socket);
    EndConversation(socket);
    socket.Cleanup();
    return result;
}

CCacheResult CacheArticle(const std::string& cachePath, const std::string& number,
                          const std::string& server, const std::string& group) {
    if (IsArticleCached(cachePath))
        return CCacheResult{CacheState::Cached, {}};
    CCacheFile cache(cachePath);
    if (!cache.Open())
        return CCacheResult{CacheState::Failed, {}};
    CFetchResult fetch = FetchArticle(cache.File(), number, server, group);
    if (fetch.m_result == 0)
        return CCacheResult{CacheState::Failed, std::move(fetch.m_message)};
    if (fetch.m_reply == ArticleReply::Cut)
        return CCacheResult{CacheState::Cut,
                            std::string(kArticleCutStatus) + " : " + fetch.m_reason};
    // An empty article, or one cut short by a full disk, is not kept.
    if (fetch.m_reply == ArticleReply::Whole && cache.Commit())
        return CCacheResult{CacheState::Fetched, {}};
    return CCacheResult{CacheState::NotArrived, {}};
}

int MarkArticleRead(const std::string& groupDir, const std::string& number) {
    CDbTable table;
    if (!table.Open(kHeaderTable, HeaderDbPath(groupDir)))
        return 0;
    const int count = table.GetRecordCount();
    table.MoveTo(0);
    int marked = 0;
    for (int i = 0; i < count; ++i) {
        const std::string num = ReadFieldCut(table, "NUM", kReadMarkNumBufferSize);
        if (!num.empty() && num == number) {
            marked = table.Edit() && table.SetField("READ", "YES") && table.Update() ? 1 : 0;
            break;
        }
        table.MoveNext();
    }
    table.Close();
    return marked;
}

CArticleReadResult ReadArticle(std::string baseDir, std::string server, std::string group,
                               std::string number, IArticleDisplay& display) {
    CArticleReadResult result;
    const std::string groupDir = GroupDirectory(baseDir, server, group);
    // Held open while the article is shown, as the selection handler holds it.
    CDbTable table;
    table.Open(kHeaderTable, HeaderDbPath(groupDir));
    const std::optional<CArticleRecord> record = FindArticleRecord(table, number);
    if (!record)
        return result;
    result.m_recordIndex = record->m_index;
    result.m_cachePath = CacheFilePath(groupDir, record->m_messageId);

    display.ShowStatus({});
    const CCacheResult cache = CacheArticle(result.m_cachePath, number, server, group);
    if (cache.m_state == CacheState::Failed) {
        if (!cache.m_message.empty())
            display.ShowFetchError(cache.m_message);
        result.m_outcome = ArticleOutcome::FetchFailed;
        return result;
    }
    if (cache.m_state == CacheState::Cut) {
        display.ShowStatus(cache.m_message);
        display.ShowParts(1, {});
        result.m_outcome = ArticleOutcome::Cut;
        return result;
    }
    if (cache.m_state == CacheState::Fetched)
        display.ArticleFetched();

    std::vector<CPartEntry> entries;
    bool partsLeftOut = false;
    const int parsed = ParseArticle(result.m_cachePath, entries, &partsLeftOut);
    display.ShowParts(parsed, entries);
    if (partsLeftOut)
        display.ShowStatus(TooManyPartsStatus());

    display.ArticleRead();
    MarkArticleRead(groupDir, number);
    result.m_outcome = ArticleOutcome::Shown;
    return result;
}
