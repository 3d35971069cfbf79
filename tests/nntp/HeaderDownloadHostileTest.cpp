// The header download against servers that cut replies, die, fall silent or trickle, and
// headers that push the field reader's bounds.

#include "nntp/HeaderDownload.h"

#include "HeaderDownloadTestSupport.h"
#include "NntpTestSupport.h"
#include "nntp/NntpSocket.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

const std::string kServer = "127.0.0.1";
const std::string kGroup = "local.test";
const std::string kClosed = " 接続エラーが発生しました 'サーバーが接続を切りました。' ";
const std::string kTimedOut =
    " 接続エラーが発生しました 'サーバーの応答が時間内に届きませんでした。' ";
const std::string kTooLong = " 接続エラーが発生しました 'サーバーから長すぎる行が届きました。' ";

std::string Status(int n) {
    return "221 " + std::to_string(n) + " <" + std::to_string(n) + "@example.org>\r\n";
}

std::string HeadLines(int n) {
    const std::string number = std::to_string(n);
    return "From: Poster " + number + " <p" + number + "@example.org>\r\nSubject: Article " +
           number + "\r\nMessage-ID: <" + number +
           "@example.org>\r\nReferences: <root@example.org>\r\n";
}

std::string Head(int n) {
    return Status(n) + HeadLines(n) + ".\r\n";
}

// The record Head(n) leaves: NUM|MESID|FROM|SUB|DATE|MEDIA|REF|READ|HIDE.
std::string Row(int n) {
    const std::string number = std::to_string(n);
    return number + "|<" + number + "@example.org>|Poster " + number + " <p" + number +
           "@example.org>|Article " + number + "|<null>|<null>|<root@example.org>|<null>|<null>";
}

std::vector<std::string> Rows(int first, int last) {
    std::vector<std::string> rows;
    for (int n = first; n <= last; ++n)
        rows.push_back(Row(n));
    return rows;
}

std::string HeadCommands(int first, int last) {
    std::string commands;
    for (int n = first; n <= last; ++n)
        commands += "HEAD " + std::to_string(n) + "\r\n";
    return commands;
}

// A group of articles 1 to 5 whose HEAD n the answer function answers (empty: Head(n)).
NntpScript ServeFive(std::function<void(NntpServerConnection&, int n)> answer) {
    return NntpScript()
        .Send("200 ready\r\n")
        .OnCommand([answer](NntpServerConnection& c, const std::string& line) {
            if (line.starts_with("GROUP "))
                c.Send("211 5 1 5 local.test\r\n");
            else if (line.starts_with("HEAD "))
                answer(c, std::atoi(line.c_str() + 5));
        });
}

class HostileDownload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateGroupDirectory(m_dir.Path(), kServer, kGroup), 1);
        ASSERT_EQ(CreateDatabaseTable("127001", {"GROUP"}, MainDb()), 1);
    }

    std::string GroupDir() const { return GroupDirectory(m_dir.Path(), kServer, kGroup); }
    std::string MainDb() const { return m_dir / "quillo.mdb"; }
    std::string Ini() const { return ReadWholeFile(HeaderIniPath(GroupDir())); }

    HeaderDownloadParams Params(bool latestOnly = false, int depth = kHeadPipelineDepth) const {
        HeaderDownloadParams params;
        params.server = kServer;
        params.group = kGroup;
        params.baseDir = m_dir.Path();
        params.mainDbPath = MainDb();
        params.latestOnly = latestOnly;
        params.pipelineDepth = depth;
        return params;
    }

    // Runs the download; returns what the server received. m_elapsedMs is how long it took.
    std::string Download(NntpScript script, const HeaderDownloadParams& params) {
        ScriptedNntpServer server(std::move(script));
        SetDefaultNntpPort(server.Port());
        m_recorder = DownloadRecorder();
        const auto start = std::chrono::steady_clock::now();
        m_result = DownloadHeaders(params, m_recorder, m_recorder);
        m_elapsedMs = ElapsedMs(start);
        EXPECT_TRUE(server.WaitForClosedConnections(1, 10000));
        return server.Received(0);
    }

    // The last calls of a download that ended with this message.
    void ExpectEndedWith(const std::string& message) {
        const std::vector<std::string> tail = {"message:" + message, "range:0-1", "pos:0",
                                               "status:"};
        ASSERT_GE(m_recorder.calls.size(), tail.size());
        EXPECT_EQ(std::vector<std::string>(m_recorder.calls.end() - 4, m_recorder.calls.end()),
                  tail);
        EXPECT_EQ(m_recorder.messages, std::vector<std::string>{message});
    }

    NntpSettingsGuard m_guard{3000, 1000};
    TestDir m_dir;
    DownloadRecorder m_recorder;
    int m_result = -2;
    long long m_elapsedMs = 0;
};

