#include "store/AddressBook.h"

#include "store/DbTable.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Shift_JIS (code page 932) of a UTF-8 text, through the C library rather than the code
// under test.
std::string ToSjis(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return "<no iconv>";
    }
    std::string in = utf8;
    std::string out(in.size() * 2 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) {
        return "<not convertible>";
    }
    out.resize(out.size() - outLeft);
    return out;
}

// Rows of a query straight through SQLite, columns joined by "|", NULL as "<null>".
std::vector<std::string> Rows(const std::string& db, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* handle = nullptr;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
    if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
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
    } else {
        rows.push_back(std::string("<error: ") + sqlite3_errmsg(handle) + ">");
    }
    sqlite3_finalize(stmt);
    sqlite3_close_v2(handle);
    return rows;
}

class AddressBookTest : public ::testing::Test {
protected:
    TestDir m_dir;
    std::string m_db = m_dir / "quillo.mdb";

    // The main database as start-up leaves it: a file holding other tables.
    void SetUp() override { ASSERT_EQ(CreateDatabaseTable("news.example.com", {"name"}, m_db), 1); }
};

TEST_F(AddressBookTest, FirstUseCreatesTableAndIndex) {
    EXPECT_EQ(AddAddressBookEntry("Taro", "taro@example.jp", "news.example.com", "fj.test", m_db),
              1);

    EXPECT_EQ(Rows(m_db, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name"),
              (std::vector<std::string>{"@Mail", "newsexamplecom"}));
    std::vector<std::string> expectedFields = {"Name", "Mail", "Server", "Group"};
    for (const char* japanese : {"名前", "〒", "住所", "アパート", "電話番号"}) {
        expectedFields.push_back(ToSjis(japanese));
    }
    expectedFields.push_back("FAX");
    expectedFields.push_back(ToSjis("携帯"));
    for (const char* rest : {"HP", "REM1", "REM2", "REM3", "REM4", "REM5", "BOLD"}) {
        expectedFields.push_back(rest);
    }
    ASSERT_EQ(expectedFields.size(), 18u);
    EXPECT_EQ(Rows(m_db, "SELECT name FROM pragma_table_info('@Mail') ORDER BY cid"),
              expectedFields);

    // One unique index, on Mail alone.
    EXPECT_EQ(Rows(m_db, "SELECT il.\"unique\", ii.name FROM pragma_index_list('@Mail') AS il, "
                         "pragma_index_info(il.name) AS ii WHERE il.origin = 'c'"),
              (std::vector<std::string>{"1|Mail"}));

    EXPECT_EQ(Rows(m_db, "SELECT * FROM \"@Mail\""),
              (std::vector<std::string>{"Taro|taro@example.jp,news.example.com|news.example.com|"
                                        "fj.test|<null>|<null>|<null>|<null>|<null>|<null>|<null>|"
                                        "<null>|<null>|<null>|<null>|<null>|<null>|<null>"}));
}

struct Sighting {
    std::string name;
    std::string address;
    std::string server;
    std::string group;
    int added;
};

struct SightingsCase {
    const char* what;
    std::vector<Sighting> sightings;
    std::vector<std::string> records; // Name|Mail|Server|Group in table order
};

std::ostream& operator<<(std::ostream& os, const SightingsCase& c) {
    return os << c.what;
}

class SightingsTest : public AddressBookTest,
                      public ::testing::WithParamInterface<SightingsCase> {};

TEST_P(SightingsTest, OneRecordPerAddressAndServer) {
    for (const Sighting& s : GetParam().sightings) {
        EXPECT_EQ(AddAddressBookEntry(s.name, s.address, s.server, s.group, m_db), s.added)
            << s.address << " on " << s.server;
    }
    EXPECT_EQ(Rows(m_db, "SELECT Name, Mail, Server, \"Group\" FROM \"@Mail\" ORDER BY rowid"),
              GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(
    Posters, SightingsTest,
    ::testing::Values(SightingsCase{"same poster, same server, another group",
                                    {{"Taro", "t@x.jp", "news.a", "fj.one", 1},
                                     {"Taro Y", "t@x.jp", "news.a", "fj.two", 0}},
                                    {"Taro|t@x.jp,news.a|news.a|fj.one"}},
                      SightingsCase{
                          "same poster on two servers",
                          {{"Taro", "t@x.jp", "news.a", "fj.one", 1},
                           {"Taro", "t@x.jp", "news.b", "fj.one", 1},
                           {"Taro", "t@x.jp", "news.b", "fj.two", 0}},
                          {"Taro|t@x.jp,news.a|news.a|fj.one", "Taro|t@x.jp,news.b|news.b|fj.one"}},
                      SightingsCase{"two posters on one server in turn",
                                    {{"A", "a@x.jp", "news.a", "g", 1},
                                     {"B", "b@x.jp", "news.a", "g", 1},
                                     {"A", "a@x.jp", "news.a", "g", 0},
                                     {"C", "c@x.jp", "news.a", "g", 1}},
                                    {"A|a@x.jp,news.a|news.a|g", "B|b@x.jp,news.a|news.a|g",
                                     "C|c@x.jp,news.a|news.a|g"}},
                      SightingsCase{"shift_jis name and empty name",
                                    {{"\x8e\x52\x93\x63", "y@x.jp", "news.a", "fj.\x95\x5c", 1},
                                     {"", "z@x.jp", "news.a", "g", 1}},
                                    {"\x8e\x52\x93\x63|y@x.jp,news.a|news.a|fj.\x95\x5c",
                                     "<null>|z@x.jp,news.a|news.a|g"}}));

TEST_F(AddressBookTest, MissingDatabaseRecordsNothing) {
    std::string missing = m_dir / "none.mdb";
    EXPECT_EQ(AddAddressBookEntry("Taro", "t@x.jp", "news.a", "g", missing), 0);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(AddressBookTest, WindowFieldsAreReachedByTheirShiftJisNames) {
    ASSERT_EQ(AddAddressBookEntry("Taro", "t@x.jp", "news.a", "g", m_db), 1);
    {
        CDbTable table;
        ASSERT_EQ(table.Open(kAddressBookLookupName, m_db), 1);
        ASSERT_EQ(table.Edit(), 1);
        ASSERT_EQ(table.SetField(AddressBookField::kFullName, ToSjis("山田太郎")), 1);
        ASSERT_EQ(table.SetField(AddressBookField::kMobile, "090"), 1);
        ASSERT_EQ(table.SetField(AddressBookField::kBold, "YES"), 1);
        ASSERT_EQ(table.Update(), 1);
    }
    EXPECT_EQ(Rows(m_db, "SELECT \"" + ToSjis("名前") + "\", \"" + ToSjis("携帯") +
                             "\", BOLD FROM \"@Mail\""),
              (std::vector<std::string>{ToSjis("山田太郎") + "|090|YES"}));
    // Later sightings leave the details alone.
    EXPECT_EQ(AddAddressBookEntry("Other", "t@x.jp", "news.a", "g2", m_db), 0);
    EXPECT_EQ(Rows(m_db, "SELECT Name, \"Group\", BOLD FROM \"@Mail\""),
              (std::vector<std::string>{"Taro|g|YES"}));
}

} // namespace
