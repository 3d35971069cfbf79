#pragma once

#include "nntp/HeaderDownload.h"
#include "store/AddressBook.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// How a header download writes what it received: the records of the group's table, the posters
// in the address book and "LASTHEADER", in batches. Shared by the HEAD and the overview paths so
// both leave the same files.

using HeaderClock = std::chrono::steady_clock;

// The group's table "Header", open for the whole download, with the position of the first
// record of every Message-ID, so that finding a header's record costs no walk over the table.
// Records are written in transactions: Begin, Store..., Commit.
class CHeaderWriter {
public:
    explicit CHeaderWriter(std::string dbPath) : m_dbPath(std::move(dbPath)) {}

    // False when the table cannot be opened.
    bool Begin() {
        if (!EnsureOpen())
            return false;
        m_inTrans = m_table.BeginTrans() != 0;
        return true;
    }

    // False when the record was not written: no table, or the table refused it.
    bool Store(int number, const HeaderFields& fields) {
        if (!m_open)
            return false;
        const auto found = m_firstByMesid.find(fields.messageId);
        const bool added = found == m_firstByMesid.end();
        if (!(added ? m_table.AddNew() : m_table.MoveTo(found->second) && m_table.Edit()))
            return false;
        const bool set =
            m_table.SetField("NUM", std::to_string(number)) &&
            m_table.SetField("MESID", fields.messageId) && m_table.SetField("FROM", fields.from) &&
            m_table.SetField("SUB", fields.subject) && m_table.SetField("DATE", fields.date) &&
            m_table.SetField("MEDIA", fields.contentType) &&
            m_table.SetField("REF", LastReference(fields.references));
        // A record with a field missing is not written at all.
        if (!set || !m_table.Update())
            return false;
        int record = 0;
        if (added) {
            record = m_records++;
            m_firstByMesid.emplace(fields.messageId, record);
            m_lastNumberOf.push_back(number);
        } else {
            record = found->second;
            m_lastNumberOf[static_cast<std::size_t>(record)] = number;
        }
        NoteWritten(number, record);
        return true;
    }

    // Room for this many more records, so the Message-ID map is not rebuilt as it grows. Never
    // less than it has: asked for less, the map would be rebuilt smaller, and then again larger.
    void Reserve(std::size_t more) {
        if (more > 0) {
            m_firstByMesid.reserve(m_firstByMesid.size() + more);
            m_written.reserve(m_written.size() + more);
            m_lastNumberOf.reserve(m_lastNumberOf.size() + more);
        }
    }

    // Sets MEDIA of the record that article number was stored in, when no later article of
    // the same Message-ID was stored over it (on the HEAD path the last article writes the
    // whole record, its type included); true without a write when one was. Found through the
    // articles stored in this download, in order, so a pass over a whole group costs no hash
    // look-up per article. False when the article was not stored or the write was refused.
    bool StoreTypeOf(int number, const std::string& contentType) {
        if (!m_open)
            return false;
        const auto at = WrittenAt(number);
        if (at == m_written.end() || at->number != number)
            return false;
        if (m_lastNumberOf[static_cast<std::size_t>(at->record)] != number)
            return true;
        return m_table.MoveTo(at->record) && m_table.Edit() &&
               m_table.SetField("MEDIA", contentType) && m_table.Update();
    }

    // Makes what was stored since the last commit durable. False when it was lost: the table
    // is closed then, and opened afresh by the next Store.
    bool Commit() {
        if (!m_inTrans)
            return true;
        m_inTrans = false;
        if (m_table.CommitTrans())
            return true;
        m_table.Rollback();
        Close();
        return false;
    }

