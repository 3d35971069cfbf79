#include "store/ServerConfig.h"

#include "store/DbTable.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct ExpectedGroup {
    std::string name;
    bool bold;
};

struct ExpectedServer {
    std::string host;
    std::vector<ExpectedGroup> groups;
};

// Compares a tree read back with the expected one; nothing read back is ever checked.
void ExpectTree(const std::vector<RegServerItem>& got, const std::vector<ExpectedServer>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t s = 0; s < want.size(); ++s) {
        SCOPED_TRACE(want[s].host);
        EXPECT_EQ(got[s].host, want[s].host);
        ASSERT_EQ(got[s].groups.size(), want[s].groups.size());
        for (std::size_t g = 0; g < want[s].groups.size(); ++g) {
            EXPECT_EQ(got[s].groups[g].name, want[s].groups[g].name);
            EXPECT_EQ(got[s].groups[g].bold, want[s].groups[g].bold) << want[s].groups[g].name;
            EXPECT_FALSE(got[s].groups[g].checked);
        }
    }
}

std::vector<std::string> TableNames(const std::string& dbPath) {
    std::vector<std::string> names;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
                               -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW)
                names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return names;
}

std::vector<std::string> GroupRecords(const std::string& table, const std::string& dbPath) {
    std::vector<std::string> names;
    const int count = CountRecords(table, dbPath);
    for (int i = 0; i < count; ++i) {
        std::string name;
        ReadRecordField(table, "name", i, "", name, dbPath);
        names.push_back(name);
    }
    return names;
}

class ServerConfigTest : public ::testing::Test {
protected:
    std::string Ini() const { return m_dir / "quillo.ini"; }
    std::string Db() const { return m_dir / "quillo.mdb"; }
    TestDir m_dir;
};

const std::vector<RegServerItem> kTwoServers = {
    {"news.example.com",
     {{"fj.comp.misc", true, false}, {"fj.test", false, false}, {"japan.a", false, true}}},
    {"news2.example.net", {{"a.b", true, true}, {"c.d", true, false}}},
};

TEST_F(ServerConfigTest, WritesTheExactFiles) {
    ASSERT_EQ(WriteServerConfig(kTwoServers, Ini(), Db()), 1);
    EXPECT_EQ(ReadWholeFile(Ini()), "[ServerList]\n"
                                    "0=news.example.com\n"
                                    "1=news2.example.net\n"
                                    "[SELECTION]\n"
                                    "0=news.example.com,fj.comp.misc\n"
                                    "1=news.example.com,japan.a\n"
                                    "2=news2.example.net,c.d\n"
                                    "[news.example.com]\n"
                                    "Count=3\n"
                                    "[news2.example.net]\n"
                                    "Count=2\n"
                                    "[NNTPREG10]\n"
                                    "Count=2\n"
                                    "Selected=3\n");
    EXPECT_EQ(TableNames(Db()), (std::vector<std::string>{"news2examplenet", "newsexamplecom"}));
    EXPECT_EQ(GroupRecords("newsexamplecom", Db()),
              (std::vector<std::string>{"fj.comp.misc", "fj.test", "japan.a"}));
    EXPECT_EQ(GroupRecords("news2examplenet", Db()), (std::vector<std::string>{"a.b", "c.d"}));
}

TEST_F(ServerConfigTest, RoundTripThroughTheFiles) {
    ASSERT_EQ(WriteServerConfig(kTwoServers, Ini(), Db()), 1);
    const std::vector<RegServerItem> read = ReadServerConfig(Ini(), Db());
    ExpectTree(read, {{"news.example.com",
                       {{"fj.comp.misc", true}, {"fj.test", false}, {"japan.a", true}}},
                      {"news2.example.net", {{"a.b", false}, {"c.d", true}}}});
    EXPECT_EQ(ReadChosenGroups(Ini()),
              (std::vector<ChosenGroup>{{"news.example.com", "fj.comp.misc"},
                                        {"news.example.com", "japan.a"},
                                        {"news2.example.net", "c.d"}}));

    // Confirming the window without changes writes the same files again.
    const std::string iniBefore = ReadWholeFile(Ini());
    ASSERT_EQ(WriteServerConfig(read, Ini(), Db()), 1);
    EXPECT_EQ(ReadWholeFile(Ini()), iniBefore);
    ExpectTree(
        ReadServerConfig(Ini(), Db()),
        {{"news.example.com", {{"fj.comp.misc", true}, {"fj.test", false}, {"japan.a", true}}},
         {"news2.example.net", {{"a.b", false}, {"c.d", true}}}});
}

