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

// NUM is read into a buffer of this size when the article is marked read. NUM and MESID are read
// whole when the article is looked up: a Message-ID is never cut.
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

// The status line shown when an article could not be read completely, followed by " : " and
// the reason (ReplyFailureText).
inline constexpr char kArticleCutStatus[] = "記事を最後まで読み取れませんでした";
// The status line shown when an article has more parts than ParseArticle writes.
std::string TooManyPartsStatus();

// How an ARTICLE reply ended.
enum class ArticleReply {
    Whole,   // a "220" reply ran to its "." line: the file holds every line of the article
    Refused, // any other whole reply ("423", ...): nothing was written
    Cut,     // the reply ended early: what the file holds is not the article, and the
             // connection is dead (the socket's GetFailure says why)
};

// Reads one ARTICLE reply, whose command was sent before, into the file: every line the server
// hands out after a "220" status line is decoded (encoded words, ISO-2022-JP, then
// quoted-printable once declared) and written with CR LF. Any other reply is read to its end and
// nothing is written.
//
// Many articles can be fetched over one connection with pipelining: send several "ARTICLE n"
// commands ahead, then read their replies in order with one call each, each into its own
// CCacheFile (store/CacheFile.h), committing the file only for Whole. The first Cut ends the
// run: the replies after it cannot arrive.
ArticleReply ReadArticleToFile(CNntpSocket& socket, std::FILE* file);
// Sends "ARTICLE " + number + "\r\n", then ReadArticleToFile.
ArticleReply FetchArticleToFile(CNntpSocket& socket, std::FILE* file, const std::string& number);

struct CFetchResult {
    // 1 when a conversation came about, whether or not the article arrived; 0 when the
    // connection failed or no whole greeting "200" came.
    int m_result = 0;
    // The message box to show (UTF-8); empty when there is none.
    std::string m_message;
    // With m_result 1: how the reply to ARTICLE ended (Refused also when GROUP was refused, Cut
    // also when the GROUP reply was cut).
    ArticleReply m_reply = ArticleReply::Refused;
    // With Cut: why, in words (ReplyFailureText).
    std::string m_reason;
};

// Connects to server, selects group and fetches the article into the open file, then ends the
// conversation with QUIT and EXIT.
CFetchResult FetchArticle(std::FILE* file, const std::string& number, const std::string& server,
                          const std::string& group);

enum class CacheState {
    Cached,     // the cache file held the article already; nothing was fetched
    Fetched,    // fetched now, and the cache file holds it
    NotArrived, // the server was asked but sent no article (no cache file remains)
    Cut,        // the article did not arrive whole (no cache file remains)
    Failed,     // no conversation came about, or the cache file could not be created
};

struct CCacheResult {
    CacheState m_state = CacheState::Failed;
    std::string m_message; // with Failed: the message box to show, if any; with Cut: the status
                           // line to show
};

// Makes sure the cache file at cachePath holds the article, fetching it when the file is absent
// or empty. The article is written to a temporary file and becomes the cache file only when it
// arrived whole and was written without error (CCacheFile): an empty file, a cut article or a
// failed write never leaves a cache file behind.
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
    // The status line shows this text (UTF-8); empty clears it.
    virtual void ShowStatus(const std::string& /*utf8*/) {}
};

enum class ArticleOutcome {
    NotFound,    // no record, or no Message-ID: nothing fetched or shown
    FetchFailed, // the fetch could not begin; the article is not marked read
    Cut,         // the article did not arrive whole: the status line says so, the part list is
                 // emptied, nothing is cached and the article is not marked read, so the next
                 // selection asks the server again
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
// its current server and group while the fetch waits for the server. The status line is emptied
// when the article is looked up, and tells of a cut article or of parts left out
// (TooManyPartsStatus).
CArticleReadResult ReadArticle(std::string baseDir, std::string server, std::string group,
                               std::string number, IArticleDisplay& display);
