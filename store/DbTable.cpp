#include "store/DbTable.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <time.h>

namespace {

// Another program (or another object of this one) may hold the file for a moment.
constexpr int kBusyTimeoutMs = 5000;

// Reads fetch this many records' values of a field at once. A run is used only while nothing
// in this process has written to a database since (the generation below), and only briefly,
// so that another program's changes show as soon as a fresh read would show them.
constexpr std::size_t kRunLength = 256;
constexpr std::chrono::milliseconds kRunLifetime{20};

// Counts writes through any CDbTable of the process.
std::atomic<std::uint64_t> g_writeGeneration{1};

std::string RemoveDots(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c != '.') {
            out += c;
        }
    }
    return out;
}

char FoldAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The same folding SQLite applies to names, so that what matches here matches there.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool UsableName(std::string_view name) {
    return !name.empty() && name.find('\0') == std::string_view::npos;
}

std::string Quote(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
    return out;
}

// The monotonic clock at the resolution of the kernel's tick: read for every field of a scan,
// where a few milliseconds are fine enough for a run's lifetime and the precise clock would
// cost more than the field.
std::chrono::nanoseconds CoarseNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

int FindName(const std::vector<std::string>& names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (SameName(names[i], name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// A prepared statement that is finalized when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* Get() const { return m_stmt; }
    explicit operator bool() const { return m_stmt != nullptr; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

bool Exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The value stays where it is until the statement has run and its bindings are cleared, so
// SQLite need not copy it.
void BindValue(sqlite3_stmt* stmt, int index, const std::string* value) {
    if (value != nullptr) {
        sqlite3_bind_blob64(stmt, index, value->data(), value->size(), SQLITE_STATIC);
    } else {
        sqlite3_bind_null(stmt, index);
    }
}

// Runs an operation with every failure turned into its result: the engine reports through
// return codes, and running out of memory must not escape either.
template <typename F> int Guarded(int failure, F&& body) {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

} // namespace

struct CDbTable::Impl {
    // Values of one field for a run of records from one read, so that a scan costs one
    // statement per run rather than one (with its file locking) per record.
    struct Run {
        sqlite3_stmt* m_reader = nullptr;
        std::size_t m_first = 0; // cursor position of the run's first record
        std::size_t m_count = 0; // records in the run
        // Per record: its value, kept with its storage for the next run, and whether it has
        // one (else Null).
        std::vector<std::string> m_values;
        std::vector<char> m_present;
        std::uint64_t m_generation = 0;
        std::chrono::nanoseconds m_fetched{0};
    };

    sqlite3* m_db = nullptr;

    // The definition of an existing table, opened by OpenTableDef.
    bool m_defOpen = false;
    std::string m_defName; // as the file spells it
    std::vector<std::string> m_defColumns;

    // The definition of a table being created, made by AppendTableDef.
    bool m_creating = false;
    std::string m_newName;
    std::vector<std::string> m_newFields;
    std::vector<CDbIndex> m_newIndexes;
    int m_fieldsAdded = 0;

    // The cursor: the rowids of the records, fixed when it was opened.
    std::string m_table;
    std::vector<std::string> m_columns;
    std::vector<sqlite3_int64> m_keys;
    std::size_t m_pos = 0; // m_keys.size() is end-of-table
    // Reading every rowid waits until a record is first needed (the address book adds a
    // record per downloaded header without moving in its table); the cursor's records are
    // those up to the last rowid at opening, plus those this object added.
    bool m_keysLoaded = false;
    bool m_keysOk = false;
    sqlite3_int64 m_lastKeyAtOpen = 0;
    std::vector<sqlite3_int64> m_addedKeys;
    sqlite3_stmt* m_inserter = nullptr;
    // UPDATE statements by the fields they set: a download rewriting a full group sets the same
    // fields of every record, and preparing the statement would cost more than running it.
    std::map<std::vector<bool>, sqlite3_stmt*> m_updaters;
    std::vector<Run> m_runs; // one per column, made on first read
    std::vector<int> m_scanColumns; // read together, by m_scanReader
    sqlite3_stmt* m_scanReader = nullptr;

    enum class Mode { None, Add, Edit };
    Mode m_mode = Mode::None;
    // The record being added or edited: the values set, each held with its storage kept from
    // one record to the next (m_hasValue false: Null).
    std::vector<std::string> m_values;
    std::vector<char> m_hasValue;
    std::vector<bool> m_valueSet;
    std::vector<int> m_setColumns; // of m_valueSet, made by WriteRecord

    const std::string* ValueOf(std::size_t column) const {
        return m_valueSet[column] && m_hasValue[column] ? &m_values[column] : nullptr;
    }

    ~Impl() { CloseAll(); }

    void CloseCursor() {
        for (Run& run : m_runs) {
            sqlite3_finalize(run.m_reader);
        }
        m_runs.clear();
        sqlite3_finalize(m_scanReader);
        m_scanReader = nullptr;
        m_scanColumns.clear();
        sqlite3_finalize(m_inserter);
        m_inserter = nullptr;
        for (auto& updater : m_updaters) {
            sqlite3_finalize(updater.second);
        }
        m_updaters.clear();
        m_table.clear();
        m_columns.clear();
        m_keys.clear();
        m_pos = 0;
        m_keysLoaded = false;
        m_keysOk = false;
        m_lastKeyAtOpen = 0;
        m_addedKeys.clear();
        m_mode = Mode::None;
        m_values.clear();
        m_hasValue.clear();
        m_valueSet.clear();
    }

    void CloseDefs() {
        m_defOpen = false;
        m_defName.clear();
        m_defColumns.clear();
        m_creating = false;
        m_newName.clear();
        m_newFields.clear();
        m_newIndexes.clear();
        m_fieldsAdded = 0;
    }

    // Closing the connection also rolls back a transaction left open.
    void CloseAll() {
        if (m_db != nullptr && !sqlite3_get_autocommit(m_db)) {
            ++g_writeGeneration; // the transaction left open is rolled back
        }
        CloseCursor();
        CloseDefs();
        if (m_db != nullptr) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
    }

    bool OpenFile(const std::string& path, bool create) {
        CloseAll();
        if (!UsableName(path)) {
            return false;
        }
        sqlite3* db = nullptr;
        int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(db);
            return false;
        }
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // SQLite opens any file; reading the schema is what shows it is a database.
        bool isDatabase = false;
        {
            Statement check(db, "SELECT count(*) FROM sqlite_schema");
            isDatabase = check && sqlite3_step(check.Get()) == SQLITE_ROW;
        }
        if (!isDatabase) {
            sqlite3_close_v2(db);
            return false;
        }
        m_db = db;
        return true;
    }

    // The name of the table as the file spells it, or nothing.
    std::optional<std::string> FindTable(const std::string& name) const {
        Statement list(m_db, "SELECT name FROM sqlite_schema WHERE type = 'table'");
        if (!list) {
            return std::nullopt;
        }
        while (sqlite3_step(list.Get()) == SQLITE_ROW) {
            const char* text = static_cast<const char*>(sqlite3_column_blob(list.Get(), 0));
            std::string found(text ? text : "", sqlite3_column_bytes(list.Get(), 0));
            if (found.rfind("sqlite_", 0) != 0 && SameName(found, name)) {
                return found;
            }
        }
        return std::nullopt;
    }

    bool LoadColumns(const std::string& table, std::vector<std::string>& columns) const {
        Statement probe(m_db, "SELECT * FROM " + Quote(table) + " LIMIT 0");
        if (!probe) {
            return false;
        }
        columns.clear();
        int count = sqlite3_column_count(probe.Get());
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(probe.Get(), i);
            columns.emplace_back(name ? name : "");
        }
        return true;
    }

    int AppendNewTable() {
        int result = 1;
        if (m_creating && m_fieldsAdded) {
            result = CreateNewTable() ? 1 : 0;
            m_fieldsAdded = 0;
        }
        m_creating = false;
        m_newName.clear();
        m_newFields.clear();
        m_newIndexes.clear();
        m_defOpen = false;
        return result;
    }

    bool CreateNewTable() {
        std::string sql = "CREATE TABLE " + Quote(m_newName) + " (";
        for (std::size_t i = 0; i < m_newFields.size(); ++i) {
            sql += (i ? ", " : "") + Quote(m_newFields[i]) + " TEXT";
        }
        for (const CDbIndex& index : m_newIndexes) {
            if (index.m_primary || index.m_required) {
                for (const std::string& field : index.m_fields) {
                    sql += ", CHECK (" + Quote(field) + " IS NOT NULL)";
                }
            }
        }
        sql += ")";
        // A savepoint works both alone and inside a transaction of the caller.
        if (!Exec(m_db, "SAVEPOINT create_table")) {
            return false;
        }
        bool ok = Exec(m_db, sql);
        for (std::size_t i = 0; ok && i < m_newIndexes.size(); ++i) {
            const CDbIndex& index = m_newIndexes[i];
            // Index names are shared by all tables of a file, so each carries its table's.
            std::string create =
                (index.m_primary || index.m_unique) ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
            create += Quote(m_newName + "." + index.m_name) + " ON " + Quote(m_newName) + " (";
            for (std::size_t f = 0; f < index.m_fields.size(); ++f) {
                create += (f ? ", " : "") + Quote(index.m_fields[f]);
            }
            create += ")";
            ok = Exec(m_db, create);
        }
        if (ok) {
            ++g_writeGeneration;
        } else {
            Exec(m_db, "ROLLBACK TO create_table");
        }
        Exec(m_db, "RELEASE create_table");
        return ok;
    }

    bool LoadKeys() {
        if (m_keysLoaded) {
            return m_keysOk;
        }
        m_keysLoaded = true;
        Statement keys(m_db,
                       "SELECT rowid FROM " + Quote(m_table) + " WHERE rowid <= ?1 ORDER BY rowid");
        if (!keys) {
            return false;
        }
        sqlite3_bind_int64(keys.Get(), 1, m_lastKeyAtOpen);
        int step;
        while ((step = sqlite3_step(keys.Get())) == SQLITE_ROW) {
            m_keys.push_back(sqlite3_column_int64(keys.Get(), 0));
        }
        if (step != SQLITE_DONE) {
            m_keys.clear();
        }
        m_keys.insert(m_keys.end(), m_addedKeys.begin(), m_addedKeys.end());
        m_addedKeys.clear();
        m_keysOk = step == SQLITE_DONE;
        return m_keysOk;
    }

    std::vector<sqlite3_int64>& Keys() {
        LoadKeys();
        return m_keys;
    }

    bool AtEnd() { return m_pos >= Keys().size(); }

    // Reads the columns for the run of records at the cursor, with one statement: the single
    // column asked for, or every column of the scan when it is one of them.
    sqlite3_stmt* RunReader(int column, std::vector<int>& columns) {
        const bool scan = std::find(m_scanColumns.begin(), m_scanColumns.end(), column) !=
                          m_scanColumns.end();
        columns = scan ? m_scanColumns : std::vector<int>{column};
        sqlite3_stmt*& stmt = scan ? m_scanReader : m_runs[column].m_reader;
        if (stmt == nullptr) {
            std::string sql = "SELECT rowid";
            for (int c : columns) {
                sql += ", " + Quote(m_columns[c]);
            }
            sql += " FROM " + Quote(m_table) + " WHERE rowid BETWEEN ?1 AND ?2 ORDER BY rowid";
            if (sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()),
                                   SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
                sqlite3_finalize(stmt);
                stmt = nullptr;
            }
        }
        return stmt;
    }

    bool FetchRun(int column) {
        std::vector<int> columns;
        sqlite3_stmt* stmt = RunReader(column, columns);
        for (int c : columns) {
            m_runs[c].m_count = 0;
        }
        if (stmt == nullptr) {
            return false;
        }
        std::size_t end = std::min(m_keys.size(), m_pos + kRunLength);
        for (int c : columns) {
            Run& run = m_runs[c];
            run.m_first = m_pos;
            run.m_count = end - m_pos;
            if (run.m_values.size() < run.m_count) {
                run.m_values.resize(run.m_count);
            }
            run.m_present.assign(run.m_count, 0);
        }
        sqlite3_bind_int64(stmt, 1, m_keys[m_pos]);
        sqlite3_bind_int64(stmt, 2, m_keys[end - 1]);
        std::size_t at = m_pos;
        int step;
        while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
            // Records another object added after this cursor was opened are not in the keyset.
            sqlite3_int64 rowid = sqlite3_column_int64(stmt, 0);
            while (at < end && m_keys[at] < rowid) {
                ++at;
            }
            if (at == end) {
                break;
            }
            if (m_keys[at] != rowid) {
                continue;
            }
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const int field = static_cast<int>(i) + 1;
                int type = sqlite3_column_type(stmt, field);
                if (type != SQLITE_BLOB && type != SQLITE_TEXT) {
                    continue;
                }
                const void* bytes = sqlite3_column_blob(stmt, field);
                int size = sqlite3_column_bytes(stmt, field);
                if (bytes != nullptr && size > 0) {
                    Run& run = m_runs[columns[i]];
                    run.m_values[at - m_pos].assign(static_cast<const char*>(bytes),
                                                    static_cast<std::size_t>(size));
                    run.m_present[at - m_pos] = 1;
                }
            }
        }
        // Reset at once so that no read lock outlives the call.
        sqlite3_reset(stmt);
        const bool ok = step == SQLITE_ROW || step == SQLITE_DONE;
        for (int c : columns) {
            Run& run = m_runs[c];
            if (!ok) {
                run.m_count = 0;
            }
            run.m_generation = g_writeGeneration;
            run.m_fetched = CoarseNow();
        }
        return ok;
    }

    bool RunHolds(const Run& run) const {
        return run.m_generation == g_writeGeneration && m_pos >= run.m_first &&
               m_pos - run.m_first < run.m_count &&
               CoarseNow() - run.m_fetched < kRunLifetime;
    }

    // The stored bytes of a column of the current record, held here until the next read of
    // that column or write; null for Null, an empty value, a value that is not text, a record
    // gone, or end-of-table.
    const std::string* ReadCurrent(int column) {
        if (m_mode != Mode::None && m_valueSet[column]) {
            return ValueOf(column);
        }
        if (m_mode == Mode::Add || AtEnd()) {
            return nullptr;
        }
        if (m_runs.empty()) {
            m_runs.resize(m_columns.size());
        }
        Run& run = m_runs[column];
        if (!RunHolds(run) && !FetchRun(column)) {
            return nullptr;
        }
        const std::size_t at = m_pos - run.m_first;
        return run.m_present[at] ? &run.m_values[at] : nullptr;
    }

    // After a write of this object: its runs that were current stay current, with the record
    // it changed updated in them; every other object's runs are refetched.
    void NoteWrite(bool edited) {
        std::uint64_t before = g_writeGeneration++;
        for (std::size_t column = 0; column < m_runs.size(); ++column) {
            Run& run = m_runs[column];
            if (run.m_generation != before) {
                continue;
            }
            run.m_generation = g_writeGeneration;
            if (edited && m_valueSet[column] && m_pos >= run.m_first &&
                m_pos - run.m_first < run.m_count) {
                const std::size_t at = m_pos - run.m_first;
                const std::string* value = ValueOf(column);
                run.m_present[at] = value != nullptr;
                if (value != nullptr) {
                    run.m_values[at].assign(*value);
                }
            }
        }
    }

    sqlite3_stmt* Inserter() {
        if (m_inserter == nullptr) {
            std::string names;
            std::string marks;
            for (std::size_t i = 0; i < m_columns.size(); ++i) {
                names += (i ? ", " : "") + Quote(m_columns[i]);
                marks += i ? ", ?" : "?";
            }
            std::string sql =
                "INSERT INTO " + Quote(m_table) + " (" + names + ") VALUES (" + marks + ")";
            if (sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()),
                                   SQLITE_PREPARE_PERSISTENT, &m_inserter, nullptr) != SQLITE_OK) {
                sqlite3_finalize(m_inserter);
                m_inserter = nullptr;
            }
        }
        return m_inserter;
    }

    sqlite3_stmt* Updater(const std::vector<int>& set) {
        sqlite3_stmt*& stmt = m_updaters[m_valueSet];
        if (stmt == nullptr) {
            std::string sql = "UPDATE " + Quote(m_table) + " SET ";
            for (std::size_t i = 0; i < set.size(); ++i) {
                sql += (i ? ", " : "") + Quote(m_columns[set[i]]) + " = ?";
            }
            sql += " WHERE rowid = ?";
            if (sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()),
                                   SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
                sqlite3_finalize(stmt);
                stmt = nullptr;
            }
        }
        return stmt;
    }

    bool WriteRecord() {
        std::vector<int>& set = m_setColumns;
        set.clear();
        for (std::size_t i = 0; i < m_valueSet.size(); ++i) {
            if (m_valueSet[i]) {
                set.push_back(static_cast<int>(i));
            }
        }
        if (m_mode == Mode::Add) {
            // Every field is bound (unset ones as Null), so one statement serves every record.
            sqlite3_stmt* insert = Inserter();
            if (insert == nullptr) {
                return false;
            }
            for (std::size_t i = 0; i < m_columns.size(); ++i) {
                BindValue(insert, static_cast<int>(i + 1), ValueOf(i));
            }
            int step = sqlite3_step(insert);
            sqlite3_reset(insert);
            sqlite3_clear_bindings(insert);
            if (step != SQLITE_DONE) {
                return false;
            }
            (m_keysLoaded ? m_keys : m_addedKeys).push_back(sqlite3_last_insert_rowid(m_db));
            NoteWrite(false);
            return true;
        }
        if (set.empty()) {
            return true;
        }
        sqlite3_stmt* update = Updater(set);
        if (update == nullptr) {
            return false;
        }
        for (std::size_t i = 0; i < set.size(); ++i) {
            BindValue(update, static_cast<int>(i + 1), ValueOf(static_cast<std::size_t>(set[i])));
        }
        sqlite3_bind_int64(update, static_cast<int>(set.size() + 1), m_keys[m_pos]);
        const int step = sqlite3_step(update);
        sqlite3_reset(update);
        sqlite3_clear_bindings(update);
        if (step != SQLITE_DONE || sqlite3_changes(m_db) != 1) {
            return false;
        }
        NoteWrite(true);
        return true;
    }

    void BeginRecord(Mode mode) {
        m_mode = mode;
        m_values.resize(m_columns.size());
        m_hasValue.assign(m_columns.size(), 0);
        m_valueSet.assign(m_columns.size(), false);
    }

    bool Writable() const { return sqlite3_db_readonly(m_db, "main") == 0; }
};

