// Articles that do not arrive whole: cut replies, dead and silent servers, a program killed in
// the middle, and the cache names of long Message-IDs.

#include "viewer/ArticleFetch.h"

#include "base/TempFile.h"
#include "nntp/NntpSocket.h"
#include "nntp/NntpTestSupport.h"
#include "store/CacheFile.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kHost = "127.0.0.1";
const std::string kGroup = "local.test";
const std::string kGreeting = "200 news.example.org ready\r\n";
const std::string kGroupReply = "211 9 1 9 local.test\r\n";
const std::string kStatus = "220 5 <five@example.org> article\r\n";
const std::string kArticle = "Subject: five\r\nContent-Type: text/plain\r\n\r\nbody line\r\n";
const std::string kCutStatus = "記事を最後まで読み取れませんでした : ";

class RecordingDisplay : public IArticleDisplay {
public:
    void ShowFetchError(const std::string& message) override { m_log += "error:" + message + ";"; }
    void ArticleFetched() override { m_log += "fetched;"; }
    void ShowParts(int parseResult, const std::vector<CPartEntry>& entries) override {
        m_log +=
            "parts " + std::to_string(parseResult) + ":" + std::to_string(entries.size()) + ";";
    }
    void ArticleRead() override { m_log += "read;"; }
    void ShowStatus(const std::string& utf8) override { m_log += "status:" + utf8 + ";"; }

    std::string m_log;
};

// A base directory holding the group's header database with one record per Message-ID given,
// numbered 5, 6, ...; part files go to a temporary directory of the test's own.
class Store {
public:
    explicit Store(const std::vector<std::string>& mesids = {"<five@example.org>"}) {
        SetTempRoot(m_temp.Path());
        EXPECT_EQ(CreateGroupDirectory(m_base.Path(), kHost, kGroup), 1);
        EXPECT_EQ(CreateHeaderTable(GroupDir()), 1);
        CDbTable table;
        EXPECT_EQ(table.Open(kHeaderTable, HeaderDbPath(GroupDir())), 1);
        int number = 5;
        for (const std::string& mesid : mesids) {
            table.AddNew();
            table.SetField("NUM", std::to_string(number++));
            table.SetField("MESID", mesid);
            EXPECT_EQ(table.Update(), 1);
        }
    }
    ~Store() { SetTempRoot(""); }

    const std::string& Base() const { return m_base.Path(); }
    std::string GroupDir() const { return GroupDirectory(m_base.Path(), kHost, kGroup); }
    // Every file of the group directory but the header database.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(GroupDir()))
            if (entry.path().filename() != kHeaderDbFile)
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Read(int index) const {
        CDbTable table;
        table.Open(kHeaderTable, HeaderDbPath(GroupDir()));
        table.MoveTo(index);
        std::string read;
        table.GetField("READ", "-", read);
        return read;
    }

private:
    TestDir m_base;
    TestDir m_temp;
};

// ---- an ARTICLE reply cut at every stage ----

struct ArticleCutCase {
    const char* name;
    std::string groupReply;
    std::string sent; // of the ARTICLE reply
    bool close;       // then the server closes; otherwise it falls silent
    std::string reason;
};

class ArticleCutTest : public ::testing::TestWithParam<ArticleCutCase> {};

TEST_P(ArticleCutTest, LeavesNoCacheFileAndTheNextSelectionAsksAgain) {
    const ArticleCutCase& c = GetParam();
    NntpSettingsGuard guard(3000, 1000);
    Store store;
    {
        NntpScript script = NntpScript().Send(kGreeting).Reply(c.groupReply);
        if (c.groupReply == kGroupReply)
            script.Reply(c.sent);
        if (c.close)
            script.Close();
        else
            script.Pause(2500);
        ScriptedNntpServer server(script);
        SetDefaultNntpPort(server.Port());
        RecordingDisplay display;
        const auto start = std::chrono::steady_clock::now();
        const CArticleReadResult result = ReadArticle(store.Base(), kHost, kGroup, "5", display);
        EXPECT_LT(ElapsedMs(start), 4000);
        EXPECT_EQ(result.m_outcome, ArticleOutcome::Cut);
        EXPECT_EQ(display.m_log, "status:;status:" + kCutStatus + c.reason + ";parts 1:0;");
        EXPECT_EQ(store.Files(), std::vector<std::string>());
        EXPECT_EQ(store.Read(0), "-");
        ASSERT_TRUE(server.WaitForClosedConnections(1));
    }

    ScriptedNntpServer server(
        NntpScript().Send(kGreeting).Reply(kGroupReply).Reply(kStatus + kArticle + ".\r\n"));
    SetDefaultNntpPort(server.Port());
    RecordingDisplay display;
    EXPECT_EQ(ReadArticle(store.Base(), kHost, kGroup, "5", display).m_outcome,
              ArticleOutcome::Shown);
    EXPECT_EQ(display.m_log, "status:;fetched;parts 1:2;read;");
    EXPECT_EQ(store.Files(), std::vector<std::string>{"five@example.org.ntx"});
    EXPECT_EQ(ReadWholeFile(store.GroupDir() + "/five@example.org.ntx"), kArticle);
    EXPECT_EQ(store.Read(0), "YES");
}

