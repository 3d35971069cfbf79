#include "nntp/OverviewFetch.h"

#include "base/AsciiCase.h"
#include "base/Progress.h"
#include "nntp/HeaderBatches.h"
#include "nntp/NntpSocket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <utility>

namespace {

constexpr char kContentType[] = "Content-Type";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The article number that starts an overview or HDR line; false when it has none.
bool LeadingNumber(std::string_view text, int& number) {
    long long value = 0;
    std::size_t i = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX)
            return false;
    }
    if (i == 0)
        return false;
    number = static_cast<int>(value);
    return true;
}

// Whether a fold hidden in one of the value's blank runs could change what HEAD reads: only
// where a run is longer than one blank, at either end of the value, or anywhere in a value that
// holds an encoded word or ISO-2022-JP (which a fold may split or join differently).
bool RunsWorthChecking(std::string_view value, bool& everyRun) {
    everyRun =
        value.find("=?") != std::string_view::npos || value.find('\x1b') != std::string_view::npos;
    if (everyRun)
        return value.find(' ') != std::string_view::npos;
    if (value.empty())
        return false;
    return value.front() == ' ' || value.back() == ' ' ||
           value.find("  ") != std::string_view::npos;
}

using FieldOf = std::string HeaderFields::*;

// Reads "name: value" as HEAD would read it unfolded, and checks each blank run of the value
// that could have been a fold: HEAD must read the folded header the same way, or false.
bool ReadValue(CHeaderFieldReader& reader, std::string& line, std::string_view name,
               std::string_view value, FieldOf field, std::string& out) {
    line.assign(name);
    line.append(": ");
    line.append(value);
    reader.Begin();
    reader.AddLine(line);
    out = reader.Fields().*field;
    bool everyRun = false;
    if (!RunsWorthChecking(value, everyRun))
        return true;
    const std::size_t valueStart = name.size() + 2;
    std::string folded;
    for (std::size_t pos = valueStart; pos < line.size();) {
        const std::size_t run = line.find(' ', pos);
        if (run == std::string::npos)
            break;
        std::size_t end = run;
        while (end < line.size() && line[end] == ' ')
            ++end;
        const bool atEdge = run == valueStart || end == line.size();
        if (everyRun || atEdge || end - run > 1) {
            // The run as "<blanks> CR LF <TAB>": the first line ends before it, the fold line
            // carries the rest.
            reader.Begin();
            reader.AddLine(std::string_view(line).substr(0, run));
            folded.assign("\t");
            folded.append(line, end, std::string::npos);
            reader.AddLine(folded);
            if (reader.Fields().*field != out)
                return false;
        }
        pos = end;
    }
    return true;
}

} // namespace

bool ParseOverviewFormat(const std::vector<std::string>& lines, OverviewFormat& format) {
    OverviewFormat parsed;
    parsed.overCommand = format.overCommand;
    parsed.hdrCommand = format.hdrCommand;
    struct Known {
        std::string_view name;
        int OverviewFormat::*position;
    };
    static constexpr Known kKnown[] = {
        {"Subject", &OverviewFormat::subject},
        {"From", &OverviewFormat::from},
        {"Date", &OverviewFormat::date},
        {"Message-ID", &OverviewFormat::messageId},
        {"References", &OverviewFormat::references},
        {kContentType, &OverviewFormat::contentType},
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
            line.remove_suffix(1);
        // "Name:" or "Name:full"; the metadata items (":bytes", ":lines") have no name.
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        const std::string_view name = line.substr(0, colon);
        for (const Known& known : kKnown) {
            if (EqualsNoCase(name, known.name) && parsed.*known.position < 0) {
                parsed.*known.position = static_cast<int>(i);
                if (known.position == &OverviewFormat::contentType)
                    parsed.contentTypeFull = EqualsNoCase(line.substr(colon + 1), "full");
            }
        }
    }
    if (parsed.subject < 0 || parsed.from < 0 || parsed.date < 0 || parsed.messageId < 0 ||
        parsed.references < 0)
        return false;
    format = parsed;
    return true;
}

