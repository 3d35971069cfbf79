#include "store/HeaderStore.h"

#include "store/DbTable.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct GroupPathCase {
    std::string server;
    std::string group;
    std::string expected; // below the base directory
};

const GroupPathCase kGroupPathCases[] = {
    {"news.example.com", "fj.comp.misc", "news.example.com/fj.comp.misc"},
    {"news.example.com", "japan.\x83\x65\x83\x58\x83\x67",
     "news.example.com/japan.\x83\x65\x83\x58\x83\x67"},
    {"../..", "x", "..%2F../x"},
    {"..", "..", "%2E%2E/%2E%2E"},
    {".", "a/b", "%2E/a%2Fb"},
    {"host", "../../x", "host/..%2F..%2Fx"},
    {"host", "a\\b", "host/a%5Cb"},
    {"host", "a\x01z", "host/a%01z"},
    {"host", "", "host/%"},
    {"ho%st", "g", "ho%25st/g"},
};

TEST(HeaderStorePaths, GroupDirectoryIsOneComponentPerName) {
    for (const GroupPathCase& c : kGroupPathCases) {
        SCOPED_TRACE(c.server + " / " + c.group);
        EXPECT_EQ(GroupDirectory("/base", c.server, c.group), "/base/" + c.expected);
        EXPECT_EQ(ServerDirectory("/base", c.server),
                  "/base/" + c.expected.substr(0, c.expected.find('/')));
    }
}

TEST(HeaderStorePaths, LongGroupNameIsCutToOneComponent) {
    const std::string dir = GroupDirectory("/base", "host", std::string(300, 'g'));
    const std::string component = dir.substr(std::string("/base/host/").size());
    EXPECT_EQ(component.size(), 255u);
    EXPECT_EQ(component.substr(0, 221), std::string(221, 'g'));
    EXPECT_EQ(component.substr(221, 2), "%~");
    EXPECT_EQ(component.find('/'), std::string::npos);
}

TEST(HeaderStorePaths, FilesOfTheGroupDirectory) {
    EXPECT_EQ(HeaderDbPath("/b/s/g"), "/b/s/g/header.mdb");
    EXPECT_EQ(HeaderIniPath("/b/s/g"), "/b/s/g/header.ini");
    EXPECT_EQ(CacheFilePath("/b/s/g", "<abc@example.com>"), "/b/s/g/abc@example.com.ntx");
}

struct CacheNameCase {
    std::string mesid;
    std::string expected;
    bool bracketed;
};

const CacheNameCase kCacheNameCases[] = {
    {"<abc@example.com>", "abc@example.com.ntx", true},
    {"abc@example.com", "abc@example.com.ntx", false},
    {"<abc@example.com", "abc@example.com.ntx", false},
    {"abc@example.com>", "abc@example.com.ntx", false},
    {"<<abc@example.com>>", "<abc@example.com>.ntx", true},
    {"<>", ".ntx", true},
    {"<", ".ntx", false},
    {"", ".ntx", false},
    {"<..>", "...ntx", true},
    {"<../../etc/passwd>", "..%2F..%2Fetc%2Fpasswd.ntx", true},
    {"<a/b@x>", "a%2Fb@x.ntx", true},
    {"<a\\b@x>", "a%5Cb@x.ntx", true},
    {"<a\x01"
     "b@x>",
     "a%01b@x.ntx", true},
    {"<50%@x>", "50%25@x.ntx", true},
    {"<a\0b@x>"s, "a%00b@x.ntx", true},
};

TEST(HeaderStorePaths, CacheFileNameFromMessageId) {
    for (const CacheNameCase& c : kCacheNameCases) {
        SCOPED_TRACE(c.mesid);
        EXPECT_EQ(CacheFileName(c.mesid), c.expected);
        EXPECT_EQ(IsBracketedMessageId(c.mesid), c.bracketed);
    }
}

TEST(HeaderStorePaths, LongMessageIdFitsWithItsSuffix) {
    const std::string name = CacheFileName("<" + std::string(300, 'm') + "@x>");
    EXPECT_EQ(name.size(), 255u);
    EXPECT_EQ(name.substr(name.size() - 4), ".ntx");
    EXPECT_NE(name, CacheFileName("<" + std::string(300, 'm') + "@y>"));
}

TEST(HeaderStoreDirectories, HostileNamesStayInsideTheBaseDirectory) {
    TestDir base;
    const std::string root = base / "base";
    fs::create_directory(root);
    for (const GroupPathCase& c : kGroupPathCases) {
        SCOPED_TRACE(c.server + " / " + c.group);
        EXPECT_EQ(CreateGroupDirectory(root, c.server, c.group), 1);
        EXPECT_TRUE(fs::is_directory(root + "/" + c.expected));
        // Creating it again uses the existing directory.
        EXPECT_EQ(CreateGroupDirectory(root, c.server, c.group), 1);
    }
    std::size_t outside = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(base.Path()))
        ++outside;
    EXPECT_EQ(outside, 1u);
    // Every group directory is exactly two levels below the base directory.
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const fs::path relative = fs::relative(entry.path(), root);
        const auto depth = std::distance(relative.begin(), relative.end());
        EXPECT_LE(depth, 2) << entry.path();
    }
}

