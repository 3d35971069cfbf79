#include "nntp/HeaderDownload.h"

#include "HeaderDownloadTestSupport.h"
#include "NntpTestSupport.h"
#include "nntp/NntpSocket.h"
#include "store/AddressBook.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

template <typename Case>
requires requires(const Case& c) {
    c.name;
}
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

const std::string kServer = "127.0.0.1";
const std::string kGroup = "local.test";
const std::string kDate = "Mon, 15 Jan 2024 09:00:00 +0000";
const std::string kPlain = "text/plain; charset=US-ASCII";

// The reply to HEAD n: status line, the header lines (dot-stuffed) and the "." line.
std::string HeadReply(int n, const std::vector<std::string>& lines) {
    std::string reply = "221 " + std::to_string(n) + " <" + std::to_string(n) + "@example.org>\r\n";
    for (const std::string& line : lines)
        reply += (line.starts_with(".") ? "." : "") + line + "\r\n";
    return reply + ".\r\n";
}

std::vector<std::string> SimpleLines(int n, const std::string& subject) {
    const std::string number = std::to_string(n);
    return {"Path: news.example.org!not-for-mail",
            "From: Poster " + number + " <p" + number + "@example.org>",
            "Newsgroups: local.test",
            "Subject: " + subject,
            "Date: " + kDate,
            "Message-ID: <" + number + "@example.org>",
            "Content-Type: " + kPlain,
            "Lines: 1"};
}

std::string SimpleHead(int n) {
    return HeadReply(n, SimpleLines(n, "Article " + std::to_string(n)));
}

// The record SimpleHead(n) leaves, as HeaderRows shows it (READ and HIDE unset).
std::string SimpleRow(int n, const std::string& subject = "") {
    const std::string number = std::to_string(n);
    return number + "|<" + number + "@example.org>|Poster " + number + " <p" + number +
           "@example.org>|" + (subject.empty() ? "Article " + number : subject) + "|" + kDate +
           "|" + kPlain + "|<null>|<null>|<null>";
}

std::map<int, std::string> SimpleHeads(int first, int last) {
    std::map<int, std::string> heads;
    for (int n = first; n <= last; ++n)
        heads[n] = SimpleHead(n);
    return heads;
}

std::string HeadCommands(int first, int last) {
    std::string commands;
    for (int n = first; n <= last; ++n)
        commands += "HEAD " + std::to_string(n) + "\r\n";
    return commands;
}

std::vector<std::string> SimpleRows(int first, int last) {
    std::vector<std::string> rows;
    for (int n = first; n <= last; ++n)
        rows.push_back(SimpleRow(n));
    return rows;
}

// A group on the scripted server: the GROUP reply, and the reply to each HEAD n (a number
// without one answers 423).
NntpScript ServeGroup(std::string groupReply, std::map<int, std::string> heads) {
    auto served = std::make_shared<std::pair<std::string, std::map<int, std::string>>>(
        std::move(groupReply), std::move(heads));
    return NntpScript()
        .Send("200 news.example.org InterNetNews NNRP server INN 2.7.1 ready (posting ok)\r\n")
        .OnCommand([served](NntpServerConnection& c, const std::string& line) {
            if (line.starts_with("GROUP ")) {
                c.Send(served->first);
            } else if (line.starts_with("HEAD ")) {
                const int n = std::atoi(line.c_str() + 5);
                const auto found = served->second.find(n);
                c.Send(found != served->second.end()
                           ? found->second
                           : "423 No such article number " + std::to_string(n) + "\r\n");
            } else if (line == "QUIT\r\n") {
                c.Send("205 Bye!\r\n");
            } else {
                c.Send("500 What?\r\n");
            }
        });
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateGroupDirectory(m_dir.Path(), kServer, kGroup), 1);
        // The main database exists from start-up on, holding the server's group table.
        ASSERT_EQ(CreateDatabaseTable("127001", {"GROUP"}, MainDb()), 1);
    }

    std::string GroupDir(const std::string& server = kServer,
                         const std::string& group = kGroup) const {
        return GroupDirectory(m_dir.Path(), server, group);
    }
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

    // Runs the download against a scripted server; returns what the server received.
    std::string Download(NntpScript script, const HeaderDownloadParams& params) {
        ScriptedNntpServer server(std::move(script));
        SetDefaultNntpPort(server.Port());
        m_result = DownloadHeaders(params, m_recorder, m_recorder);
        EXPECT_TRUE(server.WaitForClosedConnections(1));
        return server.Received(0);
    }

    NntpSettingsGuard m_guard;
    TestDir m_dir;
    DownloadRecorder m_recorder;
    int m_result = -2;
};