CDbTable::CDbTable() : m_impl(std::make_unique<Impl>()) {}

CDbTable::~CDbTable() = default;

int CDbTable::Open(const std::string& table, const std::string& dbPath) {
    return Guarded(0, [&] {
        m_open = 0;
        m_open = OpenDatabase(dbPath) && OpenTableDef(RemoveDots(table)) && OpenRecordset();
        return m_open;
    });
}

int CDbTable::Close() {
    int wasOpen = m_open;
    m_open = 0;
    m_impl->CloseAll();
    return wasOpen;
}

int CDbTable::MoveTo(int n) {
    if (!m_open) {
        return 0;
    }
    Impl& d = *m_impl;
    d.m_mode = Impl::Mode::None;
    if (d.Keys().empty()) {
        return 0;
    }
    d.m_pos = d.m_keys.size() - 1;
    if (n < 0 || static_cast<std::size_t>(n) >= d.m_keys.size()) {
        return 0;
    }
    d.m_pos = static_cast<std::size_t>(n);
    return 1;
}

int CDbTable::MoveNext() {
    if (!m_open) {
        return 0;
    }
    Impl& d = *m_impl;
    d.m_mode = Impl::Mode::None;
    if (d.AtEnd()) {
        return 0;
    }
    ++d.m_pos;
    return 1;
}