    void Close() {
        m_table.Close();
        m_open = false;
        m_inTrans = false;
        m_firstByMesid.clear();
        m_lastNumberOf.clear();
        m_written.clear();
        m_records = 0;
    }

private:
    bool EnsureOpen() {
        if (m_open)
            return true;
        if (!m_table.Open(kHeaderTable, m_dbPath))
            return false;
        // A Null MESID reads as empty, so articles without a Message-ID share one record.
        const int count = std::max(0, m_table.GetRecordCount());
        m_table.MoveTo(0);
        std::string mesid;
        for (int i = 0; i < count; ++i) {
            m_table.GetField("MESID", "", mesid);
            m_firstByMesid.emplace(mesid, i);
            m_table.MoveNext();
        }
        m_records = count;
        // No article of this download is in the records there were.
        m_lastNumberOf.assign(static_cast<std::size_t>(count), kNoArticle);
        m_open = true;
        return true;
    }

    struct Written {
        int number;
        int record;
    };
    std::vector<Written>::iterator WrittenAt(int number) {
        return std::lower_bound(m_written.begin(), m_written.end(), number,
                                [](const Written& w, int n) { return w.number < n; });
    }
    // Articles come in rising order; one stored again keeps its place.
    void NoteWritten(int number, int record) {
        if (m_written.empty() || m_written.back().number < number) {
            m_written.push_back({number, record});
            return;
        }
        const auto at = WrittenAt(number);
        if (at != m_written.end() && at->number == number)
            at->record = record;
        else
            m_written.insert(at, {number, record});
    }

    static constexpr int kNoArticle = INT_MIN;

    std::string m_dbPath;
    CDbTable m_table;
    bool m_open = false;
    bool m_inTrans = false;
    std::unordered_map<std::string, int> m_firstByMesid;
    std::vector<int> m_lastNumberOf; // per record: the last article stored in it, or kNoArticle
    std::vector<Written> m_written;  // the articles stored in this download, by number
    int m_records = 0;
};

// The address book of the main database, open for the whole download. A poster whose address
// was handed over once in this download is not handed over again: the table's unique index
// would refuse it anyway. Records are written in transactions the caller commits before it lets
// events be handled.
class CPosterBook {
public:
    CPosterBook(std::string server, std::string group, std::string dbPath)
        : m_server(std::move(server)), m_group(std::move(group)), m_dbPath(std::move(dbPath)) {}

    void Add(const Poster& poster) {
        // Built in a buffer of its own: most posters were seen before, and then nothing is
        // allocated.
        m_mail.assign(poster.address);
        m_mail += ',';
        m_mail += m_server;
        if (m_tried.contains(m_mail))
            return;
        std::string mail = m_mail;
        if (!m_open && !m_table.Open(kAddressBookLookupName, m_dbPath)) {
            // No table yet (or no database): the address book makes it with its index.
            AddAddressBookEntry(poster.name, poster.address, m_server, m_group, m_dbPath);
            m_tried.insert(std::move(mail));
            return;
        }
        m_open = true;
        if (!m_inTrans)
            m_inTrans = m_table.BeginTrans() != 0;
        // Refused for an address already recorded for this server.
        AppendAddressBookRecord(m_table, poster.name, poster.address, m_server, m_group);
        if (m_inTrans)
            m_pending.push_back(mail);
        m_tried.insert(std::move(mail));
    }

    void Commit() {
        if (!m_inTrans)
            return;
        m_inTrans = false;
        if (!m_table.CommitTrans()) {
            m_table.Rollback();
            m_table.Close();
            m_open = false;
            for (const std::string& mail : m_pending)
                m_tried.erase(mail);
        }
        m_pending.clear();
    }

private:
    std::string m_server;
    std::string m_group;
    std::string m_dbPath;
    CDbTable m_table;
    bool m_open = false;
    bool m_inTrans = false;
    std::unordered_set<std::string> m_tried;
    std::string m_mail;
    std::vector<std::string> m_pending; // added in the open transaction
};