bool ProbeOverview(CNntpSocket& socket, OverviewFormat& format, bool& cut) {
    std::string line;
    std::string code;
    std::string rest;
    socket.SendCommand("CAPABILITIES\r\n");
    if (!socket.ReadLine(line)) {
        cut = true;
        return false;
    }
    CNntpSocket::SplitStatus(line, code, rest);
    bool listsOver = false;
    bool listsHdr = false;
    const bool hasCapabilities = code == "101";
    while (socket.ReadLine(line)) {
        if (!hasCapabilities)
            continue;
        const std::string_view word = std::string_view(line).substr(0, line.find(' '));
        listsOver = listsOver || EqualsNoCase(word, "OVER");
        listsHdr = listsHdr || EqualsNoCase(word, "HDR");
    }
    if (!socket.LastReplyWhole()) {
        cut = true;
        return false;
    }
    // A server that lists its capabilities without OVER has no overview to offer.
    if (hasCapabilities && !listsOver)
        return false;

    socket.SendCommand("LIST OVERVIEW.FMT\r\n");
    if (!socket.ReadLine(line)) {
        cut = true;
        return false;
    }
    CNntpSocket::SplitStatus(line, code, rest);
    std::vector<std::string> fields;
    while (socket.ReadLine(line))
        fields.push_back(line);
    if (!socket.LastReplyWhole()) {
        cut = true;
        return false;
    }
    if (code != "215")
        return false;
    format.overCommand = listsOver;
    format.hdrCommand = listsHdr;
    return ParseOverviewFormat(fields, format);
}

OverviewLine ReadOverviewLine(std::string_view line, const OverviewFormat& format, int& number,
                              HeaderFields& fields) {
    // Reused by every line of a download: the reader and the line buffers keep their capacity.
    thread_local CHeaderFieldReader reader;
    thread_local std::string scratch;
    if (!LeadingNumber(line, number))
        return OverviewLine::Bad;
    std::string_view parts[24];
    int count = 0;
    const int wanted = std::min<int>(
        std::size(parts), 1 + std::max({format.subject, format.from, format.date, format.messageId,
                                        format.references, format.contentType}));
    for (std::size_t pos = 0; count <= wanted;) {
        const void* tab =
            pos < line.size() ? std::memchr(line.data() + pos, '\t', line.size() - pos) : nullptr;
        const std::size_t end =
            tab ? static_cast<std::size_t>(static_cast<const char*>(tab) - line.data())
                : line.size();
        // Part 0 is the article number; the format's positions count from the part after it.
        if (count > 0)
            parts[count - 1] = line.substr(pos, end - pos);
        ++count;
        if (!tab)
            break;
        pos = end + 1;
    }
    const int present = count - 1;
    auto part = [&](int position) {
        return position >= 0 && position < present ? parts[position] : std::string_view();
    };

    bool exact = true;
    exact &= ReadValue(reader, scratch, "Subject", part(format.subject), &HeaderFields::subject,
                       fields.subject);
    exact &=
        ReadValue(reader, scratch, "From", part(format.from), &HeaderFields::from, fields.from);
    exact &=
        ReadValue(reader, scratch, "Date", part(format.date), &HeaderFields::date, fields.date);
    exact &= ReadValue(reader, scratch, "Message-ID", part(format.messageId),
                       &HeaderFields::messageId, fields.messageId);
    exact &= ReadValue(reader, scratch, "References", part(format.references),
                       &HeaderFields::references, fields.references);
    if (format.contentType >= 0) {
        std::string_view type = part(format.contentType);
        if (format.contentTypeFull) {
            // "Content-Type: value"; an article without the header leaves the field empty.
            const std::string_view prefix = "Content-Type:";
            if (StartsWithNoCase(type, prefix)) {
                type.remove_prefix(prefix.size());
                if (!type.empty() && type.front() == ' ')
                    type.remove_prefix(1);
                else
                    exact = false; // HEAD would drop the value's first character
            } else {
                type = {};
            }
        }
        exact &= ReadValue(reader, scratch, kContentType, type, &HeaderFields::contentType,
                           fields.contentType);
    } else {
        fields.contentType.clear();
    }
    return exact ? OverviewLine::Exact : OverviewLine::NeedHead;
}