int CDbTable::GetRecordCount() {
    if (!m_open) {
        return 0;
    }
    Impl& d = *m_impl;
    if (!d.LoadKeys()) {
        return -1;
    }
    if (d.m_pos < d.m_keys.size()) {
        d.m_mode = Impl::Mode::None;
        d.m_pos = d.m_keys.size() - 1;
    }
    return static_cast<int>(d.m_keys.size());
}

int CDbTable::GetField(const std::string& field, const std::string& def, std::string& out) {
    if (!m_open) {
        return 0;
    }
    return Guarded(1, [&] {
        out = def;
        int column = FindName(m_impl->m_columns, field);
        if (column >= 0) {
            if (const std::string* value = m_impl->ReadCurrent(column)) {
                out = *value;
            }
        }
        return 1;
    });
}

void CDbTable::ScanColumns(const std::vector<int>& columns) {
    if (!m_open) {
        return;
    }
    Impl& d = *m_impl;
    std::vector<int> valid;
    for (int c : columns) {
        if (c >= 0 && static_cast<std::size_t>(c) < d.m_columns.size() &&
            std::find(valid.begin(), valid.end(), c) == valid.end()) {
            valid.push_back(c);
        }
    }
    if (valid == d.m_scanColumns) {
        return;
    }
    sqlite3_finalize(d.m_scanReader);
    d.m_scanReader = nullptr;
    d.m_scanColumns = std::move(valid);
}