struct ChoiceCase {
    bool checked;
    bool bold;
    bool chosen;
};

TEST(ServerConfigChoice, CheckedXorBold) {
    const ChoiceCase cases[] = {
        {false, false, false}, {true, false, true}, {false, true, true}, {true, true, false}};
    for (const ChoiceCase& c : cases)
        EXPECT_EQ(IsGroupChosen({"g", c.checked, c.bold}), c.chosen)
            << "checked " << c.checked << " bold " << c.bold;
}

// ---- names the settings file cannot hold, and files that cannot be written ----

TEST(ServerConfigNames, StorableUpToTheValueBuffer) {
    struct Case {
        std::string host;
        std::string group;
        bool hostOk;
        bool groupOk;
    };
    const std::string fits(1021, 'g'); // "h," + 1,021 bytes: 1,023, read back whole
    const std::vector<Case> cases = {
        {"h", "fj.test", true, true},
        {"h", fits, true, true},
        {"h", fits + "g", true, false},
        {"h", "a\rb", true, false},
        {"h", "a\nb", true, false},
        {"h", std::string("a\0b", 3), true, false},
        {"h", "", true, true},
        {"h,x", "a,b", true, true},
        {"bad\nhost", "g", false, false},
        {std::string(1023, 'h'), "", true, false},
        {std::string(1024, 'h'), "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host.substr(0, 20) + "," + c.group.substr(0, 20));
        EXPECT_EQ(CanStoreHost(c.host), c.hostOk);
        EXPECT_EQ(CanStoreGroup(c.host, c.group), c.groupOk);
    }
}

TEST_F(ServerConfigTest, UnstorableNamesAreLeftOutAndCounted) {
    const std::string tooLong(1022, 'x');
    const std::vector<RegServerItem> tree = {
        {"h",
         {{"ok.one", true, false},
          {"cr\rname", true, false},
          {"lf\nname", false, true},
          {std::string("nul\0name", 8), true, false},
          {tooLong, true, false},
          {"ok.two", false, true}}},
        {"bad\nhost", {{"g1", true, false}, {"g2", false, false}}},
        {"k", {{"ok.three", true, false}}},
    };
    ServerConfigWriteReport report;
    ASSERT_EQ(WriteServerConfig(tree, Ini(), Db(), nullptr, &report), 1);
    EXPECT_EQ(report.skippedGroups, 6);
    EXPECT_TRUE(report.settingsRead);
    EXPECT_TRUE(report.settingsSaved);
    EXPECT_EQ(report.tableFailures, 0);
    // The chosen-group keys run on without a gap, and the counters count what was written.
    EXPECT_EQ(ReadWholeFile(Ini()), "[ServerList]\n"
                                    "0=h\n"
                                    "1=k\n"
                                    "[SELECTION]\n"
                                    "0=h,ok.one\n"
                                    "1=h,ok.two\n"
                                    "2=k,ok.three\n"
                                    "[h]\n"
                                    "Count=2\n"
                                    "[k]\n"
                                    "Count=1\n"
                                    "[NNTPREG10]\n"
                                    "Count=2\n"
                                    "Selected=3\n");
    EXPECT_EQ(TableNames(Db()), (std::vector<std::string>{"h", "k"}));
    EXPECT_EQ(GroupRecords("h", Db()), (std::vector<std::string>{"ok.one", "ok.two"}));
    ExpectTree(ReadServerConfig(Ini(), Db()),
               {{"h", {{"ok.one", true}, {"ok.two", true}}}, {"k", {{"ok.three", true}}}});
}

TEST_F(ServerConfigTest, FilesThatCannotBeWrittenAreReported) {
    const std::vector<RegServerItem> tree = {{"h", {{"g", true, false}}},
                                             {"k", {{"x", false, false}}}};
    ServerConfigWriteReport report;
    {
        // A directory where the settings file should be cannot be read: nothing is written.
        TestDir dir;
        ASSERT_TRUE(std::filesystem::create_directory(dir / "quillo.ini"));
        EXPECT_EQ(WriteServerConfig(tree, dir / "quillo.ini", dir / "quillo.mdb", nullptr, &report),
                  0);
        EXPECT_FALSE(report.settingsRead);
        EXPECT_FALSE(std::filesystem::exists(dir / "quillo.mdb"));
    }
    {
        // In a directory that does not exist it reads as empty but cannot be saved.
        TestDir dir;
        EXPECT_EQ(WriteServerConfig(tree, dir / "missing/quillo.ini", dir / "quillo.mdb", nullptr,
                                    &report),
                  0);
        EXPECT_TRUE(report.settingsRead);
        EXPECT_FALSE(report.settingsSaved);
        EXPECT_EQ(report.tableFailures, 0);
    }
    {
        // A main database that cannot be opened: every server's table fails, the settings
        // file is still written.
        TestDir dir;
        ASSERT_TRUE(std::filesystem::create_directory(dir / "quillo.mdb"));
        EXPECT_EQ(WriteServerConfig(tree, dir / "quillo.ini", dir / "quillo.mdb", nullptr, &report),
                  0);
        EXPECT_TRUE(report.settingsRead);
        EXPECT_TRUE(report.settingsSaved);
        EXPECT_EQ(report.tableFailures, 2);
        EXPECT_EQ(ReadChosenGroups(dir / "quillo.ini"), (std::vector<ChosenGroup>{{"h", "g"}}));
    }
}

TEST_F(ServerConfigTest, CheckingABoldGroupUnchoosesItAndAPlainOneChoosesIt) {
    ASSERT_EQ(WriteServerConfig(kTwoServers, Ini(), Db()), 1);
    std::vector<RegServerItem> tree = ReadServerConfig(Ini(), Db());
    ASSERT_EQ(tree.size(), 2u);
    ASSERT_EQ(tree[0].groups[0].name, "fj.comp.misc");
    ASSERT_TRUE(tree[0].groups[0].bold);
    tree[0].groups[0].checked = true; // un-choose
    ASSERT_EQ(tree[1].groups[0].name, "a.b");
    ASSERT_FALSE(tree[1].groups[0].bold);
    tree[1].groups[0].checked = true; // choose
    ASSERT_EQ(WriteServerConfig(tree, Ini(), Db()), 1);
    EXPECT_EQ(ReadChosenGroups(Ini()), (std::vector<ChosenGroup>{{"news.example.com", "japan.a"},
                                                                 {"news2.example.net", "a.b"},
                                                                 {"news2.example.net", "c.d"}}));
}

TEST_F(ServerConfigTest, ShrinkingLeavesTheOldKeysInPlace) {
    ASSERT_EQ(WriteServerConfig(kTwoServers, Ini(), Db()), 1);
    const std::vector<RegServerItem> smaller = {{"news.example.com", {{"fj.test", true, false}}}};
    ASSERT_EQ(WriteServerConfig(smaller, Ini(), Db()), 1);
    EXPECT_EQ(ReadWholeFile(Ini()), "[ServerList]\n"
                                    "0=news.example.com\n"
                                    "1=news2.example.net\n"
                                    "[SELECTION]\n"
                                    "0=news.example.com,fj.test\n"
                                    "1=news.example.com,japan.a\n"
                                    "2=news2.example.net,c.d\n"
                                    "[news.example.com]\n"
                                    "Count=1\n"
                                    "[news2.example.net]\n"
                                    "Count=2\n"
                                    "[NNTPREG10]\n"
                                    "Count=1\n"
                                    "Selected=1\n");
    EXPECT_EQ(ReadChosenGroups(Ini()), (std::vector<ChosenGroup>{{"news.example.com", "fj.test"}}));
    ExpectTree(ReadServerConfig(Ini(), Db()), {{"news.example.com", {{"fj.test", true}}}});
    // The dropped server's table is not touched either.
    EXPECT_EQ(GroupRecords("news2examplenet", Db()), (std::vector<std::string>{"a.b", "c.d"}));
}

TEST_F(ServerConfigTest, OtherSectionsOfTheSettingsFileSurvive) {
    ASSERT_TRUE(WriteWholeFile(Ini(), "[ENVIRONMENT]\r\nName=taro\r\n"));
    ASSERT_EQ(WriteServerConfig({{"h", {{"g", true, false}}}}, Ini(), Db()), 1);
    EXPECT_EQ(ReadWholeFile(Ini()), "[ENVIRONMENT]\r\n"
                                    "Name=taro\r\n"
                                    "[ServerList]\r\n"
                                    "0=h\r\n"
                                    "[SELECTION]\r\n"
                                    "0=h,g\r\n"
                                    "[h]\r\n"
                                    "Count=1\r\n"
                                    "[NNTPREG10]\r\n"
                                    "Count=1\r\n"
                                    "Selected=1\r\n");
}

TEST_F(ServerConfigTest, GroupNameWithACommaIsSplitAtTheFirstComma) {
    const std::vector<RegServerItem> tree = {
        {"h", {{"a,b.c", true, false}}},
        // A comma in the host moves the rest into the group part, so the entry finds nothing.
        {"h,x", {{"g", true, false}}},
    };
    ASSERT_EQ(WriteServerConfig(tree, Ini(), Db()), 1);
    EXPECT_EQ(ReadChosenGroups(Ini()), (std::vector<ChosenGroup>{{"h", "a,b.c"}, {"h", "x,g"}}));
    ExpectTree(ReadServerConfig(Ini(), Db()), {{"h", {{"a,b.c", true}}}, {"h,x", {{"g", false}}}});
}

TEST_F(ServerConfigTest, HostsDifferingOnlyByDotsShareOneTable) {
    const std::vector<RegServerItem> tree = {
        {"news.a.com", {{"x", true, false}, {"y", false, false}}},
        {"newsa.com", {{"z", false, false}}},
    };
    ASSERT_EQ(WriteServerConfig(tree, Ini(), Db()), 1);
    EXPECT_EQ(TableNames(Db()), (std::vector<std::string>{"newsacom"}));
    // The second server rebuilt the shared table, so both read its groups.
    EXPECT_EQ(GroupRecords("newsacom", Db()), (std::vector<std::string>{"z"}));
    ExpectTree(ReadServerConfig(Ini(), Db()),
               {{"news.a.com", {{"z", false}}}, {"newsa.com", {{"z", false}}}});
    EXPECT_EQ(ReadChosenGroups(Ini()), (std::vector<ChosenGroup>{{"news.a.com", "x"}}));
}

struct MainWindowReadCase {
    const char* name;
    std::string ini;
    std::vector<ChosenGroup> expected;
};

TEST_F(ServerConfigTest, MainWindowReadsOnlyUpToSelected) {
    const std::string longGroup(1100, 'g');
    const MainWindowReadCase cases[] = {
        {"no section", "[Other]\nx=1\n", {}},
        {"count stops the scan",
         "[NNTPREG10]\nSelected=1\n[SELECTION]\n0=h,a\n1=h,b\n",
         {{"h", "a"}}},
        {"names compare ignoring case",
         "[nntpreg10]\nselected=2\n[selection]\n0=h,a\n1=h,b\n",
         {{"h", "a"}, {"h", "b"}}},
        {"missing and comma-less entries are skipped",
         "[NNTPREG10]\nSelected=4\n[SELECTION]\n0=nocomma\n2=h,\n3=,g\n",
         {{"h", ""}, {"", "g"}}},
        {"values are cut at 1023 bytes",
         "[NNTPREG10]\nSelected=1\n[SELECTION]\n0=h," + longGroup + "\n",
         {{"h", longGroup.substr(0, 1021)}}},
        {"a negative count reads nothing", "[NNTPREG10]\nSelected=-3\n[SELECTION]\n0=h,a\n", {}},
    };
    for (const MainWindowReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteWholeFile(Ini(), c.ini));
        EXPECT_EQ(ReadChosenGroups(Ini()), c.expected);
    }
    EXPECT_TRUE(ReadChosenGroups(m_dir / "missing.ini").empty());
}

