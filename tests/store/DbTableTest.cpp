#include "store/DbTable.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

// Looks at the file the way another program would: straight through SQLite.
class RawDb {
public:
    explicit RawDb(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~RawDb() { sqlite3_close_v2(m_db); }

    bool Exec(const std::string& sql) {
        return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    // Every row of a query, its columns joined by "|", NULL shown as "<null>".
    std::vector<std::string> Rows(const std::string& sql) {
        std::vector<std::string> rows;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            rows.push_back("<error: "s + sqlite3_errmsg(m_db) + ">");
            return rows;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                row += i ? "|" : "";
                if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
                    row += "<null>";
                } else {
                    const char* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, i));
                    row.append(bytes ? bytes : "", sqlite3_column_bytes(stmt, i));
                }
            }
            rows.push_back(row);
        }
        sqlite3_finalize(stmt);
        return rows;
    }
    std::string One(const std::string& sql) {
        std::vector<std::string> rows = Rows(sql);
        return rows.empty() ? "<no row>" : rows.front();
    }

private:
    sqlite3* m_db = nullptr;
};

const std::vector<std::string> kFields = {"Num", "Subject", "From"};

class DbTableTest : public ::testing::Test {
protected:
    TestDir m_dir;
    std::string m_db = m_dir / "test.mdb";

    // A table "T" holding one record per value of Subject, Num = its index.
    void MakeTable(const std::vector<std::optional<std::string>>& subjects,
                   const std::string& table = "T") {
        ASSERT_EQ(CreateDatabaseTable(table, kFields, m_db), 1);
        CDbTable t;
        ASSERT_EQ(t.Open(table, m_db), 1);
        for (std::size_t i = 0; i < subjects.size(); ++i) {
            ASSERT_EQ(t.AddNew(), 1);
            ASSERT_EQ(t.SetField("Num", std::to_string(i)), 1);
            if (subjects[i]) {
                ASSERT_EQ(t.SetField("Subject", *subjects[i]), 1);
            }
            ASSERT_EQ(t.Update(), 1);
        }
    }

    std::string Read(CDbTable& t, const std::string& field = "Subject") {
        std::string out = "unset";
        EXPECT_EQ(t.GetField(field, "<def>", out), 1);
        // A scan's read by column gives the same bytes, empty where the default would be.
        std::string byColumn = "left from an earlier record";
        t.GetField(t.FieldColumn(field), byColumn);
        EXPECT_EQ(byColumn, out == "<def>" ? "" : out);
        return out;
    }
};

// --- names -----------------------------------------------------------------------------------

struct NameCase {
    const char* created;
    const char* opened;
    int opens;
};

class TableNameTest : public DbTableTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(TableNameTest, DotsAreDroppedAndLetterCaseIgnored) {
    const NameCase& c = GetParam();
    ASSERT_EQ(CreateDatabaseTable(c.created, kFields, m_db), 1);
    ASSERT_EQ(AppendRecordField(c.created, "Subject", "x", m_db), 1);
    CDbTable t;
    EXPECT_EQ(t.Open(c.opened, m_db), c.opens);
    EXPECT_EQ(CountRecords(c.opened, m_db), c.opens ? 1 : -1);
    if (c.opens) {
        EXPECT_EQ(Read(t), "x");
    }
}

INSTANTIATE_TEST_SUITE_P(Names, TableNameTest,
                         ::testing::Values(NameCase{"fj.comp.misc", "fjcompmisc", 1},
                                           NameCase{"fj.comp.misc", "FJ.COMP.MISC", 1},
                                           NameCase{"fjcompmisc", "f.j.c.o.m.p.m.i.s.c", 1},
                                           NameCase{"news.example.com", "newsexamplecom", 1},
                                           NameCase{"Header", "HEADER", 1},
                                           NameCase{"@Mail", "@mail", 1},
                                           NameCase{"Header", "Headers", 0},
                                           NameCase{"fj.comp", "fj-comp", 0}));

TEST_F(DbTableTest, TableIsStoredWithoutItsDots) {
    ASSERT_EQ(CreateDatabaseTable("news.example.com", kFields, m_db), 1);
    RawDb raw(m_db);
    EXPECT_EQ(raw.One("SELECT name FROM sqlite_schema WHERE type = 'table'"), "newsexamplecom");
    EXPECT_EQ(raw.One("SELECT group_concat(name, ',') FROM pragma_table_info('newsexamplecom')"),
              "Num,Subject,From");
}