const std::string kClosed = "サーバーが接続を切りました。";

INSTANTIATE_TEST_SUITE_P(
    Stages, ArticleCutTest,
    ::testing::Values(
        ArticleCutCase{"GroupReplyCut", "211 9 1", "", true, kClosed},
        ArticleCutCase{"NoReply", kGroupReply, "", true, kClosed},
        ArticleCutCase{"StatusLineCut", kGroupReply, "220 5 <five@exa", true, kClosed},
        ArticleCutCase{"AfterTheStatusLine", kGroupReply, kStatus, true, kClosed},
        ArticleCutCase{"InsideTheHeader", kGroupReply, kStatus + "Subject: fi", true, kClosed},
        ArticleCutCase{"InsideTheBody", kGroupReply, kStatus + "Subject: five\r\n\r\nfirst\r\nsec",
                       true, kClosed},
        ArticleCutCase{"BeforeTheTerminator", kGroupReply, kStatus + kArticle, true, kClosed},
        ArticleCutCase{"TerminatorWithoutItsEnd", kGroupReply, kStatus + kArticle + ".", true,
                       kClosed},
        ArticleCutCase{"SilentInsideTheBody", kGroupReply, kStatus + "Subject: five\r\n\r\nbo",
                       false, "サーバーの応答が時間内に届きませんでした。"},
        ArticleCutCase{"LineWithoutEnd", kGroupReply,
                       kStatus + "Subject: " + std::string(CNntpSocket::kMaxLineBytes, 'x'), false,
                       "サーバーから長すぎる行が届きました。"}),
    [](const auto& info) { return std::string(info.param.name); });

// RFC 3977 lets the text after a status code out.
TEST(ArticleCut, BareStatusLineBringsTheArticle) {
    NntpSettingsGuard guard;
    Store store;
    ScriptedNntpServer server(
        NntpScript().Send("200\r\n").Reply("211\r\n").Reply("220\r\n" + kArticle + ".\r\n"));
    SetDefaultNntpPort(server.Port());
    RecordingDisplay display;
    EXPECT_EQ(ReadArticle(store.Base(), kHost, kGroup, "5", display).m_outcome,
              ArticleOutcome::Shown);
    EXPECT_EQ(ReadWholeFile(store.GroupDir() + "/five@example.org.ntx"), kArticle);
}

// ---- a program killed in the middle of an article ----

TEST(ArticleCut, ProgramKilledInTheMiddleLeavesNoCacheFile) {
    NntpSettingsGuard guard(3000, 30000);
    Store store;
    const std::string cachePath = store.GroupDir() + "/five@example.org.ntx";
    int portPipe[2];
    ASSERT_EQ(::pipe(portPipe), 0);
    // The child is made before the server's thread, so it starts with this one thread only.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(portPipe[1]);
        int port = 0;
        if (::read(portPipe[0], &port, sizeof port) != static_cast<ssize_t>(sizeof port))
            ::_exit(2);
        SetDefaultNntpPort(port);
        CacheArticle(cachePath, "5", kHost, kGroup);
        ::_exit(0);
    }
    ::close(portPipe[0]);

    std::atomic<bool> halfSent{false};
    std::string half = kStatus + "Subject: five\r\n\r\n";
    while (half.size() < 200000)
        half += "a body line that the killed program had already written\r\n";
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Reply(kGroupReply)
                                  .Reply(half)
                                  .Do([&](NntpServerConnection&) { halfSent = true; })
                                  .Pause(30000));
    const int port = server.Port();
    ASSERT_EQ(::write(portPipe[1], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    ::close(portPipe[1]);

    // Until the child has written most of what it was sent to its temporary file.
    auto written = [&] {
        for (const std::string& name : store.Files()) {
            std::error_code ec;
            if (name.starts_with(".fetch-") &&
                fs::file_size(store.GroupDir() + "/" + name, ec) > 100000)
                return true;
        }
        return false;
    };
    const auto start = std::chrono::steady_clock::now();
    while (!(halfSent && written()) && ElapsedMs(start) < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(halfSent);
    EXPECT_TRUE(written());
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    EXPECT_FALSE(fs::exists(cachePath));
    // Only the temporary file is left, under a name no cache file has.
    const std::vector<std::string> files = store.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].starts_with(".fetch-"));
    EXPECT_FALSE(files[0].ends_with(kCacheFileSuffix));
}

