// Synchronisation against the scripted server: which ARTICLE commands go, what reaches the cache
// files, and that every pipeline depth gives the same transcript and the same files.

#include "nntp/Synchronise.h"

#include "../threads/HeaderTableWriter.h"
#include "NntpTestSupport.h"
#include "base/Progress.h"
#include "nntp/NntpSocket.h"
#include "store/HeaderStore.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"
#include "threads/HeaderThreads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kServer = "127.0.0.1";
const std::string kGroup = "local.test";
const std::string kGreeting = "200 news.example.org ready\r\n";
const std::string kGroupOk = "211 3 1 3 local.test\r\n";
const std::string kEnd = "QUIT\r\nEXIT\r\n";
const int kDepths[] = {1, 2, kArticlePipelineDepth};

// Records what the synchronisation shows: "status:TEXT", "range:LOW-HIGH", "pos:N", "pump",
// "select:ID", "message:TEXT".
class SyncRecorder : public IProgress, public ISyncView {
public:
    void SetProgressRange(int low, int high) override {
        calls.push_back("range:" + std::to_string(low) + "-" + std::to_string(high));
    }
    void SetProgressPos(int pos) override { calls.push_back("pos:" + std::to_string(pos)); }
    void PumpMessages() override { calls.push_back("pump"); }
    void SetStatusText(const std::string& utf8) override { calls.push_back("status:" + utf8); }
    void SelectItem(int itemId) override { calls.push_back("select:" + std::to_string(itemId)); }
    void ShowMessage(const std::string& utf8) override { calls.push_back("message:" + utf8); }
    // A stop is asked for from this pump on (0: never).
    bool StopRequested() const override {
        return stopAtPump > 0 &&
               std::count(calls.begin(), calls.end(), std::string("pump")) >= stopAtPump;
    }
    std::vector<std::string> calls;
    long stopAtPump = 0;
};

// The index the header tree fill makes of the group's table, with item identifiers 1, 2, ...
class IndexSink : public IHeaderTreeSink {
public:
    void SetProgressRange(int) override {}
    void Step(int) override {}
    int InsertItem(int, const std::string&) override { return ++m_lastId; }
    void AppendIndexEntry(const std::string& entry) override { entries.push_back(entry); }
    void SetBold(int) override {}
    void Expand(int) override {}
    void SetIcon(int, int, int) override {}
    std::vector<std::string> entries;

private:
    int m_lastId = 0;
};

// The reply to ARTICLE n: status line, the lines dot-stuffed, the "." line.
std::string ArticleReply(int n, const std::vector<std::string>& lines) {
    std::string reply = "220 " + std::to_string(n) + " <" + std::to_string(n) + "@x> article\r\n";
    for (const std::string& line : lines)
        reply += (line.starts_with(".") ? "." : "") + line + "\r\n";
    return reply + ".\r\n";
}

std::string Simple(int n) {
    return ArticleReply(n,
                        {"Subject: article " + std::to_string(n), "", "body " + std::to_string(n)});
}

std::string SimpleCache(int n) {
    return "Subject: article " + std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n";
}

// The server: greeting, the GROUP reply, then ARTICLE n answered from the replies (423 for a
// number without one); anything else gets no answer.
NntpScript SyncScript(const std::map<std::string, std::string>& replies,
                      const std::string& groupReply = kGroupOk) {
    return NntpScript()
        .Send(kGreeting)
        .Reply(groupReply)
        .OnCommand([replies](NntpServerConnection& c, const std::string& line) {
            if (!line.starts_with("ARTICLE "))
                return;
            const auto found = replies.find(line.substr(8, line.size() - 10));
            c.Send(found != replies.end() ? found->second : "423 no such article\r\n");
        });
}

// The group directory's files other than the store's own, name and bytes.
std::map<std::string, std::string> CacheFiles(const std::string& groupDir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(groupDir)) {
        const std::string name = entry.path().filename().string();
        if (name != kHeaderDbFile && name != kHeaderIniFile && !name.starts_with(kHeaderDbFile))
            files[name] = ReadWholeFile(entry.path().string());
    }
    return files;
}

std::string ArticleCommands(const std::vector<std::string>& numbers) {
    std::string commands;
    for (const std::string& n : numbers)
        commands += "ARTICLE " + n + "\r\n";
    return commands;
}

// One group set up and synchronised.
struct SyncRun {
    std::map<std::string, std::string> files;
    std::string received;
    std::size_t connections = 0;
    SyncResult result;
    std::vector<std::string> calls;
};

