#include "nntp/HeaderDownload.h"
#include "nntp/HeaderBatches.h"

#include "base/AsciiCase.h"

#include "base/Progress.h"
#include "base/SplitString.h"
#include "mime/Codec.h"
#include "nntp/NntpAuth.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "nntp/OverviewFetch.h"
#include "store/AddressBook.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool g_overviewAllowed = true;

// A number as the C library reads one ("3\r\n" is 3, no digits is 0), kept within an int.
int ToInt(const std::string& text) {
    const long long number = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(number, INT_MIN, INT_MAX));
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::string_view LeadingBlanksRemoved(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return text;
}

std::string_view StripOnce(std::string_view text, char open, char close) {
    if (!text.empty() && text.front() == open)
        text.remove_prefix(1);
    if (!text.empty() && text.back() == close)
        text.remove_suffix(1);
    return text;
}

// Whether a header line holds "=", ESC or a zero byte, the only bytes the decoders act on;
// memchr scans a line many bytes at a time.
bool NeedsDecoding(std::string_view line) {
    // An empty view may have no data at all, which memchr must not be given.
    return !line.empty() && (std::memchr(line.data(), '=', line.size()) ||
                             std::memchr(line.data(), '\x1b', line.size()) ||
                             std::memchr(line.data(), '\0', line.size()));
}