// ---- the range: GROUP, the latest-only rule and the counters ----

struct RangeCase {
    const char* name;
    std::string iniBefore; // empty: no counters file
    bool latestOnly;
    std::string groupReply;
    int headFirst; // HEAD headFirst..headLast are sent (none when first > last)
    int headLast;
    std::string iniAfter;
};

class RangeTest : public DownloadTest,
                  public ::testing::WithParamInterface<std::tuple<RangeCase, int>> {};

TEST_P(RangeTest, RequestsEveryNumberOnceAndKeepsTheCounters) {
    const auto& [c, depth] = GetParam();
    if (!c.iniBefore.empty())
        ASSERT_TRUE(WriteWholeFile(HeaderIniPath(GroupDir()), c.iniBefore));

    const std::string received =
        Download(ServeGroup(c.groupReply, SimpleHeads(1, 1000)), Params(c.latestOnly, depth));

    EXPECT_EQ(received,
              "GROUP local.test\r\n" + HeadCommands(c.headFirst, c.headLast) + "QUIT\r\nEXIT\r\n");
    EXPECT_EQ(Ini(), c.iniAfter);
    EXPECT_EQ(HeaderRows(GroupDir()), SimpleRows(c.headFirst, c.headLast));
    EXPECT_EQ(m_result, std::max(0, c.headLast - c.headFirst + 1));
    EXPECT_TRUE(m_recorder.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RangeTest,
    ::testing::Combine(
        ::testing::Values(
            RangeCase{"LatestOnlyFromLastHeader", "[HEADER]\nLASTHEADER=150\n", true,
                      "211 61 100 160 local.test\r\n", 150, 160,
                      "[HEADER]\nLASTHEADER=160\ncount=160\nMIN=150\n"},
            RangeCase{"LatestOnlyLastHeaderBelowFirst", "[HEADER]\nLASTHEADER=90\n", true,
                      "211 61 100 160 local.test\r\n", 100, 160,
                      "[HEADER]\nLASTHEADER=160\ncount=160\nMIN=100\n"},
            RangeCase{"LatestOnlyWithoutCountersFile", "", true, "211 61 100 160 local.test\r\n",
                      100, 160, "[HEADER]\ncount=160\nMIN=100\nLASTHEADER=160\n"},
            RangeCase{"WholeRangeWhenNotLatestOnly", "[HEADER]\nLASTHEADER=150\n", false,
                      "211 61 100 160 local.test\r\n", 100, 160,
                      "[HEADER]\nLASTHEADER=160\ncount=160\nMIN=100\n"},
            RangeCase{"EmptyGroupFirstAboveLast", "", false, "211 0 161 160 local.test\r\n", 161,
                      160, "[HEADER]\ncount=160\nMIN=161\n"},
            RangeCase{"LatestOnlyLastHeaderBeyondLast", "[HEADER]\nLASTHEADER=200\n", true,
                      "211 61 100 160 local.test\r\n", 200, 160,
                      "[HEADER]\nLASTHEADER=200\ncount=160\nMIN=200\n"},
            RangeCase{"ReplyWithoutGroupName", "", false, "211 3 1 3\r\n", 1, 3,
                      "[HEADER]\ncount=3\nMIN=1\nLASTHEADER=3\n"}),
        ::testing::Values(1, 7, kHeadPipelineDepth)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_Depth" +
               std::to_string(std::get<1>(info.param));
    });

// ---- replies other than 221 ----

class MissingArticleTest : public DownloadTest, public ::testing::WithParamInterface<int> {};

TEST_P(MissingArticleTest, LeavesNoRecordAndTheNextIsRequestedNormally) {
    std::map<int, std::string> heads = SimpleHeads(1, 5);
    heads.erase(3); // 423
    // A reply of the wrong kind, with lines of its own, is read to its end and dropped.
    heads[4] = "220 4 <4@example.org> article\r\nSubject: not a head reply\r\n\r\nbody\r\n.\r\n";
    heads.erase(6); // the last one is missing as well

    const std::string received =
        Download(ServeGroup("211 6 1 6 local.test\r\n", heads), Params(false, GetParam()));

    EXPECT_EQ(received, "GROUP local.test\r\n" + HeadCommands(1, 6) + "QUIT\r\nEXIT\r\n");
    EXPECT_EQ(HeaderRows(GroupDir()),
              (std::vector<std::string>{SimpleRow(1), SimpleRow(2), SimpleRow(5)}));
    // LASTHEADER names the last header stored, not the last number asked for.
    EXPECT_EQ(Ini(), "[HEADER]\ncount=6\nMIN=1\nLASTHEADER=5\n");
    EXPECT_EQ(m_result, 3);
}

INSTANTIATE_TEST_SUITE_P(Depths, MissingArticleTest, ::testing::Values(1, kHeadPipelineDepth));

class ConnectionLostTest : public DownloadTest, public ::testing::WithParamInterface<int> {};

TEST_P(ConnectionLostTest, KeepsWhatArrivedAndEndsAsUsual) {
    auto script = NntpScript()
                      .Send("200 ready\r\n")
                      .OnCommand([](NntpServerConnection& c, const std::string& line) {
                          if (line.starts_with("GROUP "))
                              c.Send("211 6 1 6 local.test\r\n");
                          else if (line == "HEAD 4\r\n")
                              c.Close();
                          else if (line.starts_with("HEAD "))
                              c.Send(SimpleHead(std::atoi(line.c_str() + 5)));
                      });
    Download(std::move(script), Params(false, GetParam()));

    EXPECT_EQ(HeaderRows(GroupDir()), SimpleRows(1, 3));
    EXPECT_EQ(Ini(), "[HEADER]\ncount=6\nMIN=1\nLASTHEADER=3\n");
    EXPECT_EQ(m_result, 3);
    ASSERT_GE(m_recorder.calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(m_recorder.calls.end() - 3, m_recorder.calls.end()),
              (std::vector<std::string>{"range:0-1", "pos:0", "status:"}));
}

INSTANTIATE_TEST_SUITE_P(Depths, ConnectionLostTest, ::testing::Values(1, kHeadPipelineDepth));

// ---- what the window sees ----

TEST_F(DownloadTest, ShowsEachStepAndRestoresTheWindow) {
    std::map<int, std::string> heads = SimpleHeads(1, 3);
    heads.erase(2);
    Download(ServeGroup("211 3 1 3 local.test\r\n", heads), Params());
    EXPECT_EQ(m_recorder.calls,
              (std::vector<std::string>{"status:ヘッダー読み取り中", "clear-tree", "range:1-3",
                                        "status:ヘッダー読み取り中 : 1 / 3 ", "pump", "pos:1",
                                        "status:ヘッダー読み取り中 : 2 / 3 ", "pump", "pos:2",
                                        "status:ヘッダー読み取り中 : 3 / 3 ", "pump", "pos:3",
                                        "range:0-1", "pos:0", "status:"}));
    EXPECT_EQ(m_result, 2);
}

class StopTest : public DownloadTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopTest, EndsAtTheNextStepWithWhatArrivedStored) {
    // The user asks to close the window during the third step's pump.
    m_recorder.stopFromPump = 3;
    const std::string received = Download(ServeGroup("211 5 1 5 local.test\r\n", SimpleHeads(1, 5)),
                                          Params(false, GetParam()));