struct SyncCase {
    const char* name;
    std::vector<HeaderRecord> records;
    std::map<std::string, std::string> before; // cache files there beforehand
    std::map<std::string, std::string> replies;
    std::string groupReply;
    // Expected:
    std::string received; // empty: no connection
    std::map<std::string, std::string> files;
    int fetched;
    int failed;
};

std::ostream& operator<<(std::ostream& os, const SyncCase& c) {
    return os << c.name;
}

SyncRun Synchronise(const SyncCase& c, int depth) {
    SyncRun run;
    NntpSettingsGuard guard;
    ScriptedNntpServer server(
        SyncScript(c.replies, c.groupReply.empty() ? kGroupOk : c.groupReply));
    SetDefaultNntpPort(server.Port());
    TestDir base;
    const std::string groupDir = GroupDirectory(base.Path(), kServer, kGroup);
    EXPECT_TRUE(CreateGroupDirectory(base.Path(), kServer, kGroup));
    EXPECT_TRUE(WriteHeaderRecords(groupDir, c.records));
    for (const auto& [name, bytes] : c.before)
        EXPECT_TRUE(WriteWholeFile(groupDir + "/" + name, bytes));
    IndexSink index;
    FillHeaderTree(groupDir, index);

    SyncRecorder recorder;
    run.result = SynchroniseArticles({kServer, kGroup, base.Path(), depth}, index.entries, recorder,
                                     recorder);
    run.files = CacheFiles(groupDir);
    run.connections = server.AcceptedConnections();
    if (run.connections > 0) {
        EXPECT_TRUE(server.WaitForClosedConnections(1));
        run.received = server.Received(0);
    }
    run.calls = recorder.calls;
    return run;
}

class SyncTest : public testing::TestWithParam<SyncCase> {};

TEST_P(SyncTest, EveryDepthGivesTheSameFiles) {
    const SyncCase& c = GetParam();
    std::vector<SyncRun> runs;
    for (int depth : kDepths) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        runs.push_back(Synchronise(c, depth));
        const SyncRun& run = runs.back();
        EXPECT_EQ(run.received, c.received);
        EXPECT_EQ(run.connections, c.received.empty() ? 0u : 1u);
        EXPECT_EQ(run.files, c.files);
        EXPECT_EQ(run.result.m_fetched, c.fetched);
        EXPECT_EQ(run.result.m_failed, c.failed);
        EXPECT_EQ(run.calls.back(),
                  "status:" + (c.failed ? ArticlesNotFetchedStatus(c.failed) : std::string()));
    }
    // Byte for byte, whatever the expectations say.
    for (const SyncRun& run : runs) {
        EXPECT_EQ(run.files, runs.front().files);
        EXPECT_EQ(run.received, runs.front().received);
        EXPECT_EQ(run.calls, runs.front().calls);
    }
}

const std::vector<HeaderRecord> kThree = {
    {"1", "<1@x>", "one", "", ""}, {"2", "<2@x>", "two", "", ""}, {"3", "<3@x>", "three", "", ""}};
const std::map<std::string, std::string> kThreeServed = {
    {"1", Simple(1)}, {"2", Simple(2)}, {"3", Simple(3)}};
const std::map<std::string, std::string> kThreeCached = {
    {"1@x.ntx", SimpleCache(1)}, {"2@x.ntx", SimpleCache(2)}, {"3@x.ntx", SimpleCache(3)}};

