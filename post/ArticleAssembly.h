#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The bytes of a posted article: header lines, MIME part headers and body lines on the wire.
// Text comes in as Shift_JIS and leaves as 7-bit ISO-2022-JP.

inline constexpr char kNewsreaderLine[] = "X-Newsreader: Quillo2000 1.01.0910";

// What an article is made of, as the compose window and the user settings give it.
struct CPostInput {
    std::string server;     // host to connect to, and the Path value
    std::string newsgroups; // sent unchanged
    std::string subject;
    std::string body;       // CR LF line breaks; HTML source in HTML mode
    bool html = false;      // multipart/alternative with a plain and an HTML part
    std::string references; // empty for a new article; sent unencoded
    std::string name;       // NAME
    std::string email;      // EMAIL
    std::string signature;  // SIG decoded, CR LF line breaks
};

// "----=_QUILLOMB_0101_0911_" + the tick counter as eight lower-case hex digits + "." + the
// seconds, minutes and hours of local, two digits each (seconds first).
std::string MakeBoundary(std::uint32_t tick, const std::tm& local);

// "Date: Wed, 08 Dec 1999 14:05:09 +0900": English names whatever the locale, and the zone's
// real offset from UTC (tm_gmtoff) as +hhmm or -hhmm.
std::string DateLine(const std::tm& local);

// Header lines 1 to 9 (and References when there are references), without line ends, in the
// order they are sent: the content type, the transfer encoding, Date, From, Newsgroups,
// MIME-Version, Path, Subject, X-Newsreader. Half-width katakana become full-width and the
// content type, Date, From, Newsgroups, Path and Subject lines pass EncodeHeaderText; a CR or
// LF in a value becomes a blank, so no value can start a header line of its own.
std::vector<std::string> BuildHeaderLines(const CPostInput& input, const std::string& boundary,
                                          const std::tm& local);

// The five lines (with CR LF) that open the text/plain or the text/html part.
std::string PartHeader(const std::string& boundary, bool html);

// One body or signature line as sent, CR LF included: ISO-2022-JP, in the HTML part without any
// "</BODY>" and "</HTML>" (any letter case) outside the two-byte runs, then dot-stuffed, then
// "<BR>" after a signature line of the HTML part.
enum class WireLineKind { Plain, HtmlBody, HtmlSignature };
std::string WireLine(std::string_view sjisLine, WireLineKind kind);

// Status texts of the stages of sending.
inline constexpr char kSendingHeaderStatus[] = "現在ヘッダー送信中";
inline constexpr char kSendingPlainStatus[] = "現在記事送信中(Plain/Text)";
inline constexpr char kSendingHtmlStatus[] = "現在記事送信中(Plain/Html)";
inline constexpr char kSendingSignatureStatus[] = "現在シグニチャー送信中";
inline constexpr char kFinishingStatus[] = "現在送信終了中．．．";

// A stretch of the article sent under one status text.
struct CArticleStage {
    const char* status; // UTF-8
    std::string bytes;
};

// The whole article after the server's 340, "." line included, in the stages it is sent in:
// the header lines and the empty line (and, in HTML mode, the plain part's header); the body
// lines; the signature lines and one empty line (and, in HTML mode, the HTML part's header);
// in HTML mode also the HTML body lines, then the signature lines with "<BR>", "</BODY></HTML>",
// an empty line and the closing boundary; and ".". The body and signature have their half-width
// katakana made full-width; in HTML mode the plain part is StripHtmlTags of the body.
std::vector<CArticleStage> ArticleStages(const CPostInput& input, const std::string& boundary,
                                         const std::tm& local);
