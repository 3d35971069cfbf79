#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class IProgress;

// The update of a group's header store from its news server: GROUP for the article range, HEAD
// for every article in it, six header fields decoded to Shift_JIS and stored as one record per
// Message-ID in the group's table "Header", the range counters in header.ini, and each poster
// recorded in the address book.

// References is kept to this many bytes by dropping Message-IDs from its front, so its last one,
// the parent, always stays.
inline constexpr std::size_t kReferencesMax = 8191;
// Every other header value is kept to this many bytes, cut at a character boundary.
inline constexpr std::size_t kHeaderValueMax = 64 * 1024;
// Only this much of the From value is split into the poster's name and address.
inline constexpr std::size_t kPosterFromMax = 1023;
// The GROUP reply and each HEAD status line are split at blanks into at most this many parts.
inline constexpr int kReplyParts = 20;

// HEAD commands kept in flight: enough to cover a round trip of tens of milliseconds.
inline constexpr int kHeadPipelineDepth = 800;
// Received headers are written in one transaction (and "LASTHEADER" after it) once this many
// wait, or once the oldest of them is kHeaderCommitMs old, whichever comes first.
inline constexpr int kHeaderCommitBatch = 5000;
inline constexpr int kHeaderCommitMs = 500;

inline constexpr char kReadingHeadersStatus[] = "ヘッダー読み取り中";
// "ヘッダー読み取り中 : %d / %d " with the article being read and the last one.
std::string ReadingHeaderStatus(int n, int last);

// The six header fields the store keeps, as Shift_JIS.
struct HeaderFields {
    std::string from;
    std::string subject;
    std::string date;
    std::string contentType;
    std::string references; // at most kReferencesMax bytes, unless it is one Message-ID

    std::string messageId;
};

// Collects the fields from the lines of one HEAD reply. Each line is decoded (encoded words,
// then ISO-2022-JP to Shift_JIS) before it is looked at. A line beginning with "Content-Type:",
// "Message-ID:", "References:", "Subject:", "From:" or "Date:" (any letter case) sets that
// field to the text after the name and the one character after it. A line beginning with a TAB
// or a blank continues the field set last, as RFC 5322 folds: the fold, with the blanks and TABs
// around it, becomes one blank, except between an encoded word that ends one line and an
// encoded word that starts the next, which join with nothing between (RFC 2047), and at the
// start of a value (a field folded right after its name). Any other line
// ends the field and is otherwise ignored.
//
// A value is kept to kHeaderValueMax bytes, cut at a character boundary; what comes after the
// cut is dropped. References keeps its end instead: Message-IDs are dropped from its front while
// it is longer than kReferencesMax bytes and holds more than one (a single longer one is kept to
// kHeaderValueMax bytes from its end).
class CHeaderFieldReader {
public:
    // Empties the six values; no field is open.
    void Begin();
    // One line of the reply as received, without its line end.
    void AddLine(std::string_view line);
    const HeaderFields& Fields() const { return m_fields; }

private:
    enum class Field { None, From, Subject, Date, References, MessageId, ContentType };
    std::string& ValueOf(Field field);
    void Append(Field field, std::string_view text);

    HeaderFields m_fields;
    Field m_state = Field::None;
    // The line that gave the open field its last text ended with an encoded word.
    bool m_endsWithWord = false;
};

// REF of a record: the last Message-ID of the References value, the text after its last blank
// or TAB once blanks and TABs at its end are dropped, or all of it.
std::string LastReference(std::string_view references);

struct Poster {
    std::string name;
    std::string address;
};
// Splits a From value into the poster's name and address: "Name <address>" and
// "\"Name\" <address>" give the name and the bare address, "address (Name)" the address and
// "(Name)", "<address> Name" the address and the name, and a value without a blank loses one
// leading "<" and one trailing ">" and is both name and address.
Poster SplitPoster(std::string_view from);

// What the window does for the download besides the status line and the progress bar.
class IHeaderDownloadView {
public:
    virtual ~IHeaderDownloadView() = default;
    // The header tree loses its items; called once, before the server is connected.
    virtual void ClearHeaderTree() {}
    // A message box (OK button) with this text (UTF-8); the download waits for it.
    virtual void ShowMessage(const std::string& utf8) = 0;
};

struct HeaderDownloadParams {
    std::string server;      // host name, also the address book's server
    std::string group;       // empty: nothing is done
    std::string baseDir;     // the group directory beneath it must exist
    std::string mainDbPath;  // quillo.mdb, for the address book
    bool latestOnly = false; // "最新情報のみ": continue from the last header stored
    // Tuning; the results are the same for any values of 1 and more.
    int pipelineDepth = kHeadPipelineDepth;
    int commitBatch = kHeaderCommitBatch;
};

// Runs the update of the group's header store. Status line, progress and the window's pump go
// through progress; messages and the tree through view. On every path that got past the empty
// group check, it ends with the progress bar at 0..1, position 0, and an empty status line. The
// window holds its busy state around the call and refills the header tree from the store
// afterwards (also after a failure). Once progress.StopRequested(), no further header is asked
// for: what arrived is stored and the conversation ends with QUIT.
//
// No database is left in a write transaction while events are handled. A header the store
// refused is not counted, and "LASTHEADER" stays below it.
//
// A reply that is cut (the connection closed, failed or timed out, or a line passed its bound)
// ends the download at once: nothing of that reply is stored, "LASTHEADER" names the last whole
// article stored, and the message of ReplyFailureMessage is shown once the conversation ended.
//
// Returns the number of headers stored (0 as well when GROUP was refused), or -1 when the
// conversation could not begin (the message was shown).
int DownloadHeaders(const HeaderDownloadParams& params, IProgress& progress,
                    IHeaderDownloadView& view);