TEST(HeaderStoreDirectories, GroupsOfTheSameNameOnTwoServersAreSeparate) {
    TestDir base;
    ASSERT_EQ(CreateGroupDirectory(base.Path(), "news.a.example", "fj.test"), 1);
    ASSERT_EQ(CreateGroupDirectory(base.Path(), "news.b.example", "fj.test"), 1);
    const std::string a = GroupDirectory(base.Path(), "news.a.example", "fj.test");
    const std::string b = GroupDirectory(base.Path(), "news.b.example", "fj.test");
    ASSERT_EQ(CreateHeaderTable(a), 1);
    ASSERT_EQ(AppendRecordField(kHeaderTable, "MESID", "<only-a@x>", HeaderDbPath(a)), 1);
    EXPECT_EQ(CountRecords(kHeaderTable, HeaderDbPath(a)), 1);
    EXPECT_EQ(CountRecords(kHeaderTable, HeaderDbPath(b)), -1);
}

std::vector<std::string> ColumnNames(const std::string& dbPath, const std::string& table) {
    std::vector<std::string> names;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        const std::string sql = "PRAGMA table_info(\"" + table + "\")";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW)
                names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return names;
}

TEST(HeaderStoreTable, CreatedWithTheNineFieldsInOrder) {
    TestDir dir;
    ASSERT_EQ(CreateHeaderTable(dir.Path()), 1);
    EXPECT_TRUE(fs::exists(dir / "header.mdb"));
    const std::vector<std::string> expected = {"Num", "MESID", "FROM",  "SUB", "DATE",
                                               "REF", "READ",  "MEDIA", "HIDE"};
    EXPECT_EQ(ColumnNames(dir / "header.mdb", "Header"), expected);
}

TEST(HeaderStoreTable, CreatingAgainKeepsTheRecords) {
    TestDir dir;
    ASSERT_EQ(CreateHeaderTable(dir.Path()), 1);
    ASSERT_EQ(AppendRecordField("Header", "NUM", "7", HeaderDbPath(dir.Path())), 1);
    EXPECT_EQ(CreateHeaderTable(dir.Path()), 1);
    EXPECT_EQ(CountRecords("Header", HeaderDbPath(dir.Path())), 1);
    std::string num;
    EXPECT_EQ(ReadRecordField("Header", "Num", 0, "", num, HeaderDbPath(dir.Path())), 1);
    EXPECT_EQ(num, "7");
}

TEST(HeaderStoreCounters, WrittenAsTheHeaderDownloadWritesThem) {
    TestDir dir;
    WriteHeaderCounters(dir.Path(), 160, 100);
    WriteLastHeader(dir.Path(), 100);
    WriteLastHeader(dir.Path(), 101);
    EXPECT_EQ(ReadWholeFile(dir / "header.ini"), "[HEADER]\ncount=160\nMIN=100\nLASTHEADER=101\n");
    EXPECT_EQ(ReadLastHeader(dir.Path()), 101);

    // The next download rewrites count and MIN in place.
    WriteHeaderCounters(dir.Path(), 170, 101);
    EXPECT_EQ(ReadWholeFile(dir / "header.ini"), "[HEADER]\ncount=170\nMIN=101\nLASTHEADER=101\n");
}

struct LastHeaderCase {
    const char* file; // nullptr: no counters file at all
    int expected;
};

const LastHeaderCase kLastHeaderCases[] = {
    {nullptr, 0},
    {"", 0},
    {"[HEADER]\r\ncount=5\r\n", 0},
    {"[OTHER]\r\nLASTHEADER=9\r\n", 0},
    {"[header]\r\nlastheader=150\r\n", 150},
    {"[HEADER]\r\nLASTHEADER=42abc\r\n", 42},
    {"[HEADER]\r\nLASTHEADER=\r\n", 0},
    {"[HEADER]\r\nLASTHEADER=99999999999\r\n", 2147483647},
};

TEST(HeaderStoreCounters, LastHeaderReadsAsANumberWithZeroForMissing) {
    for (const LastHeaderCase& c : kLastHeaderCases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        TestDir dir;
        if (c.file)
            ASSERT_TRUE(WriteWholeFile(dir / "header.ini", c.file));
        EXPECT_EQ(ReadLastHeader(dir.Path()), c.expected);
    }
}

TEST(HeaderStoreCounters, LastHeaderIsReadThroughA128ByteBuffer) {
    TestDir dir;
    // Only the first 127 bytes of the value are read, so the digits after them do not count.
    ASSERT_TRUE(WriteWholeFile(
        dir / "header.ini", "[HEADER]\r\nLASTHEADER=" + std::string(124, '0') + "123" + "456\r\n"));
    EXPECT_EQ(ReadLastHeader(dir.Path()), 123);
}

