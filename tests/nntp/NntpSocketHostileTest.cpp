// Servers that cut replies short, fall silent, trickle, or send lines without end.

#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"

#include "NntpTestSupport.h"
#include "support/ScriptedNntpServer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

const std::string kGreeting = "200 news.example.org ready\r\n";

// ---- a reply cut at every stage ----

struct CutCase {
    const char* name;
    std::string after;                 // what the server sends after the status text, then closes
    std::vector<std::string> expected; // lines handed out after the status line ("" = none)
    bool statusHandedOut;
    bool whole;
};

class CutStageTest : public ::testing::TestWithParam<std::tuple<CutCase, std::string>> {};

TEST_P(CutStageTest, LinesThatCameWholeThenTheEndSayingWhetherTheReplyWas) {
    const auto& [c, code] = GetParam();
    NntpSettingsGuard guard;
    const std::string status = code + " 1 <a@example.org> reply";
    ScriptedNntpServer server(
        NntpScript()
            .Send(kGreeting)
            .Reply(c.statusHandedOut || !c.after.empty() ? status + c.after : c.after)
            .Close());
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    ASSERT_EQ(socket.SendCommand("COMMAND 1\r\n"), 11);
    std::vector<std::string> expected;
    if (c.statusHandedOut)
        expected.push_back(status);
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(ReadReply(socket), expected);
    EXPECT_EQ(socket.LastReplyWhole(), c.whole);
    if (!c.whole) {
        EXPECT_EQ(socket.GetFailure(), NntpFailure::Closed);
        EXPECT_EQ(ReplyFailureText(socket), "サーバーが接続を切りました。");
        // The connection is dead: nothing more is sent, and every later reply is cut at once.
        EXPECT_EQ(socket.SendCommand("QUIT\r\n"), -1);
        EXPECT_FALSE(socket.ReadLine(text));
        EXPECT_FALSE(socket.LastReplyWhole());
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), "COMMAND 1\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Stages, CutStageTest,
    ::testing::Combine(
        ::testing::Values(
            CutCase{"ClosedBeforeTheStatusLine", "", {}, false, false},
            CutCase{"StatusLineWithoutItsEnd", "x", {}, false, false},
            CutCase{"AfterTheStatusLine", "\r\n", {}, true, false},
            CutCase{"InsideAHeaderLine", "\r\nSubject: a\r\nFro", {"Subject: a"}, true, false},
            CutCase{
                "InsideABodyLine", "\r\nSubject: a\r\n\r\nbod", {"Subject: a", ""}, true, false},
            CutCase{"BeforeTheTerminator",
                    "\r\nSubject: a\r\n\r\nbody\r\n",
                    {"Subject: a", "", "body"},
                    true,
                    false},
            CutCase{"TerminatorWithoutItsEnd", "\r\nSubject: a\r\n.", {"Subject: a"}, true, false},
            CutCase{"StuffedDotIsNoTerminator", "\r\n..\r\n", {"."}, true, false},
            CutCase{"Whole",
                    "\r\nSubject: a\r\n\r\nbody\r\n.\r\n",
                    {"Subject: a", "", "body"},
                    true,
                    true}),
        // HEAD, ARTICLE and LIST replies alike.
        ::testing::Values("221", "220", "215")),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param);
    });

struct OneLineCutCase {
    const char* name;
    std::string wire;
    int responseResult; // of ReadResponse
    bool lineWhole;     // of the same reply read by ReadLine
};

class OneLineCutTest : public ::testing::TestWithParam<OneLineCutCase> {};