TEST_F(ServerConfigTest, RegistrationReadSkipsServersWithoutATable) {
    ASSERT_EQ(WriteServerConfig({{"h", {{"g", false, false}}}}, Ini(), Db()), 1);
    // Count claims three servers; key 1 is missing (host "0") and key 2 has no table.
    ASSERT_TRUE(WriteWholeFile(Ini(), "[NNTPREG10]\nCount=3\nSelected=2\n"
                                      "[ServerList]\n0=h\n2=gone.example\n"
                                      "[Selection]\n0=h,g\n1=gone.example,g\n"));
    ExpectTree(ReadServerConfig(Ini(), Db()), {{"h", {{"g", true}}}});
    EXPECT_TRUE(ReadServerConfig(m_dir / "missing.ini", Db()).empty());
}

TEST_F(ServerConfigTest, RepeatedNamesAreMergedOnReading) {
    ASSERT_EQ(WriteServerConfig({{"h", {{"a", false, false}, {"b", false, false}}}}, Ini(), Db()),
              1);
    // The same group twice in the table and the same host twice in the list.
    ASSERT_EQ(AppendRecordField("h", "name", "a", Db()), 1);
    ASSERT_TRUE(
        WriteWholeFile(Ini(), "[NNTPREG10]\nCount=2\nSelected=0\n[ServerList]\n0=h\n1=h\n"));
    ExpectTree(ReadServerConfig(Ini(), Db()), {{"h", {{"a", false}, {"b", false}}}});
}