bool IsFoldBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view WithoutLeadingFoldBlanks(std::string_view text) {
    while (!text.empty() && IsFoldBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view WithoutTrailingFoldBlanks(std::string_view text) {
    while (!text.empty() && IsFoldBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The openings of the encoded words that DecodeHeaderText decodes; only between two of those
// does a fold vanish.
constexpr std::string_view kWordOpenings[] = {"=?ISO-2022-JP?Q?", "=?ISO-2022-JP?B?",
                                              "=?iso-8859-1?Q?",  "=?iso-8859-1?B?",
                                              "=?us-ascii?Q?",    "=?us-ascii?B?"};

std::size_t WordOpeningAt(std::string_view text, std::size_t pos) {
    for (std::string_view opening : kWordOpenings) {
        if (StartsWithNoCase(text.substr(pos), opening))
            return opening.size();
    }
    return 0;
}

bool StartsWithEncodedWord(std::string_view text) {
    return WordOpeningAt(text, 0) != 0;
}

// The text ends with "?=" closing a word whose opening is the last "=?" before it, with no "?"
// in between.
bool EndsWithEncodedWord(std::string_view text) {
    if (text.size() < 2 || text.substr(text.size() - 2) != "?=")
        return false;
    for (std::size_t pos = text.rfind("=?", text.size() - 2); pos != std::string_view::npos;
         pos = pos == 0 ? std::string_view::npos : text.rfind("=?", pos - 1)) {
        const std::size_t opening = WordOpeningAt(text, pos);
        if (opening == 0)
            continue;
        const std::size_t wordEnd = text.size() - 2;
        return pos + opening <= wordEnd &&
               text.substr(pos + opening, wordEnd - pos - opening).find('?') ==
                   std::string_view::npos;
    }
    return false;
}

// How much of text fits in room bytes without splitting a double-byte character; text starts
// at a character boundary.
std::size_t FitCharacters(std::string_view text, std::size_t room) {
    if (text.size() <= room)
        return text.size();
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t step = IsSjisLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + step > room)
            break;
        i += step;
    }
    return i;
}

// Drops Message-IDs from the front of a References value until it fits, keeping at least one.
void KeepReferencesEnd(std::string& references) {
    if (references.size() <= kReferencesMax)
        return;
    const std::size_t blank =
        references.find_first_of(" \t", references.size() - kReferencesMax - 1);
    if (blank != std::string::npos) {
        references.erase(0, blank + 1);
        return;
    }
    // One Message-ID longer than the limit: kept like any other value, from its end.
    const std::size_t lastBlank = references.find_last_of(" \t");
    if (lastBlank != std::string::npos)
        references.erase(0, lastBlank + 1);
    if (references.size() > kHeaderValueMax)
        references.erase(0, references.size() - kHeaderValueMax);
}

void AppendHeadCommand(std::string& commands, long long n) {
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "HEAD %lld\r\n", n);
    commands.append(buffer, static_cast<std::size_t>(length));
}

// Requests and stores the headers of first to last. HEAD commands run ahead of the replies by
// up to the pipeline depth; each reply is still taken in order and handled as if its command
// had just been sent.
int FetchHeaders(CNntpSocket& socket, const HeaderDownloadParams& params,
                 const std::string& groupDir, int first, int last, IProgress& progress, bool& cut) {
    const long long depth = std::max(1, params.pipelineDepth);
    // Commands are sent in runs, topping up once a quarter of the window has been answered.
    const long long refillBelow = depth - depth / 4;
    const int batch = std::max(1, params.commitBatch);
    const auto commitAge = std::chrono::milliseconds(kHeaderCommitMs);

    // Quick acknowledgements only help when one reply is awaited at a time.
    socket.SetQuickAck(depth == 1);
    CHeaderBatches batches(params, groupDir);
    // A hostile range reserves no more than a real group needs.
    batches.Reserve(static_cast<std::size_t>(std::clamp(1LL + last - first, 0LL, 1LL << 20)));
    CHeaderFieldReader reader;
    std::string line;
    std::string commands;
    std::vector<std::string> parts;
    long long nextToSend = first;

    for (long long n = first; n <= last; ++n) {
        const int number = static_cast<int>(n);
        progress.SetStatusText(ReadingHeaderStatus(number, last));
        progress.PumpMessages();
        if (progress.StopRequested())
            break;
        progress.SetProgressPos(number);
        if (batches.OldestAge() >= commitAge)
            batches.Write();

        if (nextToSend - n < refillBelow) {
            const long long until = std::min<long long>(last, n + depth - 1);
            commands.clear();
            for (; nextToSend <= until; ++nextToSend)
                AppendHeadCommand(commands, nextToSend);
            socket.SendCommand(commands);
        }

        reader.Begin();
        // A reply that is not whole ends the download: the connection is dead.
        if (!socket.ReadLine(line)) {
            cut = true;
            break;
        }
        SplitString(line, parts, kReplyParts, ' ');
        if (parts[0] != "221") {
            while (socket.ReadLine(line)) {
            }
            if (!socket.LastReplyWhole()) {
                cut = true;
                break;
            }
            continue;
        }
        while (socket.ReadLine(line))
            reader.AddLine(line);
        if (!socket.LastReplyWhole()) {
            cut = true;
            break;
        }

        batches.Add(number, reader.Fields());
        if (batches.Waiting() >= static_cast<std::size_t>(batch))
            batches.Write();
    }
    batches.Write();
    return batches.Stored();
}

int RunDownload(const HeaderDownloadParams& params, const std::string& groupDir,
                IProgress& progress, IHeaderDownloadView& view) {
    CreateHeaderTable(groupDir);
    view.ClearHeaderTree();

    CNntpSocket socket;
    std::string code;
    std::string message;
    switch (BeginConversation(socket, params.server, code, message)) {
    case NntpStart::Ready:
        break;
    case NntpStart::ConnectFailed:
        view.ShowMessage(ConnectFailureMessage(socket));
        socket.Cleanup();
        return -1;
    case NntpStart::Refused:
    case NntpStart::Failed:
        view.ShowMessage(message);
        socket.Cleanup();
        return -1;
    case NntpStart::Cut:
        view.ShowMessage(ReplyFailureMessage(socket));
        socket.Cleanup();
        return -1;
    }

    int stored = 0;
    bool cut = false;
    OverviewFormat format;
    const bool overview = params.useOverview && g_overviewAllowed && params.pipelineDepth > 1 &&
                          ProbeOverview(socket, format, cut);
    if (!cut)
        socket.SendCommand("GROUP " + params.group + "\r\n");
    std::string reply;
    cut = socket.ReadResponse(reply) <= 0;
    // "211 count first last group": the count is not used.
    std::vector<std::string> parts;
    SplitString(reply, parts, kReplyParts, ' ');
    if (!cut && parts[0] == "211") {
        int first = ToInt(parts[2]);
        const int last = ToInt(parts[3]);
        // The last header stored before is requested again.
        if (params.latestOnly) {
            const int lastHeader = ReadLastHeader(groupDir);
            if (lastHeader >= first)
                first = lastHeader;
        }
        progress.SetProgressRange(first, last);
        WriteHeaderCounters(groupDir, last, first);
        stored = overview ? FetchOverview(socket, params, groupDir, format, first, last, progress,
                                          view, cut)
                          : FetchHeaders(socket, params, groupDir, first, last, progress, cut);
    } else if (std::string access = AccessReplyMessage(reply); !cut && !access.empty()) {
        view.ShowMessage(access);
    }
    EndConversation(socket);
    socket.Cleanup();
    // Shown only now: what was stored is committed, and nothing waits on the server.
    if (cut)
        view.ShowMessage(ReplyFailureMessage(socket));
    return stored;
}

} // namespace

void AllowHeaderOverview(bool allowed) {
    g_overviewAllowed = allowed;
}

std::string ReadingHeaderStatus(int n, int last) {
    char numbers[40];
    std::snprintf(numbers, sizeof numbers, " : %d / %d ", n, last);
    return std::string(kReadingHeadersStatus) + numbers;
}

void CHeaderFieldReader::Begin() {
    m_fields = HeaderFields();
    // The "." line that closes every reply ends whatever field was open.
    m_state = Field::None;
    m_endsWithWord = false;
}

std::string& CHeaderFieldReader::ValueOf(Field field) {
    switch (field) {
    case Field::From:
        return m_fields.from;
    case Field::Subject:
        return m_fields.subject;
    case Field::Date:
        return m_fields.date;
    case Field::References:
        return m_fields.references;
    case Field::MessageId:
        return m_fields.messageId;
    case Field::ContentType:
    case Field::None:
        break;
    }
    return m_fields.contentType;
}