bool ReadUnfoldedValue(std::string_view name, std::string_view value, std::string& out) {
    thread_local CHeaderFieldReader reader;
    thread_local std::string scratch;
    FieldOf field = &HeaderFields::contentType;
    if (EqualsNoCase(name, "Subject"))
        field = &HeaderFields::subject;
    else if (EqualsNoCase(name, "From"))
        field = &HeaderFields::from;
    else if (EqualsNoCase(name, "Date"))
        field = &HeaderFields::date;
    else if (EqualsNoCase(name, "Message-ID"))
        field = &HeaderFields::messageId;
    else if (EqualsNoCase(name, "References"))
        field = &HeaderFields::references;
    return ReadValue(reader, scratch, name, value, field, out);
}

namespace {

// One range of articles asked for with one OVER command, stored once every article of it is
// known: its overview line read, its Content-Type known, and HEAD answered where it was needed.
struct Chunk {
    struct Article {
        int number = 0;
        HeaderFields fields;
        bool needHead = false;
        bool dropped = false;    // HEAD refused it: nothing is stored, as on the HEAD path
        bool typePending = true; // its Content-Type still has to come (second pass)
    };
    int first = 0;
    int last = 0;
    std::vector<Article> articles;
    bool overviewRead = false;
    bool typesKnown = false;
    bool headsSent = false;
    int headsWaiting = 0;

    bool Complete() const { return overviewRead && typesKnown && headsSent && headsWaiting == 0; }
    Article* Find(int number) {
        const auto found =
            std::lower_bound(articles.begin(), articles.end(), number,
                             [](const Article& article, int n) { return article.number < n; });
        return found != articles.end() && found->number == number ? &*found : nullptr;
    }
};

enum class ReplyKind { Over, Hdr, Xhdr, Head };
struct Expected {
    ReplyKind kind;
    long long chunk; // the chunk's sequence number
    std::size_t article = 0;
};

class COverviewFetch {
public:
    COverviewFetch(CNntpSocket& socket, const HeaderDownloadParams& params,
                   const std::string& groupDir, const OverviewFormat& format, IProgress& progress,
                   IHeaderDownloadView& view)
        : m_socket(socket), m_params(params), m_format(format), m_progress(progress), m_view(view),
          m_batches(params, groupDir), m_useHdr(format.hdrCommand),
          m_typesLater(format.contentType < 0) {}