int CDbTable::FieldColumn(std::string_view field) const {
    return m_open ? FindName(m_impl->m_columns, field) : -1;
}

void CDbTable::GetField(int column, std::string& out) {
    out.clear();
    if (!m_open || column < 0 || static_cast<std::size_t>(column) >= m_impl->m_columns.size()) {
        return;
    }
    Guarded(0, [&] {
        if (const std::string* value = m_impl->ReadCurrent(column)) {
            out.assign(*value);
        }
        return 1;
    });
}

int CDbTable::GetField(const std::string& field, const std::string& def, char* buffer, int size) {
    if (!m_open) {
        return 0;
    }
    std::string text;
    GetField(field, def, text);
    if (buffer != nullptr && size > 0) {
        std::memset(buffer, 0, static_cast<std::size_t>(size));
        std::memcpy(buffer, text.data(), std::min(text.size(), static_cast<std::size_t>(size - 1)));
    }
    return 1;
}

int CDbTable::SetField(const std::string& field, std::string_view value) {
    if (!m_open) {
        return 0;
    }
    return Guarded(0, [&] {
        Impl& d = *m_impl;
        int column = FindName(d.m_columns, field);
        if (d.m_mode == Impl::Mode::None || column < 0) {
            return 0;
        }
        d.m_hasValue[column] = !value.empty();
        if (!value.empty()) {
            d.m_values[column].assign(value);
        }
        d.m_valueSet[column] = true;
        return 1;
    });
}

