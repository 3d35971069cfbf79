#include "viewer/ArticleFetch.h"

#include "base/AsciiCase.h"

#include "base/SplitString.h"
#include "mime/Codec.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

constexpr std::string_view kArticleArrives = "220 ";
constexpr std::string_view kCrLf = "\r\n";
// Articles run to megabytes; larger writes keep the fetch from being bound by system calls.
constexpr std::size_t kCacheWriteBuffer = 64 * 1024;

// A field read as a fixed buffer of `size` bytes reads it: cut at size - 1 bytes and at a zero.
std::string ReadFieldCut(CDbTable& table, const std::string& field, std::size_t size) {
    std::string buffer(size, '\0');
    table.GetField(field, "", buffer.data(), static_cast<int>(size));
    return std::string(buffer.c_str());
}

void RemoveFile(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

} // namespace

std::optional<CArticleRecord> FindArticleRecord(CDbTable& table, const std::string& number) {
    const int count = table.GetRecordCount();
    table.MoveTo(0);
    for (int i = 0; i < count; ++i) {
        if (EqualsNoCase(ReadFieldCut(table, "NUM", kArticleLookUpBufferSize), number)) {
            std::string mesid = ReadFieldCut(table, "MESID", kArticleLookUpBufferSize);
            if (mesid.empty())
                return std::nullopt;
            return CArticleRecord{i, std::move(mesid)};
        }
        table.MoveNext();
    }
    return std::nullopt;
}

bool FetchArticleToFile(CNntpSocket& socket, std::FILE* file, const std::string& number) {
    socket.SendCommand("ARTICLE " + number + "\r\n");
    std::string line;
    if (!socket.ReadLine(line))
        return false;
    if (!line.starts_with(kArticleArrives)) {
        while (socket.ReadLine(line)) {
        }
        return false;
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
    return true;
}

CFetchResult FetchArticle(std::FILE* file, const std::string& number, const std::string& server,
                          const std::string& group) {
    CNntpSocket socket;
    std::string code;
    switch (BeginConversation(socket, server, code)) {
    case NntpStart::ConnectFailed: {
        CFetchResult result{0, ConnectFailureMessage(socket)};
        socket.Cleanup();
        return result;
    }
    case NntpStart::Refused:
        socket.Cleanup();
        return CFetchResult{0, ConnectionErrorMessage(code)};
    case NntpStart::Ready:
        break;
    }
    socket.SendCommand("GROUP " + group + "\r\n");
    std::string reply;
    socket.ReadResponse(reply);
    std::vector<std::string> fields;
    SplitString(reply, fields, kGroupReplyFields, ' ');
    if (fields[0] == "211")
        FetchArticleToFile(socket, file, number);
    EndConversation(socket);
    socket.Cleanup();
    return CFetchResult{1, {}};
}

CCacheResult CacheArticle(const std::string& cachePath, const std::string& number,
                          const std::string& server, const std::string& group) {
    if (IsArticleCached(cachePath))
        return CCacheResult{CacheState::Cached, {}};
    std::FILE* file = std::fopen(cachePath.c_str(), "wb");
    if (!file)
        return CCacheResult{CacheState::Failed, {}};
    std::setvbuf(file, nullptr, _IOFBF, kCacheWriteBuffer);
    CFetchResult fetch = FetchArticle(file, number, server, group);
    const bool written = !std::ferror(file);
    const bool closed = std::fclose(file) == 0;
    if (fetch.m_result == 0) {
        RemoveFile(cachePath);
        return CCacheResult{CacheState::Failed, std::move(fetch.m_message)};
    }
    // A file cut short by a full disk would pass for the whole article from now on.
    if (!written || !closed)
        RemoveFile(cachePath);
    return CCacheResult{IsArticleCached(cachePath) ? CacheState::Fetched : CacheState::NotArrived,
                        {}};
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

    const CCacheResult cache = CacheArticle(result.m_cachePath, number, server, group);
    if (cache.m_state == CacheState::Failed) {
        if (!cache.m_message.empty())
            display.ShowFetchError(cache.m_message);
        result.m_outcome = ArticleOutcome::FetchFailed;
        return result;
    }
    if (cache.m_state == CacheState::Fetched)
        display.ArticleFetched();

    std::vector<CPartEntry> entries;
    const int parsed = ParseArticle(result.m_cachePath, entries);
    display.ShowParts(parsed, entries);

    display.ArticleRead();
    MarkArticleRead(groupDir, number);
    result.m_outcome = ArticleOutcome::Shown;
    return result;
}