TEST_P(OneLineCutTest, StatusLineWithoutItsEndIsNoReply) {
    const OneLineCutCase& c = GetParam();
    NntpSettingsGuard guard;
    for (bool byLines : {false, true}) {
        SCOPED_TRACE(byLines ? "ReadLine" : "ReadResponse");
        ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(c.wire).Close());
        CNntpSocket socket;
        ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
        std::string text;
        socket.ReadResponse(text);
        socket.SendCommand("GROUP g\r\n");
        text = "previous";
        if (byLines) {
            ReadReply(socket);
            EXPECT_EQ(socket.LastReplyWhole(), c.lineWhole);
        } else {
            EXPECT_EQ(socket.ReadResponse(text), c.responseResult);
            EXPECT_EQ(text, c.responseResult > 0 ? c.wire : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, OneLineCutTest,
    ::testing::Values(OneLineCutCase{"Whole", "211 3 1 3 g\r\n", 13, true},
                      OneLineCutCase{"WithoutLineEnd", "211 3 1 3 g", 0, false},
                      OneLineCutCase{"WithoutLineFeed", "211 3 1 3 g\r", 0, false},
                      OneLineCutCase{"Nothing", "", 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- deadlines ----

struct DeadlineCase {
    const char* name;
    int timeoutMs;
    NntpScript script; // after the greeting and the command
    long long atLeastMs;
    long long atMostMs;
    std::size_t linesAtLeast; // handed out before the end
};

class DeadlineTest : public ::testing::TestWithParam<DeadlineCase> {};

TEST_P(DeadlineTest, EndsTheReplyWhateverTricklesIn) {
    const DeadlineCase& c = GetParam();
    NntpSettingsGuard guard(1000, c.timeoutMs);
    ScriptedNntpServer server(c.script);
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    ASSERT_GT(socket.ReadResponse(text), 0);
    socket.SendCommand("HEAD 1\r\n");
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> lines = ReadReply(socket);
    const long long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, c.atLeastMs);
    EXPECT_LE(elapsed, c.atMostMs);
    EXPECT_GE(lines.size(), c.linesAtLeast);
    EXPECT_FALSE(socket.LastReplyWhole());
    EXPECT_EQ(socket.GetFailure(), NntpFailure::TimedOut);
    EXPECT_EQ(socket.GetLastError(), 10060);
    EXPECT_EQ(ReplyFailureText(socket), "サーバーの応答が時間内に届きませんでした。");
    // Later calls return at once.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_EQ(socket.SendCommand("HEAD 2\r\n"), -1);
    EXPECT_EQ(socket.ReadResponse(text), -1);
    EXPECT_LT(ElapsedMs(again), 100);
}

std::string Trickle(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "x\r\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Servers, DeadlineTest,
    ::testing::Values(
        DeadlineCase{"SilentServer", 1000, NntpScript().Send(kGreeting).Await().Pause(20000), 950,
                     3000, 0},
        // A status line of 20 bytes, one byte every 300 ms: it cannot arrive within 1 s.
        DeadlineCase{"TricklingStatusLine", 1000,
                     NntpScript().Send(kGreeting).Await().Send("221 1 <a@x> head\r\n", 1, 300), 950,
                     3000, 0},
        DeadlineCase{"TricklingDataLine", 1000,
                     NntpScript()
                         .Send(kGreeting)
                         .Await()
                         .Send("221 1 <a@x> head\r\n")
                         .Send("Subject: a subject that takes long\r\n", 1, 300),
                     950, 3000, 1},
        // Each short line arrives within the time-out, but the reply as a whole is too slow.
        DeadlineCase{"TricklingShortLines", 2000,
                     NntpScript()
                         .Send(kGreeting)
                         .Await()
                         .Send("221 1 <a@x> head\r\n")
                         .Send(Trickle(100), 1, 300),
                     1900, 4500, 2},
        DeadlineCase{
            "SilentInsideALine", 1000,
            NntpScript().Send(kGreeting).Await().Send("221 1 <a@x> head\r\nSubj").Pause(20000), 950,
            3000, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A reply that keeps moving fast enough may take far longer than the time-out.
TEST(DeadlineTest, SlowButSteadyReplyIsReadWhole) {
    NntpSettingsGuard guard(1000, 1000);
    std::string reply = "221 1 <a@x> head\r\n";
    for (int i = 0; i < 25; ++i)
        reply += "X-Line: " + std::string(500, 'a' + i % 26) + "\r\n";
    reply += ".\r\n";
    // About 12 KiB in pieces of 1,300 bytes, 150 ms apart: 1.5 s in all.
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(reply, 1300, 150));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("HEAD 1\r\n");
    EXPECT_EQ(ReadReply(socket).size(), 26u);
    EXPECT_TRUE(socket.LastReplyWhole());
    EXPECT_EQ(socket.GetFailure(), NntpFailure::None);
}

// ---- a line without end ----

struct LongLineCase {
    const char* name;
    std::size_t length; // of the data line, line end included
    bool withLineEnd;
    bool whole;
};

class LongLineTest : public ::testing::TestWithParam<LongLineCase> {};

TEST_P(LongLineTest, LineOverTheBoundEndsTheConversation) {
    const LongLineCase& c = GetParam();
    NntpSettingsGuard guard(1000, 5000);
    const std::string line =
        std::string(c.length - (c.withLineEnd ? 2 : 0), 'l') + (c.withLineEnd ? "\r\n" : "");
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Reply("221 1 <a@x> head\r\n" + line + (c.whole ? ".\r\n" : ""))
                                  .Pause(20000));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("HEAD 1\r\n");
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> lines = ReadReply(socket);
    EXPECT_LT(ElapsedMs(start), 3000);
    EXPECT_EQ(socket.LastReplyWhole(), c.whole);
    if (c.whole) {
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1].size(), c.length - 2);
    } else {
        EXPECT_EQ(lines.size(), 1u);
        EXPECT_EQ(socket.GetFailure(), NntpFailure::LineTooLong);
        EXPECT_EQ(ReplyFailureMessage(socket),
                  " 接続エラーが発生しました 'サーバーから長すぎる行が届きました。' ");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, LongLineTest,
    ::testing::Values(LongLineCase{"AtTheBound", CNntpSocket::kMaxLineBytes, true, true},
                      LongLineCase{"OneOver", CNntpSocket::kMaxLineBytes + 1, true, false},
                      LongLineCase{"WithoutEnd", CNntpSocket::kMaxLineBytes + 1000, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LongLineTest, StatusLineOverTheBoundIsNoReply) {
    NntpSettingsGuard guard(1000, 5000);
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(
        "211 " + std::string(CNntpSocket::kMaxLineBytes, 's') + "\r\n"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("GROUP g\r\n");
    text = "previous";
    EXPECT_EQ(socket.ReadResponse(text), -1);
    EXPECT_EQ(text, "previous");
    EXPECT_EQ(socket.GetFailure(), NntpFailure::LineTooLong);
}

} // namespace
