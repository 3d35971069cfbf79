#pragma once

#include <string>
#include <vector>

class IProgress;

// Synchronisation of a group's article cache: after the header update, every article of the
// message-ID index that is not cached yet is fetched over one connection into its cache file.
// ARTICLE commands run ahead of their replies; each reply is still taken in order and handled as
// if its command had just been sent, so any depth gives what one request at a time gives.

// ARTICLE commands kept in flight: enough to cover a round trip of tens of milliseconds.
inline constexpr int kArticlePipelineDepth = 256;

inline constexpr char kReadingArticlesStatus[] = "現在記事を読み取り中";
// "%d 件の記事を読み取れませんでした": the status line after a synchronisation in which articles
// could not be fetched.
std::string ArticlesNotFetchedStatus(int count);

// What the window does for the synchronisation besides the status line and the progress bar.
class ISyncView {
public:
    virtual ~ISyncView() = default;
    // The article of this header tree item is being fetched: the tree selects it.
    virtual void SelectItem(int itemId) = 0;
    // A message box (OK button) with this text (UTF-8); the synchronisation waits for it.
    virtual void ShowMessage(const std::string& utf8) = 0;
};

struct SyncParams {
    std::string server;
    std::string group;
    std::string baseDir; // the group directory beneath it holds header.mdb and the cache
    // Tuning; the results are the same for any value of 1 and more.
    int pipelineDepth = kArticlePipelineDepth;
};

struct SyncResult {
    int m_fetched = 0; // articles cached by this run
    int m_failed = 0;  // articles wanted but not cached: refused, cut short or not written
    // Why the connection died, when a reply was cut short (ReplyFailureText); the articles after
    // it were not fetched.
    std::string m_cutReason;
};

// Fetches the uncached articles of the index entries ("%d %s ,%d", as the header tree fill made
// them). Each entry is paired with its own record of the table "Header" through the record index
// it carries, and taken only while that record still holds the entry's Message-ID; its NUM is
// the article number asked for. Entries without a tree item, without a ">" in the Message-ID,
// with an empty NUM, already cached (a non-empty cache file) or naming a cache file met before
// are passed over and cost no traffic; with nothing left to fetch no connection is made.
// Connection and greeting failures are shown through view. A stop request ends the fetching
// before the next article (what is cached stays) and the conversation properly. Sets the status
// line to kReadingArticlesStatus, runs the progress bar over the entries, and ends with the
// position at 0 and the status line empty, or ArticlesNotFetchedStatus when articles failed,
// followed by " : " and the reason when a reply was cut short. An article is cached only when
// its reply came whole (written under a temporary name, then renamed); the first cut reply ends
// the fetching, as the connection is dead.
SyncResult SynchroniseArticles(const SyncParams& params, const std::vector<std::string>& entries,
                               IProgress& progress, ISyncView& view);