TEST(HeaderStoreCache, EmptyCacheFileIsDeletedAndCountsAsNotFetched) {
    TestDir dir;
    const std::string path = CacheFilePath(dir.Path(), "<a@x>");
    EXPECT_FALSE(IsArticleCached(path));

    ASSERT_TRUE(WriteWholeFile(path, ""));
    EXPECT_FALSE(IsArticleCached(path));
    EXPECT_FALSE(fs::exists(path));

    ASSERT_TRUE(WriteWholeFile(path, "Subject: x\r\n\r\nbody\r\n"));
    EXPECT_TRUE(IsArticleCached(path));
    EXPECT_EQ(ReadWholeFile(path), "Subject: x\r\n\r\nbody\r\n");
}

struct HeaderRecord {
    std::string num;
    std::string mesid;
    std::string ref;
};

void AddHeaders(const std::string& groupDir, const std::vector<HeaderRecord>& records) {
    ASSERT_EQ(CreateHeaderTable(groupDir), 1);
    CDbTable table;
    ASSERT_EQ(table.Open("Header", HeaderDbPath(groupDir)), 1);
    for (const HeaderRecord& r : records) {
        ASSERT_EQ(table.AddNew(), 1);
        table.SetField("NUM", r.num);
        table.SetField("MESID", r.mesid);
        table.SetField("REF", r.ref);
        ASSERT_EQ(table.Update(), 1);
    }
    table.Close();
}

struct LookUpCase {
    std::string number;
    std::optional<std::string> mesid;
    std::optional<std::string> ref;
};

TEST(HeaderStoreLookUp, LastMatchingRecordWins) {
    TestDir base;
    const std::string server = "news.example.com";
    const std::string group = "fj.test";
    ASSERT_EQ(CreateGroupDirectory(base.Path(), server, group), 1);
    AddHeaders(GroupDirectory(base.Path(), server, group), {
                                                               {"10", "<a@x>", ""},
                                                               {"11", "<b@x>", "<a@x>"},
                                                               {"10", "<c@x>", "<b@x>"},
                                                               {"", "<nonum@x>", "<a@x>"},
                                                               {"13", "<d@x>", "<c@x>"},
                                                               {"13", "", ""},
                                                               {"0x1F", "<hex@x>", "<d@x>"},
                                                               {"14", "<e@x>", "<d@x>"},
                                                               {"14", "<f@x>", ""},
                                                           });

    const LookUpCase cases[] = {
        {"10", "<c@x>", "<b@x>"},
        {"11", "<b@x>", "<a@x>"},
        {"12", std::nullopt, std::nullopt},
        // An empty NUM never matches, not even an empty number.
        {"", std::nullopt, std::nullopt},
        // The last match counts even when its value is empty.
        {"13", std::nullopt, std::nullopt},
        {"14", "<f@x>", std::nullopt},
        {"0X1f", "<hex@x>", "<d@x>"},
        {"1", std::nullopt, std::nullopt},
    };
    for (const LookUpCase& c : cases) {
        SCOPED_TRACE("number \"" + c.number + "\"");
        EXPECT_EQ(LookUpMessageId(base.Path(), server, group, c.number), c.mesid);
        EXPECT_EQ(LookUpReference(base.Path(), server, group, c.number), c.ref);
    }
}

TEST(HeaderStoreLookUp, NothingWithoutATable) {
    TestDir base;
    EXPECT_EQ(LookUpMessageId(base.Path(), "s", "g", "1"), std::nullopt);
    ASSERT_EQ(CreateGroupDirectory(base.Path(), "s", "g"), 1);
    EXPECT_EQ(LookUpReference(base.Path(), "s", "g", "1"), std::nullopt);
    // A file that is not a database.
    ASSERT_TRUE(WriteWholeFile(HeaderDbPath(GroupDirectory(base.Path(), "s", "g")), "junk"));
    EXPECT_EQ(LookUpMessageId(base.Path(), "s", "g", "1"), std::nullopt);
}

TEST(HeaderStoreLookUp, HostileServerAndGroupNamesReachTheirOwnDirectory) {
    TestDir base;
    const std::string root = base / "base";
    fs::create_directory(root);
    ASSERT_EQ(CreateGroupDirectory(root, "..", "a/b"), 1);
    AddHeaders(GroupDirectory(root, "..", "a/b"), {{"1", "<m@x>", "<r@x>"}});
    EXPECT_TRUE(fs::exists(root + "/%2E%2E/a%2Fb/header.mdb"));
    EXPECT_EQ(LookUpMessageId(root, "..", "a/b", "1"), "<m@x>");
    EXPECT_EQ(LookUpReference(root, "..", "a/b", "1"), "<r@x>");
}

// Message-IDs are read whole, however long.
TEST(HeaderStoreLookUp, ValuesAreReadWhole) {
    TestDir base;
    ASSERT_EQ(CreateGroupDirectory(base.Path(), "s", "g"), 1);
    const std::string longId = "<" + std::string(70000, 'q') + ">";
    const std::string longRef = "<" + std::string(5000, 'r') + ">";
    AddHeaders(GroupDirectory(base.Path(), "s", "g"), {{"1", longId, longRef}});
    EXPECT_EQ(LookUpMessageId(base.Path(), "s", "g", "1"), longId);
    EXPECT_EQ(LookUpReference(base.Path(), "s", "g", "1"), longRef);
}

} // namespace