INSTANTIATE_TEST_SUITE_P(
    Groups, SyncTest,
    testing::Values(
        SyncCase{"ThreeArticles",
                 kThree,
                 {},
                 kThreeServed,
                 "",
                 "GROUP local.test\r\n" + ArticleCommands({"1", "2", "3"}) + kEnd,
                 kThreeCached,
                 3,
                 0},
        // A cached article is not asked for; an empty cache file is no cached article.
        SyncCase{"EmptyCacheFileFetchedAgain",
                 kThree,
                 {{"1@x.ntx", "kept"}, {"2@x.ntx", ""}},
                 kThreeServed,
                 "",
                 "GROUP local.test\r\n" + ArticleCommands({"2", "3"}) + kEnd,
                 {{"1@x.ntx", "kept"}, {"2@x.ntx", SimpleCache(2)}, {"3@x.ntx", SimpleCache(3)}},
                 2,
                 0},
        SyncCase{"EverythingCachedNeedsNoConnection",
                 kThree,
                 kThreeCached,
                 {},
                 "",
                 "",
                 kThreeCached,
                 0,
                 0},
        // Decoded from the line after the declaration on, to the end of the article.
        SyncCase{"QuotedPrintableFromTheDeclaringLine",
                 {{"1", "<1@x>", "qp", "", ""}},
                 {},
                 {{"1", ArticleReply(1, {"X-Before: a=3Db",
                                         "Content-Transfer-Encoding: quoted-printable",
                                         "X-After: a=3Db", "", "x =3D y", "soft=", "caf=C3=A9"})}},
                 "",
                 "GROUP local.test\r\nARTICLE 1\r\n" + kEnd,
                 {{"1@x.ntx", "X-Before: a=3Db\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                              "X-After: a=b\r\n\r\nx = y\r\nsoft=\r\ncaf\xc3\xa9\r\n"}},
                 1,
                 0},
        // "." and ".." in the article are ".." and "..." on the wire.
        SyncCase{"DotLines",
                 {{"1", "<1@x>", "dots", "", ""}},
                 {},
                 {{"1", ArticleReply(1, {"Subject: dots", "", ".", "..", ".x", "x."})}},
                 "",
                 "GROUP local.test\r\nARTICLE 1\r\n" + kEnd,
                 {{"1@x.ntx", "Subject: dots\r\n\r\n.\r\n..\r\n.x\r\nx.\r\n"}},
                 1,
                 0},
        SyncCase{"NoSuchArticleInTheMiddle",
                 kThree,
                 {},
                 {{"1", Simple(1)}, {"3", Simple(3)}},
                 "",
                 "GROUP local.test\r\n" + ArticleCommands({"1", "2", "3"}) + kEnd,
                 {{"1@x.ntx", SimpleCache(1)}, {"3@x.ntx", SimpleCache(3)}},
                 2,
                 1},
        // The index leaves the record without a Message-ID out: each later entry still asks
        // for its own record's number and fills its own cache file.
        SyncCase{
            "RecordWithoutMessageIdInTheMiddle",
            {{"1", "<1@x>", "one", "", ""},
             {"2", "", "no id", "", ""},
             {"3", "<3@x>", "three", "", ""},
             {"4", "<4@x>", "four", "", ""}},
            {},
            {{"1", Simple(1)}, {"2", Simple(2)}, {"3", Simple(3)}, {"4", Simple(4)}},
            "",
            "GROUP local.test\r\n" + ArticleCommands({"1", "3", "4"}) + kEnd,
            {{"1@x.ntx", SimpleCache(1)}, {"3@x.ntx", SimpleCache(3)}, {"4@x.ntx", SimpleCache(4)}},
            3,
            0},
        SyncCase{"RecordWithoutNumberIsPassedOver",
                 {{"1", "<1@x>", "one", "", ""}, {"", "<2@x>", "two", "", ""}},
                 {},
                 kThreeServed,
                 "",
                 "GROUP local.test\r\nARTICLE 1\r\n" + kEnd,
                 {{"1@x.ntx", SimpleCache(1)}},
                 1,
                 0},
        // Two records of one Message-ID share a cache file: it is fetched once.
        SyncCase{"SameMessageIdTwice",
                 {{"1", "<1@x>", "one", "", ""}, {"2", "<1@x>", "again", "", ""}},
                 {},
                 kThreeServed,
                 "",
                 "GROUP local.test\r\nARTICLE 1\r\n" + kEnd,
                 {{"1@x.ntx", SimpleCache(1)}},
                 1,
                 0},
        // Only IDs with a ">" are fetched; the cache file is named as the article display
        // names it.
        SyncCase{"MessageIdForms",
                 {{"1", "plain@x", "no brackets", "", ""}, {"2", "<2@x>y>", "odd", "", ""}},
                 {},
                 kThreeServed,
                 "",
                 "GROUP local.test\r\nARTICLE 2\r\n" + kEnd,
                 {{"2@x>y.ntx", SimpleCache(2)}},
                 1,
                 0},
        SyncCase{"GroupRefused",
                 kThree,
                 {},
                 kThreeServed,
                 "411 no such group\r\n",
                 "GROUP local.test\r\n" + kEnd,
                 {},
                 0,
                 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SyncCalls, ProgressSelectionAndStatusInOrder) {
    SyncCase c{"", kThree, {{"2@x.ntx", "kept"}}, kThreeServed, "", "", {}, 0, 0};
    for (int depth : kDepths) {
        const SyncRun run = Synchronise(c, depth);
        EXPECT_EQ(run.calls, (std::vector<std::string>{"status:現在記事を読み取り中", "range:0-3",
                                                       "pos:0", "pump", "select:1", "pos:2", "pump",
                                                       "select:3", "pos:0", "status:"}))
            << "depth " << depth;
    }
}

TEST(SyncRuns, SecondRunFetchesNothing) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(SyncScript(kThreeServed));
    SetDefaultNntpPort(server.Port());
    TestDir base;
    const std::string groupDir = GroupDirectory(base.Path(), kServer, kGroup);
    ASSERT_TRUE(CreateGroupDirectory(base.Path(), kServer, kGroup));
    ASSERT_TRUE(WriteHeaderRecords(groupDir, kThree));
    IndexSink index;
    FillHeaderTree(groupDir, index);
    for (int run = 0; run < 2; ++run) {
        SyncRecorder recorder;
        const SyncResult result =
            SynchroniseArticles({kServer, kGroup, base.Path()}, index.entries, recorder, recorder);
        EXPECT_EQ(result.m_fetched, run == 0 ? 3 : 0);
        EXPECT_EQ(result.m_failed, 0);
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.AcceptedConnections(), 1u);
    EXPECT_EQ(CacheFiles(groupDir), kThreeCached);
}

// The index was made before the table changed: an entry whose record now holds another
// Message-ID is not fetched into either article's file.
TEST(SyncRuns, StaleEntryIsPassedOver) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(SyncScript(kThreeServed));
    SetDefaultNntpPort(server.Port());
    TestDir base;
    const std::string groupDir = GroupDirectory(base.Path(), kServer, kGroup);
    ASSERT_TRUE(CreateGroupDirectory(base.Path(), kServer, kGroup));
    ASSERT_TRUE(WriteHeaderRecords(groupDir, kThree));
    const std::vector<std::string> entries = {"0 <1@x> ,1", "1 <other@x> ,2", "7 <3@x> ,3",
                                              "2 <3@x> ,0", "2 <3@x> ,4"};
    SyncRecorder recorder;
    const SyncResult result =
        SynchroniseArticles({kServer, kGroup, base.Path()}, entries, recorder, recorder);
    EXPECT_EQ(result.m_fetched, 2);
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), "GROUP local.test\r\n" + ArticleCommands({"1", "3"}) + kEnd);
    EXPECT_EQ(CacheFiles(groupDir), (std::map<std::string, std::string>{
                                        {"1@x.ntx", SimpleCache(1)}, {"3@x.ntx", SimpleCache(3)}}));
}