TEST_F(DbTableTest, OpenTableDefKeepsTheDots) {
    ASSERT_EQ(CreateDatabaseTable("fj.comp", kFields, m_db), 1);
    CDbTable t;
    ASSERT_EQ(t.OpenDatabase(m_db), 1);
    EXPECT_EQ(t.GetRecordCount(), 0); // the open flag stays clear
    EXPECT_EQ(t.OpenTableDef("fj.comp"), 0);
    ASSERT_EQ(t.OpenTableDef("FJCOMP"), 1);
    EXPECT_EQ(t.AddNew(), 0); // still no cursor
    ASSERT_EQ(t.OpenRecordset(), 1);
    EXPECT_EQ(t.AddNew(), 1);
    EXPECT_EQ(t.SetField("subject", "s"), 1);
    EXPECT_EQ(t.Update(), 1);
    EXPECT_EQ(t.GetRecordCount(), 1);
}

// --- field values ----------------------------------------------------------------------------

struct FieldCase {
    const char* what;
    std::optional<std::string> stored; // nothing: the field is never set
    std::string readField;
    std::string expected;
    const char* rawType; // typeof() of the stored Subject
};

class FieldValueTest : public DbTableTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(FieldValueTest, ReadsBackExactlyOrTheDefault) {
    const FieldCase& c = GetParam();
    MakeTable({c.stored});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    EXPECT_EQ(Read(t, c.readField), c.expected);
    RawDb raw(m_db);
    EXPECT_EQ(raw.One("SELECT typeof(Subject) FROM T"), c.rawType);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FieldValueTest,
    ::testing::Values(
        FieldCase{"plain", "hello", "Subject", "hello", "blob"},
        FieldCase{"field name in other case", "hello", "SUBJECT", "hello", "blob"},
        FieldCase{"empty stores null", ""s, "Subject", "<def>", "null"},
        FieldCase{"never set", std::nullopt, "Subject", "<def>", "null"},
        FieldCase{"missing field", "hello", "Subjects", "<def>", "blob"},
        FieldCase{"blanks kept", "  a b  ", "Subject", "  a b  ", "blob"},
        FieldCase{"shift_jis with 0x5C trail", "\x95\x5c\x8e\xa6", "Subject", "\x95\x5c\x8e\xa6",
                  "blob"},
        FieldCase{"invalid utf-8 bytes", "\xff\xfe\x80", "Subject", "\xff\xfe\x80", "blob"},
        FieldCase{"embedded nul", "a\0b"s, "Subject", "a\0b"s, "blob"},
        FieldCase{"quotes and equals", "'\";=--", "Subject", "'\";=--", "blob"},
        FieldCase{"300 bytes", std::string(300, 'q'), "Subject", std::string(300, 'q'), "blob"}));

TEST_F(DbTableTest, ValuesWrittenByAnotherProgramReadAsText) {
    MakeTable({});
    RawDb raw(m_db);
    ASSERT_TRUE(raw.Exec("INSERT INTO T (Num, Subject) VALUES ('0', 'typed text')"));
    ASSERT_TRUE(raw.Exec("INSERT INTO T (Num, Subject) VALUES ('1', 42)"));
    ASSERT_TRUE(raw.Exec("INSERT INTO T (Num, Subject) VALUES ('2', '')"));
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    EXPECT_EQ(Read(t), "typed text");
    t.MoveNext();
    EXPECT_EQ(Read(t), "42"); // a text field turns the number into text
    t.MoveNext();
    EXPECT_EQ(Read(t), "<def>"); // empty is the same as Null

    // A field without a type keeps a number as a number: not text, so the default.
    ASSERT_TRUE(raw.Exec("CREATE TABLE Untyped (Subject)"));
    ASSERT_TRUE(raw.Exec("INSERT INTO Untyped VALUES (42), (4.5), ('text')"));
    CDbTable untyped;
    ASSERT_EQ(untyped.Open("Untyped", m_db), 1);
    EXPECT_EQ(Read(untyped), "<def>");
    untyped.MoveNext();
    EXPECT_EQ(Read(untyped), "<def>");
    untyped.MoveNext();
    EXPECT_EQ(Read(untyped), "text");
}