int CDbTable::AddNew() {
    if (!m_open || !m_impl->Writable()) {
        return 0;
    }
    return Guarded(0, [&] {
        m_impl->BeginRecord(Impl::Mode::Add);
        return 1;
    });
}

int CDbTable::Edit() {
    if (!m_open || m_impl->AtEnd() || !m_impl->Writable()) {
        return 0;
    }
    return Guarded(0, [&] {
        m_impl->BeginRecord(Impl::Mode::Edit);
        return 1;
    });
}

int CDbTable::Update() {
    if (!m_open || m_impl->m_mode == Impl::Mode::None) {
        return 0;
    }
    int result = Guarded(0, [&] { return m_impl->WriteRecord() ? 1 : 0; });
    m_impl->m_mode = Impl::Mode::None;
    return result;
}

int CDbTable::OpenDatabase(const std::string& dbPath) {
    m_open = 0;
    return Guarded(0, [&] { return m_impl->OpenFile(dbPath, false) ? 1 : 0; });
}

int CDbTable::OpenTableDef(const std::string& table) {
    return Guarded(0, [&] {
        Impl& d = *m_impl;
        if (d.m_db == nullptr) {
            return 0;
        }
        d.AppendNewTable();
        d.m_defOpen = false;
        d.m_defName.clear();
        d.m_defColumns.clear();
        if (!UsableName(table)) {
            return 0;
        }
        std::optional<std::string> name = d.FindTable(table);
        if (!name || !d.LoadColumns(*name, d.m_defColumns)) {
            return 0;
        }
        d.m_defName = *name;
        d.m_defOpen = true;
        return 1;
    });
}