// Records what the window would be shown.
class CRecordedProgress : public IConfigProgress {
public:
    void SetProgressRange(int low, int high) override {
        m_events.push_back("range " + std::to_string(low) + "-" + std::to_string(high));
    }
    void SetProgressPos(int pos) override { m_events.push_back("pos " + std::to_string(pos)); }
    void PumpMessages() override { m_events.push_back("pump"); }
    std::vector<std::string> m_events;
};

TEST_F(ServerConfigTest, WritingCyclesTheProgressBarThroughAHundred) {
    std::vector<RegServerItem> tree(2);
    tree[0].host = "a";
    tree[1].host = "b";
    for (int i = 0; i < 120; ++i)
        tree[0].groups.push_back({"g" + std::to_string(i), false, false});
    for (int i = 0; i < 30; ++i)
        tree[1].groups.push_back({"h" + std::to_string(i), false, false});
    CRecordedProgress progress;
    ASSERT_EQ(WriteServerConfig(tree, Ini(), Db(), &progress), 1);

    std::vector<std::string> expected = {"range 0-100"};
    for (int p = 0; p < 150; ++p)
        expected.push_back("pos " + std::to_string(p % 100));
    expected.push_back("pos 0");
    EXPECT_EQ(progress.m_events, expected);
}

TEST_F(ServerConfigTest, ReadingShowsProgressPerServerAndPerChosenGroup) {
    ASSERT_EQ(WriteServerConfig(
                  {{"a", {{"x", true, false}, {"y", false, false}}}, {"b", {{"z", true, false}}}},
                  Ini(), Db()),
              1);
    CRecordedProgress progress;
    ReadServerConfig(Ini(), Db(), &progress);
    const std::vector<std::string> expected = {
        "pump",      "range 0-2", "pos 0", "pos 1", "pos 0",         // server a
        "pump",      "range 0-1", "pos 0", "pos 0",                  // server b
        "range 0-2", "pos 0",     "pump",  "pos 1", "pump",  "pos 0" // chosen groups
    };
    EXPECT_EQ(progress.m_events, expected);
}