void CHeaderFieldReader::Append(Field field, std::string_view text) {
    std::string& value = ValueOf(field);
    if (field == Field::References) {
        value.append(text);
        KeepReferencesEnd(value);
        return;
    }
    if (value.size() < kHeaderValueMax)
        value.append(text.substr(0, FitCharacters(text, kHeaderValueMax - value.size())));
}

void CHeaderFieldReader::AddLine(std::string_view raw) {
    // Without "=", ESC or a zero byte neither decoder changes a line; most lines are so.
    std::string decoded;
    std::string_view line = raw;
    if (NeedsDecoding(raw)) {
        decoded = JisToSjis(DecodeHeaderText(raw));
        line = decoded;
    }

    if (!line.empty() && IsFoldBlank(line.front())) {
        if (m_state == Field::None)
            return;
        const std::string_view rawText = WithoutLeadingFoldBlanks(raw);
        std::string& value = ValueOf(m_state);
        // The fold and the blanks on either side of it become one blank, or nothing between
        // two encoded words or before the first text of a value. A value already full takes
        // nothing more, not even the blank.
        const bool full = m_state != Field::References && value.size() >= kHeaderValueMax;
        if (!full) {
            value.resize(WithoutTrailingFoldBlanks(value).size());
            if (!value.empty() && !(m_endsWithWord && StartsWithEncodedWord(rawText)))
                Append(m_state, " ");
            Append(m_state, WithoutLeadingFoldBlanks(line));
        }
        m_endsWithWord = EndsWithEncodedWord(WithoutTrailingFoldBlanks(rawText));
        return;
    }

    m_state = Field::None;
    struct Name {
        std::string_view text;
        Field field;
    };
    static constexpr Name kNames[] = {
        {"Content-Type:", Field::ContentType},
        {"Message-ID:", Field::MessageId},
        {"References:", Field::References},
        {"Subject:", Field::Subject},
        {"From:", Field::From},
        {"Date:", Field::Date},
    };
    // Most header lines name none of the six fields: their first letter tells at once.
    if (line.empty())
        return;
    switch (AsciiLower(line.front())) {
    case 'c':
    case 'm':
    case 'r':
    case 's':
    case 'f':
    case 'd':
        break;
    default:
        return;
    }
    for (const Name& name : kNames) {
        if (!StartsWithNoCase(line, name.text))
            continue;
        // The value starts after the name and the blank that follows it.
        const std::string_view value =
            line.size() > name.text.size() + 1 ? line.substr(name.text.size() + 1) : "";
        ValueOf(name.field).clear();
        Append(name.field, value);
        m_state = name.field;
        m_endsWithWord = EndsWithEncodedWord(WithoutTrailingFoldBlanks(raw));
        return;
    }
}

std::string LastReference(std::string_view references) {
    references = WithoutTrailingFoldBlanks(references);
    const std::size_t blank = references.find_last_of(" \t");
    return std::string(blank == std::string_view::npos ? references : references.substr(blank + 1));
}

Poster SplitPoster(std::string_view from) {
    from = from.substr(0, kPosterFromMax);
    Poster poster;
    if (from.find(' ') == std::string_view::npos) {
        const std::string_view bare = StripOnce(from, '<', '>');
        poster.name.assign(bare);
        poster.address.assign(bare);
        return poster;
    }

    std::string_view a = from;
    std::string_view b;
    if (from.front() == '<') {
        const std::size_t close = from.find('>');
        if (close != std::string_view::npos) {
            a = from.substr(0, close);
            b = LeadingBlanksRemoved(from.substr(close + 1));
        }
    } else if (from.front() == '"') {
        const std::size_t quote = from.find('"', 1);
        if (quote != std::string_view::npos) {
            a = from.substr(0, quote);
            b = LeadingBlanksRemoved(from.substr(quote + 1));
        }
    } else if (from.back() == '>') {
        const std::size_t open = from.find('<');
        if (open != std::string_view::npos) {
            a = from.substr(0, open);
            b = from.substr(open);
        }
    } else {
        const std::size_t blank = from.find(' ');
        a = from.substr(0, blank);
        b = from.substr(blank + 1);
    }
    a = StripOnce(StripOnce(TrimBlanks(a), '<', '>'), '"', '"');
    b = StripOnce(StripOnce(TrimBlanks(b), '<', '>'), '"', '"');
    if (a.find('@') != std::string_view::npos) {
        poster.address.assign(a);
        poster.name.assign(b);
    } else {
        poster.name.assign(a);
        poster.address.assign(b);
    }
    return poster;
}

int DownloadHeaders(const HeaderDownloadParams& params, IProgress& progress,
                    IHeaderDownloadView& view) {
    if (params.group.empty())
        return 0;
    progress.SetStatusText(kReadingHeadersStatus);
    int stored = -1;
    try {
        stored = RunDownload(params, GroupDirectory(params.baseDir, params.server, params.group),
                             progress, view);
    } catch (...) {
        // Out of memory; what was committed stays, and the window is restored below.
    }
    progress.SetProgressRange(0, 1);
    progress.SetProgressPos(0);
    progress.SetStatusText("");
    return stored;
}