struct CutCase {
    std::optional<std::string> stored;
    int size;
    std::string expected;
};

class BufferCutTest : public DbTableTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(BufferCutTest, CutsToSizeLessOneAndZeroFills) {
    const CutCase& c = GetParam();
    MakeTable({c.stored});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    std::vector<char> buffer(c.size + 1, 'X'); // the byte past the buffer must stay 'X'
    ASSERT_EQ(t.GetField("Subject", "default", buffer.data(), c.size), 1);
    EXPECT_EQ(std::string(buffer.data(), c.expected.size()), c.expected);
    for (int i = static_cast<int>(c.expected.size()); i < c.size; ++i) {
        EXPECT_EQ(buffer[i], '\0') << "byte " << i;
    }
    EXPECT_EQ(buffer[c.size], 'X');
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, BufferCutTest,
    ::testing::Values(CutCase{std::string(200, 'a'), 128, std::string(127, 'a')},
                      CutCase{std::string(127, 'b'), 128, std::string(127, 'b')},
                      CutCase{std::string(128, 'c'), 128, std::string(127, 'c')},
                      CutCase{"short", 128, "short"}, CutCase{"short", 1, ""},
                      CutCase{"\x82\xa0\x82\xa2", 4, "\x82\xa0\x82"}, // splits a character
                      CutCase{std::nullopt, 4, "def"}, CutCase{std::nullopt, 64, "default"}));

// --- cursor ----------------------------------------------------------------------------------

struct MoveCase {
    int n;
    int result;
    std::string after; // Subject read after the move
};

class MoveToTest : public DbTableTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveToTest, PastTheEndFailsOnTheLastRecord) {
    const MoveCase& c = GetParam();
    MakeTable({"r0", "r1", "r2"});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    EXPECT_EQ(t.MoveTo(c.n), c.result);
    EXPECT_EQ(Read(t), c.after);

    std::string out;
    EXPECT_EQ(ReadRecordField("T", "Subject", c.n, "<def>", out, m_db), 1);
    EXPECT_EQ(out, c.after);
}

INSTANTIATE_TEST_SUITE_P(Positions, MoveToTest,
                         ::testing::Values(MoveCase{0, 1, "r0"}, MoveCase{1, 1, "r1"},
                                           MoveCase{2, 1, "r2"}, MoveCase{3, 0, "r2"},
                                           MoveCase{1000, 0, "r2"}, MoveCase{-1, 0, "r2"}));

TEST_F(DbTableTest, MoveNextRunsToEndOfTable) {
    MakeTable({"r0", "r1", "r2"});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        seen.push_back(Read(t));
        EXPECT_EQ(t.MoveNext(), 1);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"r0", "r1", "r2"}));
    EXPECT_EQ(Read(t), "<def>"); // at end-of-table
    EXPECT_EQ(t.Edit(), 0);
    EXPECT_EQ(t.MoveNext(), 0);
    EXPECT_EQ(t.GetRecordCount(), 3);
    EXPECT_EQ(Read(t), "<def>"); // the count does not leave end-of-table
    EXPECT_EQ(t.MoveTo(0), 1);
    EXPECT_EQ(Read(t), "r0");
}

TEST_F(DbTableTest, GetRecordCountMovesToTheLastRecord) {
    MakeTable({"r0", "r1", "r2"});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    EXPECT_EQ(Read(t), "r0");
    EXPECT_EQ(t.GetRecordCount(), 3);
    EXPECT_EQ(Read(t), "r2");
}

TEST_F(DbTableTest, EmptyTable) {
    MakeTable({});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    EXPECT_EQ(Read(t), "<def>");
    EXPECT_EQ(t.GetRecordCount(), 0);
    EXPECT_EQ(t.MoveTo(0), 0);
    EXPECT_EQ(Read(t), "<def>");
    EXPECT_EQ(t.MoveNext(), 0);
    EXPECT_EQ(t.Edit(), 0);
    std::string out = "x";
    EXPECT_EQ(ReadRecordField("T", "Subject", 0, "<def>", out, m_db), 1);
    EXPECT_EQ(out, "<def>");
    EXPECT_EQ(CountRecords("T", m_db), 0);
}