TEST_F(ServerConfigTest, HundredThousandGroupsInOneServer) {
    constexpr int kGroups = 100000;
    std::vector<RegServerItem> tree(1);
    tree[0].host = "news.big.example";
    tree[0].groups.reserve(kGroups);
    for (int i = 0; i < kGroups; ++i)
        tree[0].groups.push_back({"big.group." + std::to_string(i), i % 1000 == 0, false});

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(WriteServerConfig(tree, Ini(), Db()), 1);
    const auto written = std::chrono::steady_clock::now();
    const std::vector<RegServerItem> read = ReadServerConfig(Ini(), Db());
    const auto readBack = std::chrono::steady_clock::now();
    std::printf("[ timing ] writing %d groups: %.3f s; reading them back: %.3f s\n", kGroups,
                std::chrono::duration<double>(written - start).count(),
                std::chrono::duration<double>(readBack - written).count());

    EXPECT_EQ(CountRecords("newsbigexample", Db()), kGroups);
    ASSERT_EQ(read.size(), 1u);
    ASSERT_EQ(read[0].groups.size(), static_cast<std::size_t>(kGroups));
    for (int i = 0; i < kGroups; i += 9973) {
        EXPECT_EQ(read[0].groups[i].name, "big.group." + std::to_string(i));
        EXPECT_EQ(read[0].groups[i].bold, i % 1000 == 0);
    }
    EXPECT_EQ(read[0].groups.back().name, "big.group." + std::to_string(kGroups - 1));
    EXPECT_EQ(ReadChosenGroups(Ini()).size(), static_cast<std::size_t>(kGroups / 1000));
}

} // namespace