int CDbTable::OpenRecordset() {
    m_open = 0;
    m_open = Guarded(0, [&] {
        Impl& d = *m_impl;
        d.CloseCursor();
        if (d.m_db == nullptr || !d.m_defOpen) {
            return 0;
        }
        Statement last(d.m_db, "SELECT max(rowid) FROM " + Quote(d.m_defName));
        if (!last || sqlite3_step(last.Get()) != SQLITE_ROW) {
            return 0;
        }
        if (sqlite3_column_type(last.Get(), 0) == SQLITE_NULL) {
            d.m_keysLoaded = true; // an empty table
            d.m_keysOk = true;
        } else {
            d.m_lastKeyAtOpen = sqlite3_column_int64(last.Get(), 0);
        }
        d.m_table = d.m_defName;
        d.m_columns = d.m_defColumns;
        d.m_pos = 0;
        return 1;
    });
    return m_open;
}

int CDbTable::CreateTable(const std::string& table, const std::vector<std::string>& fields) {
    return Guarded(0, [&] {
        Impl& d = *m_impl;
        std::string name = RemoveDots(table);
        d.AppendNewTable();
        if (d.m_db == nullptr || !UsableName(name)) {
            Close();
            return 0;
        }
        d.m_creating = true;
        d.m_newName = name;
        int result = 1;
        for (const std::string& field : fields) {
            if (!UsableName(field) || FindName(d.m_newFields, field) >= 0) {
                result = 0;
                break;
            }
            d.m_newFields.push_back(field);
            d.m_fieldsAdded = 1;
        }
        return result;
    });
}