struct FailureCase {
    const char* name;
    bool refuse; // connect to a port that refuses
    std::string greeting;
    std::string message;
};

std::ostream& operator<<(std::ostream& os, const FailureCase& c) {
    return os << c.name;
}

class SyncFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(SyncFailureTest, MessageAndNothingFetched) {
    const FailureCase& c = GetParam();
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send(c.greeting));
    RefusingPort refusing;
    SetDefaultNntpPort(c.refuse ? refusing.Port() : server.Port());
    TestDir base;
    const std::string groupDir = GroupDirectory(base.Path(), kServer, kGroup);
    ASSERT_TRUE(CreateGroupDirectory(base.Path(), kServer, kGroup));
    ASSERT_TRUE(WriteHeaderRecords(groupDir, kThree));
    IndexSink index;
    FillHeaderTree(groupDir, index);
    SyncRecorder recorder;
    const SyncResult result =
        SynchroniseArticles({kServer, kGroup, base.Path()}, index.entries, recorder, recorder);
    EXPECT_EQ(result.m_fetched, 0);
    EXPECT_EQ(result.m_failed, 3);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"status:現在記事を読み取り中", "range:0-3",
                                                        "message:" + c.message, "pos:0",
                                                        "status:" + ArticlesNotFetchedStatus(3)}));
    EXPECT_TRUE(CacheFiles(groupDir).empty());
    if (!c.refuse) {
        ASSERT_TRUE(server.WaitForClosedConnections(1));
        EXPECT_EQ(server.Received(0), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SyncFailureTest,
    testing::Values(
        FailureCase{"Refused", true, "",
                    " 接続エラーが発生しました '接続を試みましたが、リジェクトされました。' "},
        FailureCase{"PostingNotAllowed", false, "201 read only\r\n",
                    " 接続エラーが発生しました '201' "}),
    [](const auto& info) { return std::string(info.param.name); });

// A stop asked for while article 1 was fetched ends the fetching before article 2; the
// conversation still ends with QUIT.
TEST(SyncRuns, StopRequestEndsBeforeTheNextArticle) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(SyncScript(kThreeServed));
    SetDefaultNntpPort(server.Port());
    TestDir base;
    const std::string groupDir = GroupDirectory(base.Path(), kServer, kGroup);
    ASSERT_TRUE(CreateGroupDirectory(base.Path(), kServer, kGroup));
    ASSERT_TRUE(WriteHeaderRecords(groupDir, kThree));
    IndexSink index;
    FillHeaderTree(groupDir, index);
    SyncRecorder recorder;
    recorder.stopAtPump = 2;
    const SyncResult result =
        SynchroniseArticles({kServer, kGroup, base.Path(), 1}, index.entries, recorder, recorder);
    EXPECT_EQ(result.m_fetched, 1);
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), "GROUP local.test\r\nARTICLE 1\r\n" + kEnd);
    EXPECT_EQ(CacheFiles(groupDir),
              (std::map<std::string, std::string>{{"1@x.ntx", SimpleCache(1)}}));
    EXPECT_EQ(recorder.calls,
              (std::vector<std::string>{"status:現在記事を読み取り中", "range:0-3", "pos:0", "pump",
                                        "select:1", "pos:1", "pump", "pos:0",
                                        "status:" + ArticlesNotFetchedStatus(2)}));
}