// ---- HEAD 3 of 5 cut at every stage ----

struct HeadCutCase {
    const char* name;
    std::string sent; // of HEAD 3's reply
    bool close;       // then the server closes; otherwise it falls silent
    std::string message;
};

class HeadCutTest : public HostileDownload,
                    public ::testing::WithParamInterface<std::tuple<HeadCutCase, int>> {};

TEST_P(HeadCutTest, StoresTheWholeArticlesBeforeItAndARerunCompletesTheGroup) {
    const auto& [c, depth] = GetParam();
    const std::string received =
        Download(ServeFive([c = c](NntpServerConnection& connection, int n) {
                     if (n != 3) {
                         connection.Send(Head(n));
                         return;
                     }
                     connection.Send(c.sent);
                     if (c.close)
                         connection.Close();
                     else
                         connection.Pause(2500);
                 }),
                 Params(false, depth));

    // Nothing of the cut reply is stored, and nothing is sent after it: not even QUIT.
    EXPECT_EQ(HeaderRows(GroupDir()), Rows(1, 2));
    EXPECT_EQ(Ini(), "[HEADER]\ncount=5\nMIN=1\nLASTHEADER=2\n");
    EXPECT_EQ(received, "GROUP local.test\r\n" + HeadCommands(1, depth == 1 ? 3 : 5));
    EXPECT_EQ(m_result, 2);
    ExpectEndedWith(c.message);
    EXPECT_LT(m_elapsedMs, 4000);

    // The next update, latest only, asks again from the last whole article and completes the
    // group with one record per article.
    Download(ServeFive([](NntpServerConnection& connection, int n) { connection.Send(Head(n)); }),
             Params(true, depth));
    EXPECT_EQ(HeaderRows(GroupDir()), Rows(1, 5));
    EXPECT_EQ(Ini(), "[HEADER]\ncount=5\nMIN=2\nLASTHEADER=5\n");
    EXPECT_EQ(AddressBookRows(MainDb()).size(), 5u);
    EXPECT_TRUE(m_recorder.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Stages, HeadCutTest,
    ::testing::Combine(
        ::testing::Values(
            HeadCutCase{"NoReply", "", true, kClosed},
            HeadCutCase{"StatusLineCut", "221 3 <3@exa", true, kClosed},
            HeadCutCase{"AfterStatusLine", Status(3), true, kClosed},
            HeadCutCase{"InsideTheSubject",
                        Status(3) + "From: Poster 3 <p3@example.org>\r\nSubject: Arti", true,
                        kClosed},
            HeadCutCase{"BeforeTheMessageId",
                        Status(3) + "From: Poster 3 <p3@example.org>\r\nSubject: Article 3\r\n",
                        true, kClosed},
            HeadCutCase{"BeforeTheTerminator", Status(3) + HeadLines(3), true, kClosed},
            HeadCutCase{"TerminatorWithoutItsEnd", Status(3) + HeadLines(3) + ".", true, kClosed},
            HeadCutCase{"SilentInsideTheReply", Status(3) + "Subject: Art", false, kTimedOut},
            HeadCutCase{"LineWithoutEnd",
                        Status(3) + "Subject: " + std::string(CNntpSocket::kMaxLineBytes, 's'),
                        false, kTooLong}),
        ::testing::Values(1, kHeadPipelineDepth)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_Depth" +
               std::to_string(std::get<1>(info.param));
    });

// ---- servers that die or stall before any article ----

struct EarlyCase {
    const char* name;
    NntpScript script;
    int result;
    std::string message;
    std::string ini; // empty: no counters file
};

class EarlyFailureTest : public HostileDownload, public ::testing::WithParamInterface<EarlyCase> {};

TEST_P(EarlyFailureTest, EndsAtOnceWithTheMessage) {
    const EarlyCase& c = GetParam();
    Download(c.script, Params());
    EXPECT_EQ(m_result, c.result);
    ExpectEndedWith(c.message);
    EXPECT_EQ(HeaderRows(GroupDir()), std::vector<std::string>());
    EXPECT_EQ(Ini(), c.ini);
    EXPECT_LT(m_elapsedMs, 4000);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, EarlyFailureTest,
    ::testing::Values(
        EarlyCase{"GreetingCut", NntpScript().Send("200 rea").Close(), -1, kClosed, ""},
        EarlyCase{"GreetingNeverComes", NntpScript().Pause(2500), -1, kTimedOut, ""},
        EarlyCase{"GroupReplyCut", NntpScript().Send("200 ready\r\n").Reply("211 5 1").Close(), 0,
                  kClosed, ""},
        // Two thousand million articles, and then the server is gone: the first HEAD ends it.
        EarlyCase{"HugeGroupThenClose",
                  NntpScript()
                      .Send("200 ready\r\n")
                      .Reply("211 2147483647 1 2147483647 local.test\r\n")
                      .Close(),
                  0, kClosed, "[HEADER]\ncount=2147483647\nMIN=1\n"},
        EarlyCase{"SilentAfterGroup",
                  NntpScript().Send("200 ready\r\n").Reply("211 5 1 5 local.test\r\n").Pause(2500),
                  0, kTimedOut, "[HEADER]\ncount=5\nMIN=1\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// With 1 s time-outs, a server sending one byte every 300 ms holds the update a few seconds.
TEST_F(HostileDownload, TricklingServerIsLeftWithinSeconds) {
    Download(ServeFive(
                 [](NntpServerConnection& connection, int n) { connection.Send(Head(n), 1, 300); }),
             Params());
    EXPECT_LT(m_elapsedMs, 15000);
    ExpectEndedWith(kTimedOut);
    EXPECT_EQ(HeaderRows(GroupDir()), std::vector<std::string>());
}

// ---- headers as real posters write them ----

TEST_F(HostileDownload, LongReferencesKeepTheParentAndLongMessageIdsStayApart) {
    std::string references = "References:";
    for (int i = 0; i < 300; ++i)
        references += (i % 4 == 0 ? "\r\n " : " ") + ("<ancestor" + std::to_string(i) + "@x>");
    references += "\r\n\t<parent@x>\r\n";
    const std::string longId = "<" + std::string(5000, 'm');
    Download(ServeFive([&](NntpServerConnection& connection, int n) {
                 if (n == 1)
                     connection.Send(Status(1) + "Subject: long thread\r\nMessage-ID: <1@x>\r\n" +
                                     references + ".\r\n");
                 else if (n == 2 || n == 3)
                     connection.Send(Status(n) + "Subject: id " + std::to_string(n) +
                                     "\r\nMessage-ID: " + longId + std::to_string(n) +
                                     ">\r\n.\r\n");
                 else
                     connection.Send("423 no such article\r\n");
             }),
             Params());
    EXPECT_EQ(HeaderRows(GroupDir()),
              (std::vector<std::string>{
                  "1|<1@x>|<null>|long thread|<null>|<null>|<parent@x>|<null>|<null>",
                  "2|" + longId + "2>|<null>|id 2|<null>|<null>|<null>|<null>|<null>",
                  "3|" + longId + "3>|<null>|id 3|<null>|<null>|<null>|<null>|<null>"}));
    EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(HostileDownload, HeadersFoldedWithBlanksKeepTheirText) {
    Download(ServeFive([](NntpServerConnection& connection, int n) {
                 if (n != 1) {
                     connection.Send("423 no such article\r\n");
                     return;
                 }
                 connection.Send(Status(1) +
                                 "Subject: How should a newsreader fold for long\r\n"
                                 " articles?\r\nFrom: Someone\r\n <someone@example.org>\r\n"
                                 "Message-ID: <fold@x>\r\nReferences: <a@x>\r\n <b@x>\r\n.\r\n");
             }),
             Params());
    EXPECT_EQ(HeaderRows(GroupDir()),
              std::vector<std::string>{
                  "1|<fold@x>|Someone <someone@example.org>|How should a newsreader fold for "
                  "long articles?|<null>|<null>|<b@x>|<null>|<null>"});
}

} // namespace