TEST_F(DbTableTest, EditingKeepsTheRecordInPlace) {
    MakeTable({"a", "b", "c"});
    {
        CDbTable t;
        ASSERT_EQ(t.Open("T", m_db), 1);
        ASSERT_EQ(t.MoveTo(1), 1);
        EXPECT_EQ(t.SetField("Subject", "x"), 0); // not editing yet
        ASSERT_EQ(t.Edit(), 1);
        EXPECT_EQ(t.SetField("Subject", "B (edited)"), 1);
        EXPECT_EQ(t.SetField("No such field", "x"), 0);
        ASSERT_EQ(t.Update(), 1);
        EXPECT_EQ(t.Update(), 0); // nothing begun
        EXPECT_EQ(Read(t), "B (edited)");
        EXPECT_EQ(Read(t, "Num"), "1"); // the other field is untouched
        ASSERT_EQ(t.MoveTo(0), 1);
        ASSERT_EQ(t.Edit(), 1);
        ASSERT_EQ(t.SetField("Subject", ""), 1);
        ASSERT_EQ(t.Update(), 1);
        EXPECT_EQ(Read(t), "<def>");
    }
    RawDb raw(m_db);
    EXPECT_EQ(raw.Rows("SELECT Num, Subject FROM T ORDER BY rowid"),
              (std::vector<std::string>{"0|<null>", "1|B (edited)", "2|c"}));
}

TEST_F(DbTableTest, EditsOfDifferentFieldsSetOnlyTheirOwn) {
    // Each set of fields edited has a statement of its own, prepared once and used again.
    MakeTable({"a", "b", "c"});
    {
        CDbTable t;
        ASSERT_EQ(t.Open("T", m_db), 1);
        struct Edit {
            int record;
            std::vector<std::pair<std::string, std::string>> fields;
        };
        const std::vector<Edit> edits = {
            {0, {{"Subject", "s0"}}},
            {1, {{"Num", "n1"}}},
            {2, {{"Subject", "s2"}, {"Num", "n2"}}},
            {1, {{"Subject", "s1"}}},
            {0, {{"Num", "n0"}, {"Subject", ""}}},
            {2, {{"Num", "n2b"}}},
        };
        for (const Edit& edit : edits) {
            ASSERT_EQ(t.MoveTo(edit.record), 1);
            ASSERT_EQ(t.Edit(), 1);
            for (const auto& [field, value] : edit.fields)
                ASSERT_EQ(t.SetField(field, value), 1);
            ASSERT_EQ(t.Update(), 1);
        }
    }
    RawDb raw(m_db);
    EXPECT_EQ(raw.Rows("SELECT Num, Subject FROM T ORDER BY rowid"),
              (std::vector<std::string>{"n0|<null>", "n1|s1", "n2b|s2"}));
}

TEST_F(DbTableTest, AddNewAppendsWithoutMovingTheCursor) {
    MakeTable({"a", "b"});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    ASSERT_EQ(t.AddNew(), 1);
    ASSERT_EQ(t.SetField("Subject", "new"), 1);
    EXPECT_EQ(Read(t), "new"); // the record being added
    ASSERT_EQ(t.Update(), 1);
    EXPECT_EQ(Read(t), "a");
    EXPECT_EQ(t.GetRecordCount(), 3);
    EXPECT_EQ(Read(t), "new");
}

// --- one object after another, two at once ---------------------------------------------------

TEST_F(DbTableTest, KeysetIsFixedWhenOpenedButValuesAreCurrent) {
    MakeTable({"a", "b"});
    CDbTable first;
    ASSERT_EQ(first.Open("T", m_db), 1);
    EXPECT_EQ(Read(first), "a");

    CDbTable second;
    ASSERT_EQ(second.Open("t", m_db), 1);
    ASSERT_EQ(second.AddNew(), 1);
    ASSERT_EQ(second.SetField("Subject", "added by second"), 1);
    ASSERT_EQ(second.Update(), 1);
    ASSERT_EQ(second.Edit(), 1);
    ASSERT_EQ(second.SetField("Subject", "a (changed by second)"), 1);
    ASSERT_EQ(second.Update(), 1);

    EXPECT_EQ(Read(first), "a (changed by second)");
    ASSERT_EQ(first.AddNew(), 1);
    ASSERT_EQ(first.SetField("Subject", "added by first"), 1);
    ASSERT_EQ(first.Update(), 1);
    EXPECT_EQ(first.GetRecordCount(), 3);
    EXPECT_EQ(Read(first), "added by first");
    EXPECT_EQ(second.GetRecordCount(), 3);
    EXPECT_EQ(Read(second), "added by second");
    EXPECT_EQ(CountRecords("T", m_db), 4);
}

