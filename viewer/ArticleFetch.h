#pragma once

#include "mime/ArticleParser.h"

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class CDbTable;
class CNntpSocket;

// Getting a selected article into its cache file and onto the screen: the record lookup by
// article number, the cache decision, the GROUP / ARTICLE conversation that decodes every line
// on its way into the cache, and the READ mark. What the window shows goes through
// IArticleDisplay; nothing here touches a widget.

// NUM and MESID are read into buffers of this size when the article is looked up (so a value is
// cut at 4,095 bytes), and NUM into one of kReadMarkNumBufferSize when it is marked read.
inline constexpr std::size_t kArticleLookUpBufferSize = 4096;
inline constexpr std::size_t kReadMarkNumBufferSize = 80;
// The GROUP reply is split into at most this many fields.
inline constexpr int kGroupReplyFields = 20;
// From the line after one beginning with this (in any letter case), every line of the article
// is quoted-printable decoded.
inline constexpr char kQuotedPrintableDeclaration[] = "Content-Transfer-Encoding: quoted-printable";

// The record of an article: its position in the table "Header" and its Message-ID.
struct CArticleRecord {
    int m_index = -1;
    std::string m_messageId;
};

// The first record of the open table whose NUM equals number without regard to letter case;
// nothing when no record carries the number or that record's MESID is empty.
std::optional<CArticleRecord> FindArticleRecord(CDbTable& table, const std::string& number);

// One ARTICLE exchange on a connection whose group is selected: every line the server hands out
// after a "220 " status line is decoded (encoded words, ISO-2022-JP, then quoted-printable once
// declared) and written to the file with CR LF; any other reply is read to its end and nothing
// is written. True when the reply was "220 ".
bool FetchArticleToFile(CNntpSocket& socket, std::FILE* file, const std::string& number);

struct CFetchResult {
    // 1 when a conversation came about, whether or not the article arrived; 0 when the
    // connection failed or the greeting was not "200".
    int m_result = 0;
    // The message box to show (UTF-8); empty when there is none.
    std::string m_message;
};

// Connects to server, selects group and fetches the article into the open file, then ends the
// conversation with QUIT and EXIT.
CFetchResult FetchArticle(std::FILE* file, const std::string& number, const std::string& server,
                          const std::string& group);

enum class CacheState {
    Cached,     // the cache file held the article already; nothing was fetched
    Fetched,    // fetched now, and the cache file holds it
    NotArrived, // the server was asked but sent no article (no cache file remains)
    Failed,     // no conversation came about, or the cache file could not be created
};

struct CCacheResult {
    CacheState m_state = CacheState::Failed;
    std::string m_message; // with Failed: the message box to show, if any
};

// Makes sure the cache file at cachePath holds the article, fetching it when the file is absent
// or empty. An empty file is never left behind, nor one whose writing failed.
CCacheResult CacheArticle(const std::string& cachePath, const std::string& number,
                          const std::string& server, const std::string& group);

// Sets READ to "YES" in the first record of the group's table whose NUM is not empty and equals
// number exactly (NUM read as kReadMarkNumBufferSize allows). 1 when a record was marked.
int MarkArticleRead(const std::string& groupDir, const std::string& number);

// What the main window does while an article is being shown.
class IArticleDisplay {
public:
    virtual ~IArticleDisplay() = default;
    // The fetch could not begin: show this message box (UTF-8).
    virtual void ShowFetchError(const std::string& message) = 0;
    // The article has just been fetched into the cache: its tree item loses its bold state and
    // gets images 2 and 3, and the tree is repainted.
    virtual void ArticleFetched() = 0;
    // The cache file was cut into parts: fill the part list (sorted), choose the entry to show
    // by the parser's result and show it. An empty list shows nothing.
    virtual void ShowParts(int parseResult, const std::vector<CPartEntry>& entries) = 0;
    // The article is being marked read: images 2 and 3 for its tree item.
    virtual void ArticleRead() = 0;
};

enum class ArticleOutcome {
    NotFound,    // no record, or no Message-ID: nothing fetched or shown
    FetchFailed, // the fetch could not begin; the article is not marked read
    Shown,       // the parts were handed to the display and the article marked read
};

struct CArticleReadResult {
    ArticleOutcome m_outcome = ArticleOutcome::NotFound;
    int m_recordIndex = -1; // position of the article's record in the table, when found
    std::string m_cachePath;
};

// The whole showing of the article numbered number of the group: finds its record, fetches it
// into the cache when needed, cuts it into parts for the display and marks it read (also when
// the server had no such article). Works on its own copies of the names: the window may change
// its current server and group while the fetch waits for the server.
CArticleReadResult ReadArticle(std::string baseDir, std::string server, std::string group,
                               std::string number, IArticleDisplay& display);