// The server goes away in the middle of article 2: article 1 stays cached, nothing of article 2
// is (no cache file, no temporary file), and nothing more is asked for.
TEST(SyncRuns, CutArticleIsNotCachedAndEndsTheRun) {
    for (int depth : kDepths) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        NntpSettingsGuard guard;
        const std::string cutShort = "220 2 <2@x> article\r\nSubject: article 2\r\n\r\nbo";
        ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(kGroupOk).OnCommand(
            [&](NntpServerConnection& c, const std::string& line) {
                if (line == "ARTICLE 1\r\n") {
                    c.Send(Simple(1));
                } else if (line == "ARTICLE 2\r\n") {
                    c.Send(cutShort);
                    c.Close();
                }
            }));
        SetDefaultNntpPort(server.Port());
        TestDir base;
        const std::string groupDir = GroupDirectory(base.Path(), kServer, kGroup);
        ASSERT_TRUE(CreateGroupDirectory(base.Path(), kServer, kGroup));
        ASSERT_TRUE(WriteHeaderRecords(groupDir, kThree));
        IndexSink index;
        FillHeaderTree(groupDir, index);
        SyncRecorder recorder;
        const SyncResult result = SynchroniseArticles({kServer, kGroup, base.Path(), depth},
                                                      index.entries, recorder, recorder);
        EXPECT_EQ(result.m_fetched, 1);
        EXPECT_EQ(result.m_failed, 2);
        EXPECT_EQ(result.m_cutReason, "サーバーが接続を切りました。");
        ASSERT_TRUE(server.WaitForClosedConnections(1));
        EXPECT_TRUE(
            server.Received(0).starts_with("GROUP local.test\r\nARTICLE 1\r\nARTICLE 2\r\n"));
        EXPECT_EQ(CacheFiles(groupDir),
                  (std::map<std::string, std::string>{{"1@x.ntx", SimpleCache(1)}}));
        EXPECT_EQ(recorder.calls.back(),
                  "status:" + ArticlesNotFetchedStatus(2) + " : サーバーが接続を切りました。");
        // Only articles 1 and 2 were taken in hand.
        EXPECT_EQ(std::count(recorder.calls.begin(), recorder.calls.end(), "select:3"), 0);
        EXPECT_TRUE(std::find(recorder.calls.begin(), recorder.calls.end(), "select:2") !=
                    recorder.calls.end());
    }
}

TEST(SyncRuns, GreetingCutShowsWhy) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send("200 rea").Close());
    SetDefaultNntpPort(server.Port());
    TestDir base;
    const std::string groupDir = GroupDirectory(base.Path(), kServer, kGroup);
    ASSERT_TRUE(CreateGroupDirectory(base.Path(), kServer, kGroup));
    ASSERT_TRUE(WriteHeaderRecords(groupDir, kThree));
    IndexSink index;
    FillHeaderTree(groupDir, index);
    SyncRecorder recorder;
    const SyncResult result =
        SynchroniseArticles({kServer, kGroup, base.Path()}, index.entries, recorder, recorder);
    EXPECT_EQ(result.m_fetched, 0);
    EXPECT_EQ(result.m_failed, 3);
    EXPECT_EQ(recorder.calls,
              (std::vector<std::string>{
                  "status:現在記事を読み取り中", "range:0-3",
                  "message: 接続エラーが発生しました 'サーバーが接続を切りました。' ", "pos:0",
                  "status:" + ArticlesNotFetchedStatus(3)}));
}

TEST(SyncStatus, NotFetchedText) {
    EXPECT_EQ(ArticlesNotFetchedStatus(12), "12 件の記事を読み取れませんでした");
}

} // namespace