// The headers received and not yet stored, written in batches: each batch in one transaction
// begun and committed with no event handled in between. The window handles events, and the
// socket lets it while it waits, so a transaction held open meanwhile would lock the databases
// for anyone else. "LASTHEADER" is written only once a batch is committed, so the counter is
// never ahead of the store, and it never passes a header that could not be stored: the next
// latest-only download asks for that header again.
class CHeaderBatches {
public:
    CHeaderBatches(const HeaderDownloadParams& params, std::string groupDir)
        : m_headers(HeaderDbPath(groupDir)),
          m_posters(params.server, params.group, params.mainDbPath),
          m_groupDir(std::move(groupDir)) {}

    // The download will bring about this many headers.
    void Reserve(std::size_t headers) {
        m_expected = headers;
        m_received.reserve(std::min<std::size_t>(headers, 8192));
    }

    void Add(int number, HeaderFields fields) {
        if (m_received.empty())
            m_oldest = HeaderClock::now();
        m_received.push_back({number, std::move(fields)});
    }
    std::size_t Waiting() const { return m_received.size(); }
    HeaderClock::duration OldestAge() const {
        return m_received.empty() ? HeaderClock::duration::zero() : HeaderClock::now() - m_oldest;
    }

    // Stores what was received.
    void Write() {
        if (m_received.empty())
            return;
        int stored = 0;
        bool failed = m_failed;
        std::optional<int> lastHeader;
        if (m_headers.Begin()) {
            m_headers.Reserve(m_expected);
            m_expected = 0;
            for (const Received& header : m_received) {
                if (!m_headers.Store(header.number, header.fields)) {
                    failed = true;
                    continue;
                }
                m_posters.Add(SplitPoster(header.fields.from));
                ++stored;
                if (!failed)
                    lastHeader = header.number;
            }
        } else {
            failed = true;
        }
        m_received.clear();
        const bool kept = m_headers.Commit();
        m_posters.Commit();
        if (!kept) {
            m_failed = true;
            return;
        }
        m_stored += stored;
        m_failed = failed;
        if (lastHeader) {
            if (m_deferLastHeader)
                m_lastWhole = *lastHeader;
            else
                WriteLastHeader(m_groupDir, *lastHeader);
        }
    }

    // While deferred, Write keeps "LASTHEADER" to itself (LastWhole) instead of writing it: the
    // records still wait for their Content-Type.
    void DeferLastHeader(bool defer) { m_deferLastHeader = defer; }
    std::optional<int> LastWhole() const { return m_lastWhole; }

    // Content-Type of article number, stored before, as HEAD gave it. Written by WriteTypes in
    // one transaction.
    void AddType(int number, std::string contentType) {
        if (m_types.empty())
            m_oldest = HeaderClock::now();
        m_types.push_back({number, std::move(contentType)});
    }
    std::size_t TypesWaiting() const { return m_types.size(); }
    // Writes the waiting types; then "LASTHEADER" = upTo, kept at or below LastWhole and below
    // any record that could not be written.
    void WriteTypes(int upTo) {
        bool failed = m_failed;
        if (!m_types.empty()) {
            if (m_headers.Begin()) {
                for (const Type& type : m_types)
                    failed = !m_headers.StoreTypeOf(type.number, type.contentType) || failed;
            } else {
                failed = true;
            }
            m_types.clear();
            if (!m_headers.Commit())
                failed = true;
        }
        m_failed = failed;
        if (!failed && m_lastWhole)
            WriteLastHeader(m_groupDir, std::min(upTo, *m_lastWhole));
    }

    // Headers stored and committed so far.
    int Stored() const { return m_stored; }

private:
    struct Received {
        int number;
        HeaderFields fields;
    };

    CHeaderWriter m_headers;
    CPosterBook m_posters;
    std::string m_groupDir;
    struct Type {
        int number;
        std::string contentType;
    };

    std::vector<Received> m_received;
    std::vector<Type> m_types;
    HeaderClock::time_point m_oldest;
    bool m_deferLastHeader = false;
    std::size_t m_expected = 0;
    std::optional<int> m_lastWhole;
    int m_stored = 0;
    bool m_failed = false; // a header could not be stored: "LASTHEADER" stays where it is
};