    EXPECT_EQ(m_recorder.calls,
              (std::vector<std::string>{"status:ヘッダー読み取り中", "clear-tree", "range:1-5",
                                        "status:ヘッダー読み取り中 : 1 / 5 ", "pump", "pos:1",
                                        "status:ヘッダー読み取り中 : 2 / 5 ", "pump", "pos:2",
                                        "status:ヘッダー読み取り中 : 3 / 5 ", "pump", "range:0-1",
                                        "pos:0", "status:"}));
    // Asked-for headers beyond the stop are not waited for; the conversation ends as usual.
    const std::string asked = GetParam() == 1 ? HeadCommands(1, 2) : HeadCommands(1, 5);
    EXPECT_EQ(received, "GROUP local.test\r\n" + asked + "QUIT\r\nEXIT\r\n");
    EXPECT_EQ(HeaderRows(GroupDir()), SimpleRows(1, 2));
    EXPECT_EQ(Ini(), "[HEADER]\ncount=5\nMIN=1\nLASTHEADER=2\n");
    EXPECT_EQ(m_result, 2);
}

INSTANTIATE_TEST_SUITE_P(Depths, StopTest, ::testing::Values(1, kHeadPipelineDepth));

TEST_F(DownloadTest, EmptyGroupNameDoesNothing) {
    ScriptedNntpServer server(ServeGroup("211 3 1 3 local.test\r\n", SimpleHeads(1, 3)));
    SetDefaultNntpPort(server.Port());
    HeaderDownloadParams params = Params();
    params.group.clear();
    EXPECT_EQ(DownloadHeaders(params, m_recorder, m_recorder), 0);
    EXPECT_TRUE(m_recorder.calls.empty());
    EXPECT_EQ(server.AcceptedConnections(), 0u);
    EXPECT_FALSE(std::filesystem::exists(HeaderDbPath(GroupDir())));
}