// ---- long Message-IDs ----

TEST(ArticleCut, LongMessageIdsThatAgreeFarInHaveTheirOwnCacheFiles) {
    NntpSettingsGuard guard;
    const std::string common = "<" + std::string(5000, 'q');
    Store store({common + "1@x>", common + "2@x>"});
    int reading = 0;
    for (int number : {5, 6, 5}) {
        NntpScript script =
            NntpScript()
                .Send(kGreeting)
                .Reply(kGroupReply)
                .Reply("220 " + std::to_string(number) + " <id> article\r\nSubject: article " +
                       std::to_string(number) +
                       "\r\nContent-Type: text/plain\r\n\r\nbody\r\n.\r\n");
        ScriptedNntpServer server(script);
        SetDefaultNntpPort(server.Port());
        RecordingDisplay display;
        const CArticleReadResult result =
            ReadArticle(store.Base(), kHost, kGroup, std::to_string(number), display);
        EXPECT_EQ(result.m_outcome, ArticleOutcome::Shown);
        EXPECT_EQ(ReadWholeFile(result.m_cachePath).substr(0, 18),
                  "Subject: article " + std::to_string(number));
        // The third reading finds the first article's file and asks no server.
        EXPECT_EQ(server.AcceptedConnections(), ++reading < 3 ? 1u : 0u);
    }
    EXPECT_EQ(store.Files().size(), 2u);
}

// ---- many articles over one connection ----

TEST(ArticleCut, PipelinedRepliesEachIntoTheirOwnCacheFileUntilTheFirstCut) {
    NntpSettingsGuard guard;
    TestDir dir;
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Await()
                                  .Await()
                                  .Await()
                                  .Await()
                                  .Send("220 1 <1@x>\r\nSubject: one\r\n.\r\n"
                                        "423 no such article\r\n"
                                        "220 3 <3@x>\r\nSubject: th")
                                  .Close());
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, kHost, server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("ARTICLE 1\r\nARTICLE 2\r\nARTICLE 3\r\nARTICLE 4\r\n");
    std::vector<ArticleReply> replies;
    for (int n = 1; n <= 4; ++n) {
        CCacheFile cache(dir / (std::to_string(n) + ".ntx"));
        ASSERT_TRUE(cache.Open());
        replies.push_back(ReadArticleToFile(socket, cache.File()));
        if (replies.back() == ArticleReply::Whole)
            EXPECT_TRUE(cache.Commit());
    }
    EXPECT_EQ(replies, (std::vector<ArticleReply>{ArticleReply::Whole, ArticleReply::Refused,
                                                  ArticleReply::Cut, ArticleReply::Cut}));
    EXPECT_EQ(ReadWholeFile(dir / "1.ntx"), "Subject: one\r\n");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"1.ntx"});
}

// ---- more parts than are written ----

TEST(ArticleCut, ArticleOfTooManyPartsSaysSoOnTheStatusLine) {
    NntpSettingsGuard guard;
    Store store;
    std::string article = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < kMaxPartFiles + 5; ++i)
        article += "--b\r\nContent-Type: text/plain\r\n\r\npart " + std::to_string(i) + "\r\n";
    article += "--b--\r\n";
    ScriptedNntpServer server(
        NntpScript().Send(kGreeting).Reply(kGroupReply).Reply(kStatus + article + ".\r\n"));
    SetDefaultNntpPort(server.Port());
    RecordingDisplay display;
    EXPECT_EQ(ReadArticle(store.Base(), kHost, kGroup, "5", display).m_outcome,
              ArticleOutcome::Shown);
    EXPECT_EQ(display.m_log,
              "status:;fetched;parts 0:1001;status:" +
                  std::string("パートが多すぎるため、最初の 1000 個だけを表示します") + ";read;");
}

} // namespace