TEST_F(DbTableTest, ChangesByAnotherProgramAreSeen) {
    MakeTable({"a", "b"});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    EXPECT_EQ(Read(t), "a");
    RawDb raw(m_db);
    ASSERT_TRUE(raw.Exec("UPDATE T SET Subject = X'6F74686572' WHERE Num = X'30'"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Read(t), "other");
    ASSERT_TRUE(raw.Exec("DELETE FROM T WHERE Num = X'31'"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(t.MoveNext(), 1);
    EXPECT_EQ(Read(t), "<def>"); // a record deleted under the cursor reads as defaults
    EXPECT_EQ(t.Edit(), 1);
    EXPECT_EQ(t.Update(), 1); // nothing set: nothing to write
    EXPECT_EQ(t.Edit(), 1);
    EXPECT_EQ(t.SetField("Subject", "x"), 1);
    EXPECT_EQ(t.Update(), 0);
}

TEST_F(DbTableTest, WaitsForAnotherProgramsLock) {
    MakeTable({"a"});
    RawDb raw(m_db);
    ASSERT_TRUE(raw.Exec("BEGIN EXCLUSIVE"));
    ASSERT_TRUE(raw.Exec("INSERT INTO T (Subject) VALUES (X'62')"));
    std::thread release([&raw] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        raw.Exec("COMMIT");
    });
    EXPECT_EQ(AppendRecordField("T", "Subject", "c", m_db), 1);
    release.join();
    EXPECT_EQ(raw.Rows("SELECT Subject FROM T ORDER BY rowid"),
              (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(DbTableTest, TransactionsCommitAndRollBack) {
    MakeTable({});
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    ASSERT_EQ(t.BeginTrans(), 1);
    for (const char* s : {"x", "y"}) {
        ASSERT_EQ(t.AddNew(), 1);
        ASSERT_EQ(t.SetField("Subject", s), 1);
        ASSERT_EQ(t.Update(), 1);
    }
    EXPECT_EQ(t.Rollback(), 1);
    EXPECT_EQ(CountRecords("T", m_db), 0);
    ASSERT_EQ(t.BeginTrans(), 1);
    ASSERT_EQ(t.AddNew(), 1);
    ASSERT_EQ(t.SetField("Subject", "z"), 1);
    ASSERT_EQ(t.Update(), 1);
    EXPECT_EQ(t.CommitTrans(), 1);
    EXPECT_EQ(t.CommitTrans(), 0); // none open
    std::string out;
    EXPECT_EQ(ReadRecordField("T", "Subject", 0, "", out, m_db), 1);
    EXPECT_EQ(out, "z");
}

// --- failures --------------------------------------------------------------------------------

TEST_F(DbTableTest, ClosedObjectReturnsFailureValues) {
    MakeTable({"a"});
    CDbTable fresh;
    CDbTable closed;
    ASSERT_EQ(closed.Open("T", m_db), 1);
    EXPECT_EQ(closed.Close(), 1);
    for (CDbTable* t : {&fresh, &closed}) {
        std::string out = "untouched";
        char buffer[4] = {'u', 'u', 'u', 'u'};
        EXPECT_EQ(t->MoveTo(0), 0);
        EXPECT_EQ(t->MoveNext(), 0);
        EXPECT_EQ(t->GetRecordCount(), 0);
        EXPECT_EQ(t->GetField("Subject", "d", out), 0);
        EXPECT_EQ(out, "untouched");
        EXPECT_EQ(t->FieldColumn("Subject"), -1);
        t->GetField(0, out);
        EXPECT_EQ(out, "");
        EXPECT_EQ(t->GetField("Subject", "d", buffer, 4), 0);
        EXPECT_EQ(buffer[0], 'u');
        EXPECT_EQ(t->SetField("Subject", "x"), 0);
        EXPECT_EQ(t->AddNew(), 0);
        EXPECT_EQ(t->Edit(), 0);
        EXPECT_EQ(t->Update(), 0);
        EXPECT_EQ(t->OpenTableDef("T"), 0);
        EXPECT_EQ(t->OpenRecordset(), 0);
        EXPECT_EQ(t->CreateTable("U", {"f"}), 0);
        EXPECT_EQ(t->CreateIndex(CDbIndex{"i", {"f"}}), 0);
        EXPECT_EQ(t->BeginTrans(), 0);
        EXPECT_EQ(t->Close(), 0);
    }
}

struct BadFileCase {
    const char* what;
    const char* name;     // inside the test directory
    const char* contents; // nullptr: leave missing; "/": make a directory
};

class BadFileTest : public DbTableTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFileTest, NothingOpensAndNothingIsCreated) {
    const BadFileCase& c = GetParam();
    std::string path = m_dir / c.name;
    if (c.contents && std::strcmp(c.contents, "/") == 0) {
        std::filesystem::create_directory(path);
    } else if (c.contents) {
        ASSERT_TRUE(WriteWholeFile(path, c.contents));
    }
    CDbTable t;
    EXPECT_EQ(t.Open("T", path), 0);
    EXPECT_EQ(t.OpenDatabase(path), 0);
    EXPECT_EQ(CountRecords("T", path), -1);
    std::string out = "x";
    EXPECT_EQ(ReadRecordField("T", "Subject", 0, "def", out, path), 0);
    EXPECT_EQ(out, "def");
    EXPECT_EQ(AppendRecordField("T", "Subject", "v", path), 0);
    EXPECT_EQ(DropTable("T", path), 0);
    EXPECT_EQ(CreateDatabaseTable("T", kFields, path), 0);
    if (!c.contents) {
        EXPECT_FALSE(std::filesystem::exists(path));
    } else if (std::strcmp(c.contents, "/") != 0) {
        EXPECT_EQ(ReadWholeFile(path), c.contents);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFileTest,
    ::testing::Values(BadFileCase{"missing directory", "no/such/dir/x.mdb", nullptr},
                      BadFileCase{"not a database", "text.mdb",
                                  "This is not a database file, just some text that is long "
                                  "enough to hold a header.\n"},
                      BadFileCase{"a directory", "dir.mdb", "/"}));

TEST_F(DbTableTest, MissingTableOrFileFailsWithoutCreating) {
    CDbTable t;
    EXPECT_EQ(t.Open("T", m_db), 0);
    EXPECT_FALSE(std::filesystem::exists(m_db));
    EXPECT_EQ(DropTable("T", m_db), 0);
    EXPECT_FALSE(std::filesystem::exists(m_db));

    MakeTable({"a"});
    EXPECT_EQ(t.Open("Other", m_db), 0);
    EXPECT_EQ(CountRecords("Other", m_db), -1);
    EXPECT_EQ(AppendRecordField("Other", "Subject", "v", m_db), 0);
}

// --- creating and dropping tables ------------------------------------------------------------

TEST_F(DbTableTest, CreateDatabaseTableLeavesAnExistingTableAlone) {
    MakeTable({"kept"});
    EXPECT_EQ(CreateDatabaseTable("t", {"Other", "Fields"}, m_db), 1);
    RawDb raw(m_db);
    EXPECT_EQ(raw.One("SELECT group_concat(name, ',') FROM pragma_table_info('T')"),
              "Num,Subject,From");
    EXPECT_EQ(raw.Rows("SELECT Num, Subject FROM T"), (std::vector<std::string>{"0|kept"}));
    EXPECT_EQ(raw.One("SELECT count(*) FROM sqlite_schema WHERE type = 'table'"), "1");
}

TEST_F(DbTableTest, CreateDatabaseTableAddsToAnExistingFile) {
    MakeTable({"a"});
    EXPECT_EQ(CreateDatabaseTable("Second.Table", {"name"}, m_db), 1);
    EXPECT_EQ(AppendRecordField("SecondTable", "NAME", "g", m_db), 1);
    EXPECT_EQ(CountRecords("T", m_db), 1);
    EXPECT_EQ(CountRecords("second.table", m_db), 1);
}

struct BadFieldsCase {
    const char* what;
    std::vector<std::string> fields;
};

class BadFieldsTest : public DbTableTest, public ::testing::WithParamInterface<BadFieldsCase> {};

TEST_P(BadFieldsTest, FailsAndMakesNoTable) {
    EXPECT_EQ(CreateDatabaseTable("T", GetParam().fields, m_db), 0);
    CDbTable t;
    EXPECT_EQ(t.Open("T", m_db), 0);
}

INSTANTIATE_TEST_SUITE_P(Fields, BadFieldsTest,
                         ::testing::Values(BadFieldsCase{"same name twice",
                                                         {"Name", "Other", "NAME"}},
                                           BadFieldsCase{"empty name", {"Name", ""}},
                                           BadFieldsCase{"nul in name", {"Na\0me"s}}));

TEST_F(DbTableTest, CreateTableStepByStep) {
    MakeTable({"a"});
    CDbTable t;
    ASSERT_EQ(t.OpenDatabase(m_db), 1);
    EXPECT_EQ(t.CreateIndex(CDbIndex{"i", {"f"}}), 0); // no table being defined
    ASSERT_EQ(t.CreateTable("New.One", {"Key", "Value"}), 1);
    EXPECT_EQ(t.CreateIndex(CDbIndex{"i", {"NoSuchField"}}), 0);
    EXPECT_EQ(t.CreateIndex(CDbIndex{"i", {}}), 0);
    // Opening a definition finishes the pending one first.
    ASSERT_EQ(t.OpenTableDef("NEWONE"), 1);
    ASSERT_EQ(t.OpenRecordset(), 1);
    EXPECT_EQ(t.GetRecordCount(), 0);

    ASSERT_EQ(t.OpenDatabase(m_db), 1);
    ASSERT_EQ(t.CreateTable("T", {"x"}), 1);
    EXPECT_EQ(t.AppendTableDef(), 0); // exists already
    EXPECT_EQ(t.AppendTableDef(), 1); // nothing pending
    ASSERT_EQ(t.CreateTable("Empty", {}), 1);
    EXPECT_EQ(t.AppendTableDef(), 1);
    EXPECT_EQ(t.OpenTableDef("Empty"), 0); // a table without fields is never made
}

TEST_F(DbTableTest, UniqueRequiredIndexRefusesDuplicatesAndNull) {
    CDbTable t;
    ASSERT_EQ(CreateDatabaseTable("Seed", {"x"}, m_db), 1);
    ASSERT_EQ(t.OpenDatabase(m_db), 1);
    ASSERT_EQ(t.CreateTable("Keyed", {"Key", "Value"}), 1);
    CDbIndex index;
    index.m_name = "Key";
    index.m_fields = {"key"};
    index.m_unique = true;
    index.m_required = true;
    ASSERT_EQ(t.CreateIndex(index), 1);
    ASSERT_EQ(t.AppendTableDef(), 1);
    ASSERT_EQ(t.Open("KEYED", m_db), 1);

    struct Add {
        std::string key;
        int result;
    };
    for (const Add& add : {Add{"k1", 1}, Add{"k2", 1}, Add{"k1", 0}, Add{"K1", 1}, Add{"", 0}}) {
        ASSERT_EQ(t.AddNew(), 1);
        ASSERT_EQ(t.SetField("Key", add.key), 1);
        ASSERT_EQ(t.SetField("Value", "v"), 1);
        EXPECT_EQ(t.Update(), add.result) << "key \"" << add.key << "\"";
    }
    EXPECT_EQ(t.GetRecordCount(), 3);
    RawDb raw(m_db);
    EXPECT_EQ(raw.Rows("SELECT Key FROM Keyed ORDER BY rowid"),
              (std::vector<std::string>{"k1", "k2", "K1"}));
}

TEST_F(DbTableTest, DropTable) {
    MakeTable({"a"}, "fj.comp");
    EXPECT_EQ(DropTable("no.such.table", m_db), 1);
    EXPECT_EQ(CountRecords("fjcomp", m_db), 1);
    EXPECT_EQ(DropTable("FJ.COMP", m_db), 1);
    EXPECT_EQ(CountRecords("fjcomp", m_db), -1);
    EXPECT_EQ(DropTable("FJ.COMP", m_db), 1);
}

TEST_F(DbTableTest, AppendRecordFieldReportsTheFieldNotTheRecord) {
    MakeTable({});
    EXPECT_EQ(AppendRecordField("T", "Subject", "s", m_db), 1);
    EXPECT_EQ(AppendRecordField("T", "Subject", "", m_db), 1);
    EXPECT_EQ(AppendRecordField("T", "NoSuchField", "s", m_db), 0);
    RawDb raw(m_db);
    EXPECT_EQ(raw.Rows("SELECT Subject FROM T ORDER BY rowid"),
              (std::vector<std::string>{"s", "<null>", "<null>"}));
}

TEST_F(DbTableTest, ScanOfManyRecordsSeesEveryOneInOrder) {
    MakeTable({});
    constexpr int kCount = 3000; // several read runs
    {
        CDbTable t;
        ASSERT_EQ(t.Open("T", m_db), 1);
        ASSERT_EQ(t.BeginTrans(), 1);
        for (int i = 0; i < kCount; ++i) {
            ASSERT_EQ(t.AddNew(), 1);
            ASSERT_EQ(t.SetField("Num", std::to_string(i)), 1);
            ASSERT_EQ(t.Update(), 1);
        }
        ASSERT_EQ(t.CommitTrans(), 1);
    }
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    ASSERT_EQ(t.GetRecordCount(), kCount);
    ASSERT_EQ(t.MoveTo(0), 1);
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(Read(t, "NUM"), std::to_string(i));
        if (i % 700 == 5) { // an edit in the middle of the scan is seen at once
            ASSERT_EQ(t.Edit(), 1);
            ASSERT_EQ(t.SetField("Num", "edited"), 1);
            ASSERT_EQ(t.Update(), 1);
            ASSERT_EQ(Read(t, "NUM"), "edited");
        }
        ASSERT_EQ(t.MoveNext(), 1);
    }
    EXPECT_EQ(t.MoveNext(), 0);
    EXPECT_EQ(t.MoveTo(705), 1);
    EXPECT_EQ(Read(t, "Num"), "edited");
    EXPECT_EQ(t.MoveTo(706), 1);
    EXPECT_EQ(Read(t, "Num"), "706");
}

TEST_F(DbTableTest, ColumnsScannedTogetherReadAsEachAlone) {
    // Subject is Null in every third record; From is read alone beside the scanned columns.
    constexpr int kCount = 400; // two read runs
    std::vector<std::optional<std::string>> subjects;
    for (int i = 0; i < kCount; ++i)
        subjects.push_back(i % 3 == 0 ? std::nullopt : std::optional("s" + std::to_string(i)));
    MakeTable(subjects);
    CDbTable t;
    ASSERT_EQ(t.Open("T", m_db), 1);
    const int num = t.FieldColumn("num");
    const int subject = t.FieldColumn("SUBJECT");
    t.ScanColumns({num, subject, t.FieldColumn("missing"), num});
    ASSERT_EQ(t.MoveTo(0), 1);
    RawDb raw(m_db);
    std::string value;
    for (int i = 0; i < kCount; ++i) {
        if (i == 300) {
            // Another program's change is seen once the runs read before it have lapsed.
            ASSERT_TRUE(raw.Exec("UPDATE T SET Subject = X'6F74686572' WHERE Num = X'333030'"));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        t.GetField(num, value);
        ASSERT_EQ(value, std::to_string(i));
        t.GetField(subject, value);
        ASSERT_EQ(value, i == 300 ? "other" : subjects[i].value_or("")) << i;
        EXPECT_EQ(Read(t, "From"), "<def>");
        if (i == 350) { // an edit in the middle of the scan is seen at once
            ASSERT_EQ(t.Edit(), 1);
            ASSERT_EQ(t.SetField("Subject", "edited"), 1);
            ASSERT_EQ(t.Update(), 1);
            t.GetField(subject, value);
            ASSERT_EQ(value, "edited");
        }
        ASSERT_EQ(t.MoveNext(), 1);
    }
    t.GetField(subject, value);
    EXPECT_EQ(value, ""); // end-of-table
}

} // namespace