    int Run(int first, int last, bool& cut) {
        m_last = last;
        // Without Content-Type in the overview, every record but its MEDIA is stored first, so
        // the tree can show while HDR brings the types (a server reads them from the articles,
        // many times slower than its overview). "LASTHEADER" waits for them.
        m_batches.DeferLastHeader(m_typesLater);
        // A hostile range reserves no more than a real group needs.
        const auto range = static_cast<std::size_t>(std::clamp(1LL + last - first, 0LL, 1LL << 20));
        m_batches.Reserve(range);
        if (m_typesLater) {
            m_pendingTypes.reserve(range);
        }
        const int chunkSize = std::max(1, m_params.overviewChunk);
        int next = first;
        const bool whole = Pump(cut, [&](std::string& commands) {
            if (next > last)
                return false;
            const int end = static_cast<int>(std::min<long long>(last, 0LL + next + chunkSize - 1));
            AddChunk(next, end, commands);
            next = end + 1;
            return true;
        });
        m_batches.Write();
        if (!whole || !m_typesLater)
            return m_batches.Stored();

        m_typesPass = true;
        std::size_t pending = 0;
        auto addTypeChunk = [&](std::string& commands) {
            if (pending >= m_pendingTypes.size())
                return false;
            const std::size_t end =
                std::min(m_pendingTypes.size(), pending + static_cast<std::size_t>(chunkSize));
            AddTypeChunk(pending, end, commands);
            pending = end;
            return true;
        };
        // The first types are asked for before the tree is filled: a server reads them from
        // its articles, slowly, and does so while the window fills the tree.
        std::string commands;
        while (m_chunks.size() < kOverviewChunksInFlight && addTypeChunk(commands)) {
        }
        if (!commands.empty())
            m_socket.SendCommand(commands);
        m_view.HeadersStored();
        m_progress.SetProgressRange(first, last);
        const bool typed = Pump(cut, addTypeChunk);
        if (typed)
            m_batches.WriteTypes(last);
        return m_batches.Stored();
    }

private:
    // Sends chunks while fewer than kOverviewChunksInFlight wait (addChunk adds one, false when
    // none is left) and takes the replies, storing complete chunks in order. False when it
    // ended early: a cut reply (cut is set) or a stop request.
    template <typename AddChunkFn> bool Pump(bool& cut, AddChunkFn addChunk) {
        bool more = true;
        for (;;) {
            std::string commands;
            while (more && m_chunks.size() < kOverviewChunksInFlight)
                more = addChunk(commands);
            if (!commands.empty())
                m_socket.SendCommand(commands);
            if (m_expected.empty())
                return true;
            if (!ReadReply()) {
                cut = true;
                return false;
            }
            if (!StoreCompleteChunks())
                return false;
            if (m_batches.OldestAge() >= std::chrono::milliseconds(kHeaderCommitMs))
                m_batches.Write();
        }
    }

private:
    Chunk& ChunkOf(long long sequence) {
        return m_chunks[static_cast<std::size_t>(sequence - m_frontSequence)];
    }

    void AddChunk(int first, int last, std::string& commands) {
        const long long sequence = m_frontSequence + static_cast<long long>(m_chunks.size());
        m_chunks.emplace_back();
        Chunk& chunk = m_chunks.back();
        chunk.first = first;
        chunk.last = last;
        char range[48];
        std::snprintf(range, sizeof range, " %d-%d\r\n", first, last);
        if (m_noHeaderCommand) {
            // Neither HDR nor XHDR answers: the overview cannot give Content-Type, so HEAD gives
            // everything.
            chunk.articles.reserve(static_cast<std::size_t>(last - first + 1));
            for (int n = first; n <= last; ++n)
                chunk.articles.push_back({n, {}, true, false, false});
            chunk.overviewRead = true;
            chunk.typesKnown = true;
            SendHeads(sequence, commands);
            return;
        }
        commands += m_format.overCommand ? "OVER" : "XOVER";
        commands += range;
        m_expected.push_back({ReplyKind::Over, sequence});
        // Types come with the overview, or in the second pass.
        chunk.typesKnown = true;
    }

    // A chunk of the second pass: the Content-Type of the pending articles [from, to).
    void AddTypeChunk(std::size_t from, std::size_t to, std::string& commands) {
        const long long sequence = m_frontSequence + static_cast<long long>(m_chunks.size());
        m_chunks.emplace_back();
        Chunk& chunk = m_chunks.back();
        chunk.first = m_pendingTypes[from].first;
        chunk.last = m_pendingTypes[to - 1].first;
        chunk.overviewRead = true;
        chunk.articles.reserve(to - from);
        for (std::size_t i = from; i < to; ++i) {
            Chunk::Article article;
            article.number = m_pendingTypes[i].first;
            article.fields.messageId = std::move(m_pendingTypes[i].second);
            article.needHead = m_noHeaderCommand;
            chunk.articles.push_back(std::move(article));
        }
        if (m_noHeaderCommand) {
            chunk.typesKnown = true;
            SendHeads(sequence, commands);
            return;
        }
        char range[48];
        std::snprintf(range, sizeof range, " %d-%d\r\n", chunk.first, chunk.last);
        commands += m_useHdr ? "HDR Content-Type" : "XHDR Content-Type";
        commands += range;
        m_expected.push_back({m_useHdr ? ReplyKind::Hdr : ReplyKind::Xhdr, sequence});
    }

