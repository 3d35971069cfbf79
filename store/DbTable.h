#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Tables of a database file (SQLite), reached a record at a time.
//
// Every field is text, stored byte-exact; an empty value is stored as Null and a Null (or an
// unreadable value) reads back as the caller's default. Table and field names are matched
// without regard to ASCII letter case, and every "." is removed from a table name before it
// is used (except by OpenTableDef). Records keep the order in which they were added; editing
// does not move a record. Results are 1 for success and 0 for failure (counts -1); no error
// leaves this layer as an exception, and nothing is shown or logged.

// An index of a table being created (CreateTable ... CreateIndex ... AppendTableDef). Key
// fields are ascending. Unique and primary indexes refuse a second record with the same key;
// primary and required ones refuse a record whose key fields are Null; Null keys are never
// compared with each other (ignore-nulls), so the ignore-nulls, clustered and foreign flags
// are kept for the record only.
struct CDbIndex {
    std::string m_name;
    std::vector<std::string> m_fields;
    bool m_primary = false;
    bool m_unique = false;
    bool m_required = false;
    bool m_ignoreNulls = false;
    bool m_clustered = false;
    bool m_foreign = false;
};

class CDbTable {
public:
    CDbTable();
    ~CDbTable();
    CDbTable(const CDbTable&) = delete;
    CDbTable& operator=(const CDbTable&) = delete;

    // Closes whatever was open, then opens the file (never creating it), the table and a
    // cursor over its records. The cursor's records are fixed here: records added later by
    // another object are not seen, while changes to the records it holds are (at once when
    // made in this process, within a few milliseconds when made by another program).
    int Open(const std::string& table, const std::string& dbPath);
    // Releases everything the object holds. 1 when a table was open, else 0.
    int Close();

    // Moves to the last record, then to record n (0 = first). Fails for n outside the table,
    // leaving the cursor on the last record.
    int MoveTo(int n);
    // Next record; past the last one the cursor is at end-of-table. 0 when already there.
    int MoveNext();
    // Moves to the last record unless at end-of-table, then returns the number of records.
    // 0 when no table is open, -1 when the records cannot be read.
    int GetRecordCount();

    // The field's text of the current record, or def when the field is Null, missing, or the
    // cursor is at end-of-table. Returns 0 only when no table is open.
    int GetField(const std::string& field, const std::string& def, std::string& out);
    // As above into buffer: zero-filled, then the text cut to size - 1 bytes.
    int GetField(const std::string& field, const std::string& def, char* buffer, int size);
    // For a scan that reads the same fields of every record: the field's column, found once
    // (-1 when the table has no such field), and its text of the current record (empty for
    // Null, end-of-table or no such column) written over out, whose storage is reused.
    int FieldColumn(std::string_view field) const;
    void GetField(int column, std::string& out);
    // The columns such a scan reads: they are then read together, one statement for a run of
    // records rather than one per column. Columns the table does not have are left out.
    void ScanColumns(const std::vector<int>& columns);

    // Sets a field of the record begun with AddNew or Edit; empty stores Null.
    int SetField(const std::string& field, std::string_view value);
    // Begins a new record, added at the end by Update. The cursor does not move.
    int AddNew();
    // Begins changing the current record.
    int Edit();
    // Writes the record begun with AddNew or Edit. Fails (the record is not written) when an
    // index refuses it.
    int Update();

    // Opens only the database file; the open flag stays clear.
    int OpenDatabase(const std::string& dbPath);
    // Finishes a pending table creation, then opens the named table's definition. The name is
    // used as given, dots included.
    int OpenTableDef(const std::string& table);
    // Opens the cursor over the table of the opened definition.
    int OpenRecordset();
    // Begins the definition of a new table with the given text fields (after finishing any
    // pending one). The table is made by AppendTableDef.
    int CreateTable(const std::string& table, const std::vector<std::string>& fields);
    // Adds an index to the table being defined.
    int CreateIndex(const CDbIndex& index);
    // Makes the table being defined; fails when a table of that name exists already.
    int AppendTableDef();

    // Groups many writes of this object's database file into one transaction, so that
    // thousands of records are written in one go instead of one file sync each. Changes made
    // after BeginTrans are kept by CommitTrans and dropped by Rollback (Close rolls back a
    // transaction still open).
    int BeginTrans();
    int CommitTrans();
    int Rollback();

private:
    friend int DropTable(const std::string& table, const std::string& dbPath);
    friend int CreateDatabaseTable(const std::string& table, const std::vector<std::string>& fields,
                                   const std::string& dbPath);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
    int m_open = 0;
};

// Deletes the table. 1 whenever the file could be opened, whether or not the table existed.
int DropTable(const std::string& table, const std::string& dbPath);
// Makes the table in the file, creating the file when it cannot be opened. A table that
// exists already is left as it is (and the result is still 1).
int CreateDatabaseTable(const std::string& table, const std::vector<std::string>& fields,
                        const std::string& dbPath);
// out = the field of record n, or def. 1 when the table could be opened. As with MoveTo, an
// index past the end reads the last record.
int ReadRecordField(const std::string& table, const std::string& field, int n,
                    const std::string& def, std::string& out, const std::string& dbPath);
// Adds a record holding only this field. The result of setting the field, or 0 when the
// table cannot be opened.
int AppendRecordField(const std::string& table, const std::string& field, std::string_view value,
                      const std::string& dbPath);
// The number of records, or -1 when the table cannot be opened.
int CountRecords(const std::string& table, const std::string& dbPath);