int CDbTable::CreateIndex(const CDbIndex& index) {
    return Guarded(0, [&] {
        Impl& d = *m_impl;
        if (!d.m_creating || !UsableName(index.m_name) || index.m_fields.empty()) {
            return 0;
        }
        for (const std::string& field : index.m_fields) {
            if (FindName(d.m_newFields, field) < 0) {
                return 0;
            }
        }
        d.m_newIndexes.push_back(index);
        return 1;
    });
}

int CDbTable::AppendTableDef() {
    return Guarded(0, [&] { return m_impl->AppendNewTable(); });
}

int CDbTable::BeginTrans() {
    return m_impl->m_db != nullptr && Exec(m_impl->m_db, "BEGIN") ? 1 : 0;
}

// Both end what other objects could not yet see, or make it vanish: every run is refetched.
int CDbTable::CommitTrans() {
    ++g_writeGeneration;
    return m_impl->m_db != nullptr && Exec(m_impl->m_db, "COMMIT") ? 1 : 0;
}

int CDbTable::Rollback() {
    ++g_writeGeneration;
    return m_impl->m_db != nullptr && Exec(m_impl->m_db, "ROLLBACK") ? 1 : 0;
}

int DropTable(const std::string& table, const std::string& dbPath) {
    return Guarded(0, [&] {
        CDbTable db;
        CDbTable::Impl& d = *db.m_impl;
        if (!d.OpenFile(dbPath, false)) {
            return 0;
        }
        if (std::optional<std::string> name = d.FindTable(RemoveDots(table))) {
            Exec(d.m_db, "DROP TABLE " + Quote(*name));
            ++g_writeGeneration;
        }
        return 1;
    });
}

int CreateDatabaseTable(const std::string& table, const std::vector<std::string>& fields,
                        const std::string& dbPath) {
    return Guarded(0, [&] {
        CDbTable db;
        if (!db.m_impl->OpenFile(dbPath, false) && !db.m_impl->OpenFile(dbPath, true)) {
            return 0;
        }
        if (!db.CreateTable(table, fields)) {
            return 0;
        }
        // Fails harmlessly when the table exists: it is left as it is.
        db.AppendTableDef();
        return 1;
    });
}

int ReadRecordField(const std::string& table, const std::string& field, int n,
                    const std::string& def, std::string& out, const std::string& dbPath) {
    return Guarded(0, [&] {
        out = def;
        CDbTable db;
        if (!db.Open(table, dbPath)) {
            return 0;
        }
        db.MoveTo(n);
        db.GetField(field, def, out);
        return 1;
    });
}

int AppendRecordField(const std::string& table, const std::string& field, std::string_view value,
                      const std::string& dbPath) {
    return Guarded(0, [&] {
        CDbTable db;
        if (!db.Open(table, dbPath)) {
            return 0;
        }
        db.AddNew();
        int result = db.SetField(field, value);
        db.Update();
        return result;
    });
}

int CountRecords(const std::string& table, const std::string& dbPath) {
    return Guarded(-1, [&] {
        CDbTable db;
        if (!db.Open(table, dbPath)) {
            return -1;
        }
        return db.GetRecordCount();
    });
}