    // Once the overview and Content-Type of the chunk are read: HEAD for what they left open.
    void SendHeads(long long sequence, std::string& commands) {
        Chunk& chunk = ChunkOf(sequence);
        if (chunk.headsSent || !chunk.overviewRead || !chunk.typesKnown)
            return;
        chunk.headsSent = true;
        char command[32];
        for (std::size_t i = 0; i < chunk.articles.size(); ++i) {
            if (!chunk.articles[i].needHead)
                continue;
            const int length =
                std::snprintf(command, sizeof command, "HEAD %d\r\n", chunk.articles[i].number);
            commands.append(command, static_cast<std::size_t>(length));
            m_expected.push_back({ReplyKind::Head, sequence, i});
            ++chunk.headsWaiting;
        }
    }

    void SendHeadsNow(long long sequence) {
        std::string commands;
        SendHeads(sequence, commands);
        if (!commands.empty())
            m_socket.SendCommand(commands);
    }

    // False when the reply was cut.
    bool ReadReply() {
        const Expected expected = m_expected.front();
        m_expected.pop_front();
        if (!m_socket.ReadLine(m_line))
            return false;
        // The status code: the text before the first blank.
        const std::string code = m_line.substr(0, m_line.find(' '));
        bool whole = true;
        switch (expected.kind) {
        case ReplyKind::Over:
            whole = ReadOverview(expected.chunk, code);
            break;
        case ReplyKind::Hdr:
        case ReplyKind::Xhdr:
            whole = ReadTypes(expected, code);
            break;
        case ReplyKind::Head:
            whole = ReadHead(expected, code);
            break;
        }
        return whole;
    }

    bool Drain() {
        while (m_socket.ReadLine(m_line)) {
        }
        return m_socket.LastReplyWhole();
    }

    bool ReadOverview(long long sequence, std::string_view code) {
        Chunk& chunk = ChunkOf(sequence);
        if (code != "224") {
            if (!Drain())
                return false;
            // "423": no article in the range. Anything else: HEAD asks for each one.
            if (code != "423") {
                chunk.articles.clear();
                for (int n = chunk.first; n <= chunk.last; ++n)
                    chunk.articles.push_back({n, {}, true, false, false});
            }
        } else {
            chunk.articles.reserve(static_cast<std::size_t>(chunk.last - chunk.first + 1));
            Chunk::Article article;
            while (m_socket.ReadLine(m_line)) {
                const OverviewLine read =
                    ReadOverviewLine(m_line, m_format, article.number, article.fields);
                article.typePending = m_typesLater;
                // Only the range asked for, each article once and in order, as HEAD would go.
                if (read == OverviewLine::Bad || article.number < chunk.first ||
                    article.number > chunk.last ||
                    (!chunk.articles.empty() && article.number <= chunk.articles.back().number))
                    continue;
                article.needHead = read == OverviewLine::NeedHead;
                chunk.articles.push_back(std::move(article));
                article = Chunk::Article();
            }
            if (!m_socket.LastReplyWhole())
                return false;
        }
        chunk.overviewRead = true;
        SendHeadsNow(sequence);
        return true;
    }

    bool ReadTypes(const Expected& expected, std::string_view code) {
        Chunk& chunk = ChunkOf(expected.chunk);
        const bool hdr = expected.kind == ReplyKind::Hdr;
        if (code != (hdr ? "225" : "221")) {
            if (!Drain())
                return false;
            if (hdr) {
                // Not offered after all: XHDR for this chunk and the ones after it.
                m_useHdr = false;
                char command[64];
                std::snprintf(command, sizeof command, "XHDR Content-Type %d-%d\r\n", chunk.first,
                              chunk.last);
                m_expected.push_back({ReplyKind::Xhdr, expected.chunk});
                m_socket.SendCommand(command);
                return true;
            }
            m_noHeaderCommand = true;
            for (Chunk::Article& article : chunk.articles)
                article.needHead = true;
        } else {
            // "n value" for each article; XHDR leaves out those without the header.
            while (m_socket.ReadLine(m_line)) {
                int number = 0;
                if (!LeadingNumber(m_line, number))
                    continue;
                Chunk::Article* article = chunk.Find(number);
                if (!article)
                    continue;
                const std::size_t blank = m_line.find(' ');
                const std::string_view value = blank == std::string::npos
                                                   ? std::string_view()
                                                   : std::string_view(m_line).substr(blank + 1);
                if (!ReadUnfoldedValue(kContentType, value, article->fields.contentType))
                    article->needHead = true;
            }
            if (!m_socket.LastReplyWhole())
                return false;
        }
        chunk.typesKnown = true;
        SendHeadsNow(expected.chunk);
        return true;
    }

