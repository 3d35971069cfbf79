// The address book as its window reads and writes it: the list by server, one record's details,
// and the save of the personal fields.

#include "store/AddressBook.h"

#include "store/DbTable.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct Record {
    std::string server;
    std::string mail;
    std::string bold;
};

// The table "@Mail" with its index, as the header download makes it, then records as another
// program might have left them: any Server, Mail and BOLD.
void AddRecords(const std::string& db, const std::vector<Record>& records) {
    ASSERT_EQ(CreateDatabaseTable("other", {"x"}, db), 1);
    ASSERT_EQ(AddAddressBookEntry("first", "first@x.jp", "news.first", "g", db), 1);
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(handle, "DELETE FROM \"@Mail\"", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(handle);

    CDbTable table;
    ASSERT_EQ(table.Open(kAddressBookLookupName, db), 1);
    for (const Record& r : records) {
        ASSERT_EQ(table.AddNew(), 1);
        table.SetField(AddressBookField::kName, "nick " + r.mail);
        table.SetField(AddressBookField::kServer, r.server);
        table.SetField(AddressBookField::kMail, r.mail);
        table.SetField(AddressBookField::kBold, r.bold);
        ASSERT_EQ(table.Update(), 1) << r.mail;
    }
}

// The list as text: "server: address#record*" with * for bold, servers joined by "; ".
std::string ListText(const std::vector<CAddressServer>& servers) {
    std::string text;
    for (const CAddressServer& s : servers) {
        text += (text.empty() ? "" : "; ") + s.m_server + ":";
        for (const CAddressItem& a : s.m_addresses)
            text +=
                " " + a.m_address + "#" + std::to_string(a.m_ref.m_record) + (a.m_bold ? "*" : "");
    }
    return text;
}

struct ListCase {
    const char* name;
    std::vector<Record> records;
    std::string list;
};

std::ostream& operator<<(std::ostream& os, const ListCase& c) {
    return os << c.name;
}

class AddressListTest : public testing::TestWithParam<ListCase> {};

TEST_P(AddressListTest, GroupsByServer) {
    TestDir dir;
    const std::string db = dir / "quillo.mdb";
    AddRecords(db, GetParam().records);
    std::vector<CAddressServer> servers;
    ASSERT_EQ(ReadAddressBookList(db, servers), 1);
    EXPECT_EQ(ListText(servers), GetParam().list);
}

const std::string kLong(2100, 'l');

INSTANTIATE_TEST_SUITE_P(
    Records, AddressListTest,
    testing::Values(ListCase{"TwoServersSortedAddressesInRecordOrder",
                             {{"news.b", "z@x,news.b", ""},
                              {"news.a", "y@x,news.a", "YES"},
                              {"news.b", "a@x,news.b", ""},
                              {"news.a", "b@x,news.a", ""}},
                             "news.a: y@x#1* b@x#3; news.b: z@x#0 a@x#2"},
                    // Sorted as a tree sorts them: letters without regard to case, then bytes.
                    ListCase{"ServersIgnoreLetterCase",
                             {{"news.c", "c@x,news.c", ""},
                              {"News.B", "b@x,News.B", ""},
                              {"news.b", "b@x,news.b", ""},
                              {"news.a", "a@x,news.a", ""}},
                             "news.a: a@x#3; News.B: b@x#1; news.b: b@x#2; news.c: c@x#0"},
                    ListCase{"MailWithoutCommaKeepsOnlyItsServer",
                             {{"news.a", "nocomma@x", ""}, {"news.b", "b@x,news.b", ""}},
                             "news.a:; news.b: b@x#1"},
                    ListCase{"RecordWithoutServerIsLeftOut",
                             {{"", "a@x,news.a", ""}, {"news.b", "b@x,news.b", ""}},
                             "news.b: b@x#1"},
                    ListCase{"AddressCutAtLastComma",
                             {{"news.a", "\"a, b\"@x,news.a", ""}},
                             "news.a: \"a, b\"@x#0"},
                    // Two records whose Mail differs only after the comma show as one item: the
                    // later record's, bold since one of them is.
                    ListCase{"SameAddressTwiceUnderAServer",
                             {{"news.a", "a@x,news.a", "YES"}, {"news.a", "a@x,old.a", ""}},
                             "news.a: a@x#1*"},
                    ListCase{"SameAddressThriceAmongOthers",
                             {{"news.a", "a@x,news.a", ""},
                              {"news.a", "b@x,news.a", ""},
                              {"news.a", "a@x,two", "YES"},
                              {"news.b", "a@x,news.b", ""},
                              {"news.a", "a@x,three", ""},
                              {"news.a", "c@x,news.a", ""}},
                             "news.a: a@x#4* b@x#1 c@x#5; news.b: a@x#3"},
                    // Mail is read as 2,047 bytes: the comma beyond them is not seen.
                    ListCase{"LongMailCut",
                             {{"news.a", kLong + ",news.a", ""}, {"news.a", "s@x," + kLong, ""}},
                             "news.a: s@x#1"},
                    ListCase{"ShiftJisServerAndAddress",
                             {{"\x83\x6a\x83\x85\x81\x5b\x83\x58", "\x8e\x52@x,\x83\x6a", "YES"}},
                             "\x83\x6a\x83\x85\x81\x5b\x83\x58: \x8e\x52@x#0*"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AddressListMissing, NoDatabaseOrTableGivesNothing) {
    TestDir dir;
    std::vector<CAddressServer> servers = {{"stale", {}}};
    EXPECT_EQ(ReadAddressBookList(dir / "none.mdb", servers), 0);
    EXPECT_TRUE(servers.empty());
    ASSERT_EQ(CreateDatabaseTable("other", {"x"}, dir / "quillo.mdb"), 1);
    EXPECT_EQ(ReadAddressBookList(dir / "quillo.mdb", servers), 0);
}

// ---- details of one record ----

class AddressDetailsTest : public testing::Test {
protected:
    void SetUp() override {
        AddRecords(m_db, {{"news.a", "a@x,news.a", ""}, {"news.a", "b@x,news.a", "YES"}});
    }
    // Every column of the record at position, "|" between, Null as "-".
    std::string Columns(int position) {
        CDbTable table;
        EXPECT_EQ(table.Open(kAddressBookLookupName, m_db), 1);
        table.MoveTo(position);
        using namespace AddressBookField;
        std::string text;
        for (const char* field :
             {kName, kMail, kServer, kGroup, kFullName, kPostalCode, kAddress, kBuilding, kPhone,
              kFax, kMobile, kHomePage, kRem1, kRem2, kRem3, kRem4, kRem5, kBold}) {
            std::string value;
            table.GetField(field, "-", value);
            text += (text.empty() ? "" : "|") + value;
        }
        return text;
    }

    TestDir m_dir;
    std::string m_db = m_dir / "quillo.mdb";
};

CAddressDetails Filled(bool bold) {
    CAddressDetails d;
    d.m_name = "never written";
    d.m_fullName = "\x8e\x52\x93\x63"; // 山田
    d.m_postalCode = "100-0001";
    d.m_address = "addr";
    d.m_building = "bldg";
    d.m_phone = "03";
    d.m_fax = "fax";
    d.m_mobile = "090";
    d.m_homePage = "http://x.jp/";
    d.m_remarks[0] = "r1";
    d.m_remarks[1] = "r2";
    d.m_remarks[2] = "";
    d.m_remarks[3] = "r4";
    d.m_remarks[4] = "r5";
    d.m_bold = bold;
    return d;
}

TEST_F(AddressDetailsTest, WriteThenReadEveryField) {
    ASSERT_EQ(WriteAddressDetails(m_db, {0, "a@x,news.a"}, Filled(true)), 1);
    EXPECT_EQ(Columns(0), "nick a@x,news.a|a@x,news.a|news.a|-|\x8e\x52\x93\x63|100-0001|addr|"
                          "bldg|03|fax|090|http://x.jp/|r1|r2|-|r4|r5|YES");
    // The other record is untouched.
    EXPECT_EQ(Columns(1), "nick b@x,news.a|b@x,news.a|news.a|-|-|-|-|-|-|-|-|-|-|-|-|-|-|YES");

    CAddressDetails read;
    ASSERT_EQ(ReadAddressDetails(m_db, {0, "a@x,news.a"}, read), 1);
    CAddressDetails expected = Filled(true);
    expected.m_name = "nick a@x,news.a";
    EXPECT_EQ(read, expected);
}

TEST_F(AddressDetailsTest, BoldOffStoresNull) {
    ASSERT_EQ(WriteAddressDetails(m_db, {1, "b@x,news.a"}, CAddressDetails()), 1);
    EXPECT_EQ(Columns(1), "nick b@x,news.a|b@x,news.a|news.a|-|-|-|-|-|-|-|-|-|-|-|-|-|-|-");
    CAddressDetails read;
    ASSERT_EQ(ReadAddressDetails(m_db, {1, "b@x,news.a"}, read), 1);
    EXPECT_FALSE(read.m_bold);
}

struct StaleRefCase {
    const char* name;
    CAddressRef ref;
};

std::ostream& operator<<(std::ostream& os, const StaleRefCase& c) {
    return os << c.name;
}

class StaleRefTest : public AddressDetailsTest, public testing::WithParamInterface<StaleRefCase> {};

TEST_P(StaleRefTest, NeitherReadsNorWrites) {
    const std::string before = Columns(0) + "\n" + Columns(1);
    CAddressDetails read = Filled(true);
    EXPECT_EQ(ReadAddressDetails(m_db, GetParam().ref, read), 0);
    EXPECT_EQ(read, CAddressDetails());
    EXPECT_EQ(WriteAddressDetails(m_db, GetParam().ref, Filled(true)), 0);
    EXPECT_EQ(Columns(0) + "\n" + Columns(1), before);
}

INSTANTIATE_TEST_SUITE_P(Refs, StaleRefTest,
                         testing::Values(StaleRefCase{"OtherRecordsMail", {0, "b@x,news.a"}},
                                         StaleRefCase{"PastTheEnd", {2, "a@x,news.a"}},
                                         StaleRefCase{"Negative", {-1, "a@x,news.a"}},
                                         // What a server item would carry.
                                         StaleRefCase{"NoMail", {0, ""}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AddressDetailsMissing, NoDatabase) {
    TestDir dir;
    CAddressDetails read;
    EXPECT_EQ(ReadAddressDetails(dir / "none.mdb", {0, "a@x,news.a"}, read), 0);
    EXPECT_EQ(WriteAddressDetails(dir / "none.mdb", {0, "a@x,news.a"}, Filled(false)), 0);
}

} // namespace