// ---- failures ----

enum class Failure { Refused, Unresolvable, Greeting201, Group411 };

struct FailureCase {
    const char* name;
    Failure failure;
    std::string message; // empty: none shown
    std::string received;
    int result;
};

class FailureTest : public DownloadTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ShowsTheMessageAndRestoresTheWindow) {
    const FailureCase& c = GetParam();
    std::string received;
    if (c.failure == Failure::Refused || c.failure == Failure::Unresolvable) {
        RefusingPort refusing;
        SetDefaultNntpPort(refusing.Port());
        if (c.failure == Failure::Unresolvable)
            SetNntpResolver([](const std::string&) { return std::vector<std::string>(); });
        m_result = DownloadHeaders(Params(), m_recorder, m_recorder);
    } else {
        NntpScript script = c.failure == Failure::Greeting201
                                ? NntpScript().Send("201 news.example.org ready (no posting)\r\n")
                                : ServeGroup("411 No such group local.test\r\n", {});
        received = Download(std::move(script), Params(true));
    }

    std::vector<std::string> calls = {"status:ヘッダー読み取り中", "clear-tree"};
    if (!c.message.empty())
        calls.push_back("message:" + c.message);
    calls.insert(calls.end(), {"range:0-1", "pos:0", "status:"});
    EXPECT_EQ(m_recorder.calls, calls);
    EXPECT_EQ(received, c.received);
    EXPECT_EQ(m_result, c.result);
    // The table is made before connecting; nothing else is written.
    EXPECT_EQ(HeaderRows(GroupDir()), std::vector<std::string>());
    EXPECT_FALSE(std::filesystem::exists(HeaderIniPath(GroupDir())));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureTest,
    ::testing::Values(
        FailureCase{"ConnectionRefused", Failure::Refused,
                    " 接続エラーが発生しました '接続を試みましたが、リジェクトされました。' ", "",
                    -1},
        FailureCase{"HostDoesNotResolve", Failure::Unresolvable,
                    "接続エラーが発生しました \nネットワークに接続していない可能性があります", "",
                    -1},
        FailureCase{"Greeting201", Failure::Greeting201, " 接続エラーが発生しました '201' ", "",
                    -1},
        FailureCase{"Group411", Failure::Group411, "", "GROUP local.test\r\nQUIT\r\nEXIT\r\n", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the fields of the record ----

TEST_F(DownloadTest, StoresFoldedAndJapaneseFieldsDecoded) {
    std::map<int, std::string> heads;
    heads[1] =
        HeadReply(1, {"From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro@example.jp>",
                      "Subject: =?ISO-2022-JP?B?"
                      "GyRCRDkkJDdvTD4kTkBeJGpKViQ3JE47bjgzISclKCVzJTMhPCVJGyhC?=",
                      "\t=?ISO-2022-JP?B?GyRCJDUkbCQ/OGwkLEZzOVQkSyReJD8kLCRrPmw5ZxsoQg==?=",
                      "Date: Thu, 18 Jan 2024 08:30:00 +0900", "Message-ID: <long@example.jp>",
                      "References: <root@example.jp> <a@example.jp>", "\t<b@example.jp>",
                      "Content-Type: multipart/alternative;", "\tboundary=\"quillo-alt\""});
    heads[2] = HeadReply(2, {"From: Grace Lee <grace@example.org>",
                             "Subject: Notes on folding long header lines in news", "\tarticles",
                             "Date: " + kDate, "Message-ID: <fold@example.org>"});
    heads[3] = HeadReply(3, {"From: jiro@example.ne.jp (\x1b$B:4F#<!O:\x1b(B)",
                             "Subject: \x1b$B8E$$7A<0$N5-;v!J%X%C%@!<$K@8$N\x1b(B "
                             "JIS\x1b$B!K\x1b(B",
                             "Date: " + kDate, "Message-ID: <raw@example.ne.jp>",
                             "References: <long@example.jp>"});
    Download(ServeGroup("211 3 1 3 local.test\r\n", heads), Params());

    EXPECT_EQ(HeaderRows(GroupDir()),
              (std::vector<std::string>{
                  "1|<long@example.jp>|" + Sjis("山田太郎") + " <taro@example.jp>|" +
                      Sjis("長い件名の折り返しの試験：エンコードされた語が二行にまたがる場合") +
                      "|Thu, 18 Jan 2024 08:30:00 +0900|multipart/"
                      "alternative; boundary=\"quillo-alt\"|<b@example.jp>|<null>|<null>",
                  "2|<fold@example.org>|Grace Lee <grace@example.org>|Notes on folding long "
                  "header lines in news articles|" +
                      kDate + "|<null>|<null>|<null>|<null>",
                  "3|<raw@example.ne.jp>|jiro@example.ne.jp (" + Sjis("佐藤次郎") + ")|" +
                      Sjis("古い形式の記事（ヘッダーに生の JIS）") + "|" + kDate +
                      "|<null>|<long@example.jp>|<null>|<null>"}));
    EXPECT_EQ(AddressBookRows(MainDb()),
              (std::vector<std::string>{
                  Sjis("山田太郎") + "|taro@example.jp,127.0.0.1|127.0.0.1|local.test",
                  "Grace Lee|grace@example.org,127.0.0.1|127.0.0.1|local.test",
                  "(" + Sjis("佐藤次郎") + ")|jiro@example.ne.jp,127.0.0.1|127.0.0.1|local.test"}));
}

// ---- one record per Message-ID ----

TEST_F(DownloadTest, SameMessageIdUpdatesTheFirstRecordWithIt) {
    std::map<int, std::string> heads;
    heads[1] = HeadReply(1, {"Subject: one", "Message-ID: <a@x.example>"});
    heads[2] = HeadReply(2, {"Subject: two, no Message-ID"});
    heads[3] = HeadReply(3, {"Subject: three", "Message-ID: <b@x.example>"});
    heads[4] = HeadReply(4, {"Subject: four, no Message-ID either"});
    heads[5] = HeadReply(5, {"Subject: five", "Message-ID: <a@x.example>"});
    // Message-IDs compare exactly: letter case counts.
    heads[6] = HeadReply(6, {"Subject: six", "Message-ID: <A@x.example>"});
    Download(ServeGroup("211 6 1 6 local.test\r\n", heads), Params());

    EXPECT_EQ(HeaderRows(GroupDir()),
              (std::vector<std::string>{
                  "5|<a@x.example>|<null>|five|<null>|<null>|<null>|<null>|<null>",
                  "4|<null>|<null>|four, no Message-ID either|<null>|<null>|<null>|<null>|<null>",
                  "3|<b@x.example>|<null>|three|<null>|<null>|<null>|<null>|<null>",
                  "6|<A@x.example>|<null>|six|<null>|<null>|<null>|<null>|<null>"}));
    EXPECT_EQ(Ini(), "[HEADER]\ncount=6\nMIN=1\nLASTHEADER=6\n");
    EXPECT_EQ(m_result, 6);
}

TEST_F(DownloadTest, OfTwoStoredRecordsWithTheMessageIdTheFirstIsUpdated) {
    ASSERT_EQ(CreateHeaderTable(GroupDir()), 1);
    {
        CDbTable table;
        ASSERT_EQ(table.Open(kHeaderTable, HeaderDbPath(GroupDir())), 1);
        for (const char* num : {"old1", "old2"}) {
            ASSERT_EQ(table.AddNew(), 1);
            table.SetField("NUM", num);
            table.SetField("MESID", "<7@example.org>");
            ASSERT_EQ(table.Update(), 1);
        }
    }
    Download(ServeGroup("211 1 7 7 local.test\r\n", SimpleHeads(7, 7)), Params());
    EXPECT_EQ(HeaderRows(GroupDir()),
              (std::vector<std::string>{
                  SimpleRow(7),
                  "old2|<7@example.org>|<null>|<null>|<null>|<null>|<null>|<null>|<null>"}));
}

TEST_F(DownloadTest, SecondDownloadRewritesRecordsAndKeepsReadAndHide) {
    Download(ServeGroup("211 4 1 4 local.test\r\n", SimpleHeads(1, 4)), Params());
    ASSERT_EQ(HeaderRows(GroupDir()), SimpleRows(1, 4));
    {
        CDbTable table;
        ASSERT_EQ(table.Open(kHeaderTable, HeaderDbPath(GroupDir())), 1);
        ASSERT_EQ(table.MoveTo(0), 1);
        table.Edit();
        table.SetField("READ", "1");
        ASSERT_EQ(table.Update(), 1);
        ASSERT_EQ(table.MoveTo(2), 1);
        table.Edit();
        table.SetField("HIDE", "1");
        ASSERT_EQ(table.Update(), 1);
    }

    std::map<int, std::string> heads;
    for (int n = 1; n <= 5; ++n)
        heads[n] = HeadReply(n, SimpleLines(n, "Edited " + std::to_string(n)));
    m_recorder = DownloadRecorder();
    const std::string received = Download(ServeGroup("211 5 1 5 local.test\r\n", heads), Params());

    EXPECT_EQ(received, "GROUP local.test\r\n" + HeadCommands(1, 5) + "QUIT\r\nEXIT\r\n");
    std::vector<std::string> rows;
    for (int n = 1; n <= 5; ++n)
        rows.push_back(SimpleRow(n, "Edited " + std::to_string(n)));
    // REF|READ|HIDE at the end of the row.
    const std::string unset = "|<null>|<null>|<null>";
    rows[0].replace(rows[0].size() - unset.size(), unset.size(), "|<null>|1|<null>");
    rows[2].replace(rows[2].size() - unset.size(), unset.size(), "|<null>|<null>|1");
    EXPECT_EQ(HeaderRows(GroupDir()), rows);
    EXPECT_EQ(Ini(), "[HEADER]\ncount=5\nMIN=1\nLASTHEADER=5\n");
    // Each poster once.
    EXPECT_EQ(AddressBookRows(MainDb()).size(), 5u);

    // Latest only: the last header stored is requested again, and nothing changes.
    const auto before = HeaderRows(GroupDir());
    m_recorder = DownloadRecorder();
    EXPECT_EQ(Download(ServeGroup("211 5 1 5 local.test\r\n", heads), Params(true)),
              "GROUP local.test\r\nHEAD 5\r\nQUIT\r\nEXIT\r\n");
    EXPECT_EQ(HeaderRows(GroupDir()), before);
    EXPECT_EQ(Ini(), "[HEADER]\ncount=5\nMIN=5\nLASTHEADER=5\n");
}

// ---- the address book ----

std::map<int, std::string> PosterHeads() {
    const std::vector<std::string> froms = {"From: Alice Example <alice@example.org>",
                                            "From: \"Carol Jones\" <carol@example.com>",
                                            "From: bob@example.net (Bob Smith)",
                                            "From: <dave@example.org>",
                                            "From: erin@example.org",
                                            "From: Alice Again <alice@example.org>",
                                            "X-No-From: here",
                                            "From: <frank@example.org> Frank"};
    std::map<int, std::string> heads;
    for (int n = 1; n <= static_cast<int>(froms.size()); ++n)
        heads[n] =
            HeadReply(n, {froms[n - 1], "Message-ID: <" + std::to_string(n) + "@example.org>"});
    return heads;
}

std::vector<std::string> PosterRows(const std::string& server, const std::string& group) {
    const std::string tail = "," + server + "|" + server + "|" + group;
    return {"Alice Example|alice@example.org" + tail,
            "Carol Jones|carol@example.com" + tail,
            "(Bob Smith)|bob@example.net" + tail,
            "dave@example.org|dave@example.org" + tail,
            "erin@example.org|erin@example.org" + tail,
            "<null>|" + tail,
            "Frank|frank@example.org" + tail};
}

TEST_F(DownloadTest, RecordsEachPosterOncePerServer) {
    Download(ServeGroup("211 8 1 8 local.test\r\n", PosterHeads()), Params());
    EXPECT_EQ(AddressBookRows(MainDb()), PosterRows(kServer, kGroup));

    // Another group of the same server adds nothing.
    ASSERT_EQ(CreateGroupDirectory(m_dir.Path(), kServer, "local.other"), 1);
    HeaderDownloadParams other = Params();
    other.group = "local.other";
    Download(ServeGroup("211 8 1 8 local.other\r\n", PosterHeads()), other);
    EXPECT_EQ(HeaderRows(GroupDir(kServer, "local.other")).size(), 8u);
    EXPECT_EQ(AddressBookRows(MainDb()), PosterRows(kServer, kGroup));

    // Another server adds every poster again, under that server.
    ASSERT_EQ(CreateGroupDirectory(m_dir.Path(), "localhost", kGroup), 1);
    HeaderDownloadParams second = Params();
    second.server = "localhost";
    Download(ServeGroup("211 8 1 8 local.test\r\n", PosterHeads()), second);
    std::vector<std::string> rows = PosterRows(kServer, kGroup);
    for (const std::string& row : PosterRows("localhost", kGroup))
        rows.push_back(row);
    EXPECT_EQ(AddressBookRows(MainDb()), rows);
}

TEST_F(DownloadTest, PosterRecordedBeforeIsLeftAsItWas) {
    ASSERT_EQ(AddAddressBookEntry("Old Name", "carol@example.com", kServer, "old.group", MainDb()),
              1);
    Download(ServeGroup("211 8 1 8 local.test\r\n", PosterHeads()), Params());
    std::vector<std::string> rows = PosterRows(kServer, kGroup);
    rows.erase(rows.begin() + 1);
    rows.insert(rows.begin(), "Old Name|carol@example.com,127.0.0.1|127.0.0.1|old.group");
    EXPECT_EQ(AddressBookRows(MainDb()), rows);
}

TEST_F(DownloadTest, WithoutMainDatabaseHeadersAreStillStored) {
    std::filesystem::remove(MainDb());
    Download(ServeGroup("211 8 1 8 local.test\r\n", PosterHeads()), Params());
    EXPECT_EQ(HeaderRows(GroupDir()).size(), 8u);
    EXPECT_FALSE(std::filesystem::exists(MainDb()));
    EXPECT_EQ(Ini(), "[HEADER]\ncount=8\nMIN=1\nLASTHEADER=8\n");
}

// ---- batching never puts LASTHEADER ahead of the store ----

TEST_F(DownloadTest, LastHeaderNeverNamesAnUncommittedRecord) {
    HeaderDownloadParams params = Params();
    params.commitBatch = 3;
    std::vector<int> seen;
    m_recorder.onPump = [&] {
        const int lastHeader = ReadLastHeader(GroupDir());
        seen.push_back(lastHeader);
        // Another connection sees only what is committed.
        const std::vector<std::string> nums =
            Rows(HeaderDbPath(GroupDir()), "SELECT Num FROM Header ORDER BY rowid");
        std::vector<std::string> expected;
        for (int n = 1; n <= lastHeader; ++n)
            expected.push_back(std::to_string(n));
        EXPECT_EQ(std::vector<std::string>(nums.begin(),
                                           nums.begin() +
                                               std::min<std::size_t>(nums.size(), expected.size())),
                  expected)
            << "LASTHEADER " << lastHeader;
    };
    Download(ServeGroup("211 10 1 10 local.test\r\n", SimpleHeads(1, 10)), params);

    ASSERT_EQ(seen.size(), 10u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_LE(seen[i], static_cast<int>(i)) << "before article " << i + 1;
        if (i > 0)
            EXPECT_GE(seen[i], seen[i - 1]);
    }
    // The counter moves during the download, not only at its end.
    EXPECT_GE(seen[3], 3);
    EXPECT_GE(seen[9], 9);
    EXPECT_EQ(Ini(), "[HEADER]\ncount=10\nMIN=1\nLASTHEADER=10\n");
    EXPECT_EQ(HeaderRows(GroupDir()), SimpleRows(1, 10));
}

// ---- a header the store refuses ----

// Runs SQL on the file through a connection of its own; true when it succeeded.
bool ExecSql(const std::string& dbPath, const std::string& sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close_v2(db);
    return ok;
}

struct RefusalCase {
    const char* name;
    bool recordBefore; // the Message-ID of article 3 has a record already, which is edited
    int commitBatch;
};

class RefusedHeaderTest : public DownloadTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedHeaderTest, IsNotCountedAndLastHeaderStaysBeforeIt) {
    const RefusalCase& c = GetParam();
    ASSERT_EQ(CreateHeaderTable(GroupDir()), 1);
    const std::string db = HeaderDbPath(GroupDir());
    std::vector<std::string> rows;
    if (c.recordBefore) {
        ASSERT_TRUE(ExecSql(db, "INSERT INTO Header (Num, MESID) VALUES "
                                "(CAST('old' AS BLOB), CAST('<3@example.org>' AS BLOB))"));
        rows.push_back("old|<3@example.org>|<null>|<null>|<null>|<null>|<null>|<null>|<null>");
    }
    // The store refuses the record of article 3, whether it is added or edited.
    ASSERT_TRUE(ExecSql(db, std::string("CREATE TRIGGER refuse BEFORE ") +
                                (c.recordBefore ? "UPDATE" : "INSERT") +
                                " ON Header WHEN CAST(NEW.MESID AS TEXT) = '<3@example.org>' "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    HeaderDownloadParams params = Params();
    params.commitBatch = c.commitBatch;
    Download(ServeGroup("211 5 1 5 local.test\r\n", SimpleHeads(1, 5)), params);

    for (int n : {1, 2, 4, 5})
        rows.push_back(SimpleRow(n));
    EXPECT_EQ(HeaderRows(GroupDir()), rows);
    EXPECT_EQ(m_result, 4);
    // LASTHEADER stays before the header that was not stored ...
    EXPECT_EQ(Ini(), "[HEADER]\ncount=5\nMIN=1\nLASTHEADER=2\n");
    EXPECT_EQ(AddressBookRows(MainDb()).size(), 4u);

    // ... so the next latest-only download asks for it again.
    ASSERT_TRUE(ExecSql(db, "DROP TRIGGER refuse"));
    m_recorder = DownloadRecorder();
    EXPECT_EQ(Download(ServeGroup("211 5 1 5 local.test\r\n", SimpleHeads(1, 5)), Params(true)),
              "GROUP local.test\r\n" + HeadCommands(2, 5) + "QUIT\r\nEXIT\r\n");
    EXPECT_EQ(m_result, 4);
    EXPECT_EQ(Ini(), "[HEADER]\ncount=5\nMIN=2\nLASTHEADER=5\n");
    if (c.recordBefore)
        rows[0] = SimpleRow(3);
    else
        rows.push_back(SimpleRow(3));
    EXPECT_EQ(HeaderRows(GroupDir()), rows);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedHeaderTest,
    ::testing::Values(RefusalCase{"NewRecordOneBatch", false, kHeaderCommitBatch},
                      RefusalCase{"NewRecordBatchesOfOne", false, 1},
                      RefusalCase{"EditedRecordOneBatch", true, kHeaderCommitBatch},
                      RefusalCase{"EditedRecordBatchesOfTwo", true, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- no database stays locked while events are handled ----

// Whether another connection could begin writing to the file at once.
bool WritableNow(const std::string& dbPath) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    sqlite3_busy_timeout(db, 0);
    ok = ok && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
    return ok;
}

TEST_F(DownloadTest, NoDatabaseIsLockedWhileEventsAreHandled) {
    ASSERT_EQ(CreateHeaderTable(GroupDir()), 1);
    // The check sees a lock another connection holds.
    {
        sqlite3* holder = nullptr;
        ASSERT_EQ(sqlite3_open_v2(MainDb().c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_FALSE(WritableNow(MainDb()));
        sqlite3_close_v2(holder);
        EXPECT_TRUE(WritableNow(MainDb()));
    }

    // Events are handled once per article and while the socket waits for the server, which
    // pauses in the middle of the group.
    int checks = 0;
    int socketChecks = 0;
    std::vector<std::string> locked;
    auto check = [&](const std::string& where) {
        ++checks;
        for (const std::string& db : {HeaderDbPath(GroupDir()), MainDb()})
            if (!WritableNow(db))
                locked.push_back(db + " locked at " + where);
    };
    m_recorder.onPump = [&] { check("pump"); };
    SetNntpPumpHook([&] {
        ++socketChecks;
        check("socket wait");
    });
    const auto heads = std::make_shared<std::map<int, std::string>>(SimpleHeads(1, 200));
    auto script = NntpScript()
                      .Send("200 ready\r\n")
                      .OnCommand([heads](NntpServerConnection& c, const std::string& line) {
                          if (line.starts_with("GROUP "))
                              c.Send("211 200 1 200 local.test\r\n");
                          if (!line.starts_with("HEAD "))
                              return;
                          const int n = std::atoi(line.c_str() + 5);
                          if (n == 100)
                              c.Pause(200);
                          c.Send(heads->at(n));
                      });
    Download(std::move(script), Params());

    EXPECT_TRUE(locked.empty()) << locked.size() << " times, first: " << locked.front();
    EXPECT_GE(checks, 200);
    EXPECT_GT(socketChecks, 0);
    EXPECT_EQ(HeaderRows(GroupDir()), SimpleRows(1, 200));
    EXPECT_EQ(AddressBookRows(MainDb()).size(), 200u);
    EXPECT_EQ(Ini(), "[HEADER]\ncount=200\nMIN=1\nLASTHEADER=200\n");
}

// ---- many requests in flight ----

TEST_F(DownloadTest, LongPipelinedDownloadOfLargeHeaders) {
    constexpr int kArticles = 3000;
    std::map<int, std::string> heads;
    for (int n = 1; n <= kArticles; ++n) {
        std::vector<std::string> lines = SimpleLines(n, "Article " + std::to_string(n));
        // More than the socket buffers hold while hundreds of requests are outstanding.
        lines.push_back("X-Filler: " + std::string(3000, 'f'));
        lines.push_back(".starts with a dot");
        heads[n] = HeadReply(n, lines);
    }
    const std::string received =
        Download(ServeGroup("211 3000 1 3000 local.test\r\n", heads), Params());
    EXPECT_EQ(received, "GROUP local.test\r\n" + HeadCommands(1, kArticles) + "QUIT\r\nEXIT\r\n");
    EXPECT_EQ(HeaderRows(GroupDir()), SimpleRows(1, kArticles));
    EXPECT_EQ(Ini(), "[HEADER]\ncount=3000\nMIN=1\nLASTHEADER=3000\n");
    EXPECT_EQ(AddressBookRows(MainDb()).size(), static_cast<std::size_t>(kArticles));
    EXPECT_EQ(m_result, kArticles);
}

} // namespace