    bool ReadHead(const Expected& expected, std::string_view code) {
        Chunk& chunk = ChunkOf(expected.chunk);
        Chunk::Article& article = chunk.articles[expected.article];
        --chunk.headsWaiting;
        if (code != "221") {
            article.dropped = true;
            return Drain();
        }
        m_reader.Begin();
        while (m_socket.ReadLine(m_line))
            m_reader.AddLine(m_line);
        if (!m_socket.LastReplyWhole())
            return false;
        if (m_typesPass) {
            article.fields.contentType = m_reader.Fields().contentType;
        } else {
            article.fields = m_reader.Fields();
            article.typePending = false;
        }
        return true;
    }

    // Stores the chunks at the front that are complete. False once the user asked to stop.
    bool StoreCompleteChunks() {
        const std::size_t batch = static_cast<std::size_t>(std::max(1, m_params.commitBatch));
        while (!m_chunks.empty() && m_chunks.front().Complete()) {
            Chunk& chunk = m_chunks.front();
            if (m_typesPass) {
                // The store keeps only the type of the last article of a Message-ID, as on
                // the HEAD path where each article rewrites the whole record.
                for (Chunk::Article& article : chunk.articles) {
                    if (!article.dropped)
                        m_batches.AddType(article.number, std::move(article.fields.contentType));
                }
                m_batches.WriteTypes(chunk.last);
                m_progress.SetStatusText(ReadingHeaderStatus(chunk.last, m_last));
                m_progress.PumpMessages();
                if (m_progress.StopRequested())
                    return false;
                m_progress.SetProgressPos(chunk.last);
            } else {
                for (Chunk::Article& article : chunk.articles) {
                    if (article.dropped)
                        continue;
                    m_progress.SetStatusText(ReadingHeaderStatus(article.number, m_last));
                    m_progress.PumpMessages();
                    if (m_progress.StopRequested())
                        return false;
                    m_progress.SetProgressPos(article.number);
                    if (m_typesLater && article.typePending)
                        m_pendingTypes.emplace_back(article.number, article.fields.messageId);
                    m_batches.Add(article.number, std::move(article.fields));
                    if (m_batches.Waiting() >= batch)
                        m_batches.Write();
                }
            }
            m_chunks.pop_front();
            ++m_frontSequence;
        }
        return true;
    }

    CNntpSocket& m_socket;
    const HeaderDownloadParams& m_params;
    const OverviewFormat& m_format;
    IProgress& m_progress;
    IHeaderDownloadView& m_view;
    CHeaderBatches m_batches;
    CHeaderFieldReader m_reader;
    std::string m_line;
    std::deque<Chunk> m_chunks;
    long long m_frontSequence = 0;
    std::deque<Expected> m_expected;
    bool m_useHdr;
    bool m_noHeaderCommand = false;
    const bool m_typesLater;  // Content-Type comes in a second pass, after the records
    bool m_typesPass = false; // that pass is under way
    // The articles of the first pass whose Content-Type the second pass fetches, in order.
    std::vector<std::pair<int, std::string>> m_pendingTypes;
    int m_last = 0;
};

} // namespace

int FetchOverview(CNntpSocket& socket, const HeaderDownloadParams& params,
                  const std::string& groupDir, const OverviewFormat& format, int first, int last,
                  IProgress& progress, IHeaderDownloadView& view, bool& cut) {
    socket.SetQuickAck(false);
    COverviewFetch fetch(socket, params, groupDir, format, progress, view);
    return fetch.Run(first, last, cut);
}
