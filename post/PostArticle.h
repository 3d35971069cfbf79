#pragma once

#include "post/ArticleAssembly.h"

#include <string>

class IProgress;

// The posting conversation: connect, POST, the article, ".", QUIT and EXIT.

inline constexpr char kNoSubjectMessage[] = "この記事の項目名を指定してください";
inline constexpr char kConnectingStatus[] = "現在接続中";
inline constexpr char kPreparingStatus[] = "現在送信準備中";

// What the compose window shows besides its status line while posting.
class IPostView {
public:
    virtual ~IPostView() = default;
    // A message box (OK button) with one of the program's messages (UTF-8).
    virtual void ShowMessage(const std::string& utf8) = 0;
    // A message box (OK button) with a reply of the server exactly as received, line end
    // included (bytes, shown as Shift_JIS).
    virtual void ShowReply(const std::string& bytes) = 0;
};

enum class PostOutcome {
    Posted,        // the server answered "240" to the article
    NoSubject,     // nothing was sent; the subject field wants the focus
    ConnectFailed, // "ソケット接続エラーが発生しました"
    Refused,       // the greeting was not "200", or TLS or the login failed; nothing of the
                   // article was sent
    PostRefused,   // POST was not answered "340"; no article line was sent
    NotAccepted,   // the article was sent but not answered "240"
};

// Posts the article to input.server, reached as every conversation is (BeginConversation). The
// boundary and the Date line come from PostClock(), read once. Every failure shows its message
// through view; the status line goes through progress (each stage's text, empty at the end once a
// connection was tried), and progress.PumpMessages runs between stages.
PostOutcome PostArticle(const CPostInput& input, IProgress& progress, IPostView& view);
