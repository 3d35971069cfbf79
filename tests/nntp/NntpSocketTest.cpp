#include "nntp/NntpSocket.h"

#include "NntpTestSupport.h"
#include "support/ScriptedNntpServer.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cerrno>
#include <cstdio>

namespace {

// Failure reports name a table's case instead of dumping its bytes.
template <typename Case>
requires requires(const Case& c) {
    c.name;
}
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

const std::string kGreeting = "200 news.example.org ready\r\n";

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

// ---- error numbers and texts ----

struct ErrorTextCase {
    int error;
    std::string text;
};

class ErrorTextTest : public ::testing::TestWithParam<ErrorTextCase> {};

TEST_P(ErrorTextTest, GivesTheJapaneseMessage) {
    EXPECT_EQ(NntpErrorText(GetParam().error), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorTextTest,
    ::testing::Values(
        ErrorTextCase{10014, "引数 nSockAddrLen が不正です。"},
        ErrorTextCase{10022, "ホスト アドレスが無効です。"},
        ErrorTextCase{10024, "利用できるファイル ディスクリプタがありません。"},
        ErrorTextCase{10035, "ソケットが非ブロッキングになっていて、接続が完了できません。 "},
        ErrorTextCase{10036, "実行中の Windows ソケット操作がブロッキングされています。"},
        ErrorTextCase{10038, "ディスクリプタがソケットではありません。"},
        ErrorTextCase{10039, "宛先アドレスが必要です。"},
        ErrorTextCase{10047, "指定したアドレス ファミリは、このソケットではサポートしていません。"},
        ErrorTextCase{10048, "指定したアドレスは使用中です。"},
        ErrorTextCase{10049, "指定したアドレスは、ローカル マシンからは利用できません。"},
        ErrorTextCase{10050, "Windows ソケットのインプリメントが、ネットワーク "
                             "サブシステムの異常を検出しました。"},
        ErrorTextCase{10051, "現時点で、ホストからネットワークに到達できません。"},
        ErrorTextCase{10055, "利用できるバッファ領域がありません。ソケットは接続できません。"},
        ErrorTextCase{10056, "ソケットは既に接続されています。"},
        ErrorTextCase{10060, "接続を試みましたが、タイムアウトで接続を確立できませんでした。"},
        ErrorTextCase{10061, "接続を試みましたが、リジェクトされました。"},
        ErrorTextCase{
            10093,
            "この API を使う前に AfxSocketInit の呼び出しが正常終了していることが必要です。"},
        // Outside the table: nothing to show between the apostrophes.
        ErrorTextCase{0, ""}, ErrorTextCase{10054, ""}, ErrorTextCase{10065, ""},
        ErrorTextCase{20110, ""}));

struct ErrnoCase {
    int error;
    int wsa;
};

class ErrnoTest : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoTest, MapsToTheWindowsSocketsNumber) {
    EXPECT_EQ(WsaErrorFromErrno(GetParam().error), GetParam().wsa);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrnoTest,
    ::testing::Values(ErrnoCase{ECONNREFUSED, 10061}, ErrnoCase{ETIMEDOUT, 10060},
                      ErrnoCase{ENETUNREACH, 10051}, ErrnoCase{EADDRINUSE, 10048},
                      ErrnoCase{EISCONN, 10056}, ErrnoCase{EAFNOSUPPORT, 10047},
                      ErrnoCase{EADDRNOTAVAIL, 10049}, ErrnoCase{ENOBUFS, 10055},
                      ErrnoCase{EMFILE, 10024}, ErrnoCase{EINVAL, 10022}, ErrnoCase{EFAULT, 10014},
                      ErrnoCase{EWOULDBLOCK, 10035}, ErrnoCase{EINPROGRESS, 10036},
                      ErrnoCase{ENOTSOCK, 10038}, ErrnoCase{EDESTADDRREQ, 10039},
                      ErrnoCase{ENETDOWN, 10050}, ErrnoCase{ECONNRESET, 10054},
                      ErrnoCase{EHOSTUNREACH, 10065}, ErrnoCase{EPIPE, 10058}));

// ---- SplitStatus ----

struct SplitCase {
    const char* name;
    std::string text;
    bool result;
    std::string code;
    std::string rest;
};

class SplitStatusTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitStatusTest, SplitsAtTheFirstBlank) {
    const SplitCase& c = GetParam();
    std::string code = "old code";
    std::string rest = "old rest";
    EXPECT_EQ(CNntpSocket::SplitStatus(c.text, code, rest), c.result);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(rest, c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitStatusTest,
    ::testing::Values(
        // RFC 3977 lets the text after a code out.
        SplitCase{"BareCode", "200", true, "200", ""},
        SplitCase{"CodeAndLineEnd", "200\r\n", true, "200", "\r\n"},
        SplitCase{"CodeAndLineFeed", "215\n", true, "215", "\n"},
        SplitCase{"LineEndAlone", "\r\n", false, "", ""}, SplitCase{"Empty", "", false, "", ""},
        SplitCase{"Greeting", "200 ready\r\n", true, "200", "ready\r\n"},
        SplitCase{"GroupReply", "211 8 1 8 local.test\r\n", true, "211", "8 1 8 local.test\r\n"},
        SplitCase{"BlankAtEnd", "340 ", true, "340", ""},
        SplitCase{"LeadingBlank", " 200 ready", true, "", "200 ready"},
        SplitCase{"TwoBlanks", "200  ready", true, "200", " ready"},
        SplitCase{"Tab", "200\tready", true, "200\tready", ""},
        SplitCase{"BareCodeEndingWhereLookingEnds", std::string(1023, 'a'), true,
                  std::string(1023, 'a'), ""},
        SplitCase{"LineEndBeyondWhatIsLookedAt", std::string(1023, 'a') + "\r\n", false, "", ""},
        SplitCase{"BlankIsLastLookedAt", std::string(1022, 'a') + " " + std::string(50, 'b'), true,
                  std::string(1022, 'a'), ""},
        SplitCase{"BlankBeyondWhatIsLookedAt", std::string(1023, 'a') + " rest", false, "", ""},
        SplitCase{"RestIsCut", "200 " + std::string(2000, 'r'), true, "200",
                  std::string(1019, 'r')}),
    CaseName);

// ---- replies whatever their segmentation ----

enum class Reader { Response, Lines };

struct PieceCase {
    const char* name;
    std::string command;
    std::string reply;
    std::size_t pieceSize;
    Reader reader;
    std::vector<std::string> expected;
};

class PiecesTest : public ::testing::TestWithParam<PieceCase> {};

TEST_P(PiecesTest, ReadsWholeRepliesAndNothingOfTheNext) {
    const PieceCase& c = GetParam();
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting, c.pieceSize, 1)
                                  .Reply(c.reply, c.pieceSize, 1)
                                  .Reply("111 20240101123456\r\n", c.pieceSize, 1));
    {
        CNntpSocket socket;
        ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
        std::string text;
        EXPECT_EQ(socket.ReadResponse(text), static_cast<int>(kGreeting.size()));
        EXPECT_EQ(text, kGreeting);
        EXPECT_EQ(socket.SendCommand(c.command), static_cast<int>(c.command.size()));
        if (c.reader == Reader::Response) {
            ASSERT_EQ(c.expected.size(), 1u);
            EXPECT_EQ(socket.ReadResponse(text), static_cast<int>(c.expected[0].size()));
            EXPECT_EQ(text, c.expected[0]);
        } else {
            EXPECT_EQ(ReadReply(socket), c.expected);
        }
        socket.SendCommand("DATE\r\n");
        EXPECT_EQ(socket.ReadResponse(text), 20);
        EXPECT_EQ(text, "111 20240101123456\r\n");
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), c.command + "DATE\r\n");
}

const std::string kHeadReply = "221 3 <abc@example.org> head\r\n"
                               "Subject: =?ISO-2022-JP?B?GyRCJEgkRiRiGyhC?=\r\n"
                               "\tcontinued\r\n"
                               "Message-ID: <abc@example.org>\r\n"
                               ".\r\n";
const std::vector<std::string> kHeadLines = {
    "221 3 <abc@example.org> head", "Subject: =?ISO-2022-JP?B?GyRCJEgkRiRiGyhC?=", "\tcontinued",
    "Message-ID: <abc@example.org>"};
const std::string kListReply = "215 list follows\r\nlocal.a 0000000008 0000000001 y\r\n"
                               "local.b 0000000002 0000000001 m\r\n.\r\n";
const std::vector<std::string> kListLines = {"215 list follows", "local.a 0000000008 0000000001 y",
                                             "local.b 0000000002 0000000001 m"};

INSTANTIATE_TEST_SUITE_P(
    Segments, PiecesTest,
    ::testing::Values(
        PieceCase{"GroupByteByByte",
                  "GROUP local.test\r\n",
                  "211 8 1 8 local.test\r\n",
                  1,
                  Reader::Response,
                  {"211 8 1 8 local.test\r\n"}},
        PieceCase{"HeadByteByByte", "HEAD 3\r\n", kHeadReply, 1, Reader::Lines, kHeadLines},
        PieceCase{"HeadMissingByteByByte",
                  "HEAD 9999\r\n",
                  "423 No such article number 9999\r\n",
                  1,
                  Reader::Lines,
                  {"423 No such article number 9999"}},
        PieceCase{"ListByteByByte", "LIST\r\n", kListReply, 1, Reader::Lines, kListLines},
        PieceCase{"ListInPiecesOfSeven", "LIST\r\n", kListReply, 7, Reader::Lines, kListLines},
        PieceCase{"ListInOneWrite", "LIST\r\n", kListReply, 0, Reader::Lines, kListLines},
        PieceCase{"PostByteByByte",
                  "POST\r\n",
                  "340 send article\r\n",
                  1,
                  Reader::Response,
                  {"340 send article\r\n"}}),
    CaseName);

// ---- a reply of many megabytes ----

class LargeListTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LargeListTest, ReadsEveryLine) {
    std::string reply = "215 Newsgroups in form \"group high low status\"\r\n";
    std::vector<std::string> expected = {"215 Newsgroups in form \"group high low status\""};
    for (int i = 0; reply.size() < 5 * 1024 * 1024; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "local.group%06d %010d %010d %c", i, i * 7 + 3, i,
                      "ymn"[i % 3]);
        reply += line;
        reply += "\r\n";
        expected.push_back(line);
    }
    reply += ".\r\n";

    NntpSettingsGuard guard(3000, 5000);
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Reply(reply, GetParam())
                                  .Reply("211 2 1 2 local.group000001\r\n"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("LIST\r\n");
    const std::vector<std::string> lines = ReadReply(socket);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], expected[i]) << "line " << i;
    socket.SendCommand("GROUP local.group000001\r\n");
    socket.ReadResponse(text);
    EXPECT_EQ(text, "211 2 1 2 local.group000001\r\n");
}

// One write; pieces of exactly 1,024 bytes; pieces that never line up with a line.
INSTANTIATE_TEST_SUITE_P(Pieces, LargeListTest, ::testing::Values(0, 1024, 1021));

// ---- dot-stuffing and line ends ----

struct BodyLineCase {
    const char* name;
    std::string wire; // one line as sent, without its CR LF
    std::string line; // as handed out
};

class BodyLineTest : public ::testing::TestWithParam<BodyLineCase> {};

TEST_P(BodyLineTest, HandsOutTheUnstuffedLine) {
    const BodyLineCase& c = GetParam();
    NntpSettingsGuard guard;
    ScriptedNntpServer server(
        NntpScript()
            .Send(kGreeting)
            .Reply("222 5 <b@x> body\r\nbefore\r\n" + c.wire + "\r\nafter\r\n.\r\n")
            .Reply("423 No such article number 6\r\n"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("BODY 5\r\n");
    EXPECT_EQ(ReadReply(socket),
              (std::vector<std::string>{"222 5 <b@x> body", "before", c.line, "after"}));
    socket.SendCommand("BODY 6\r\n");
    EXPECT_EQ(ReadReply(socket), std::vector<std::string>{"423 No such article number 6"});
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BodyLineTest,
    ::testing::Values(
        BodyLineCase{"StuffedDot", "..", "."}, BodyLineCase{"StuffedDotText", "..x", ".x"},
        BodyLineCase{"ThreeDots", "...", ".."}, BodyLineCase{"UnstuffedDotText", ".x", ".x"},
        BodyLineCase{"DotThenBlank", ". ", ". "}, BodyLineCase{"DotsInside", "a..b", "a..b"},
        BodyLineCase{"BlankThenDot", " .", " ."}, BodyLineCase{"Empty", "", ""},
        BodyLineCase{"TwoCarriageReturns", "abc\r", "abc"},
        BodyLineCase{"BareCarriageReturn", "a\rb", "a\rb"},
        BodyLineCase{"ShiftJis", "\x93\xfa\x96\x7b\x8c\xea", "\x93\xfa\x96\x7b\x8c\xea"}),
    CaseName);

TEST(NntpSocketTest, LinesEndingInBareLineFeedsAndATerminatorArrivingLate) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Reply("220 1 <a@x> article\nSubject: s\n\nbody\n")
                                  .Pause(200)
                                  .Send(".\n")
                                  .Reply("211 1 1 1 g\r\n"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("ARTICLE 1\r\n");
    EXPECT_EQ(ReadReply(socket),
              (std::vector<std::string>{"220 1 <a@x> article", "Subject: s", "", "body"}));
    socket.SendCommand("GROUP g\r\n");
    EXPECT_EQ(socket.ReadResponse(text), 13);
    EXPECT_EQ(text, "211 1 1 1 g\r\n");
}

// ---- a status line longer than its buffer ----

struct LongStatusCase {
    const char* name;
    std::size_t length; // with CR LF
    Reader reader;
};

class LongStatusTest : public ::testing::TestWithParam<LongStatusCase> {};

TEST_P(LongStatusTest, IsCutAndTheRestOfTheLineDropped) {
    const LongStatusCase& c = GetParam();
    const std::string code = c.reader == Reader::Lines ? "221" : "211";
    const std::string status = code + " " + std::string(c.length - 6, 'x') + "\r\n";
    std::string reply = status;
    if (c.reader == Reader::Lines)
        reply += "Subject: s\r\n.\r\n";
    NntpSettingsGuard guard;
    ScriptedNntpServer server(
        NntpScript().Send(kGreeting).Reply(reply, 4000, 1).Reply("111 20240101123456\r\n"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("COMMAND\r\n");
    std::string kept = status.substr(0, CNntpSocket::kMaxStatusLine);
    ASSERT_EQ(kept.size(), std::min<std::size_t>(c.length, 10239));
    if (c.reader == Reader::Response) {
        EXPECT_EQ(socket.ReadResponse(text), static_cast<int>(kept.size()));
        EXPECT_EQ(text, kept);
    } else {
        while (!kept.empty() && (kept.back() == '\r' || kept.back() == '\n'))
            kept.pop_back();
        EXPECT_EQ(ReadReply(socket), (std::vector<std::string>{kept, "Subject: s"}));
    }
    socket.SendCommand("DATE\r\n");
    socket.ReadResponse(text);
    EXPECT_EQ(text, "111 20240101123456\r\n");
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongStatusTest,
                         ::testing::Values(LongStatusCase{"Fits", 10239, Reader::Response},
                                           LongStatusCase{"OneOver", 10240, Reader::Response},
                                           LongStatusCase{"FarOver", 30000, Reader::Response},
                                           LongStatusCase{"FitsInLines", 10239, Reader::Lines},
                                           LongStatusCase{"FarOverInLines", 30000, Reader::Lines}),
                         CaseName);

// ---- pipelined replies ----

TEST(NntpSocketTest, RepliesArrivingInOneSegmentAreHandedOutOneByOne) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Await().Await().Await().Await().Send(
        "211 3 1 3 local.test\r\n"
        "221 1 <1@x> head\r\nSubject: one\r\n.\r\n"
        "423 No such article number 2\r\n"
        "221 3 <3@x> head\r\n..dot\r\n.\r\n"));
    {
        CNntpSocket socket;
        ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
        std::string text;
        socket.ReadResponse(text);
        socket.SendCommand("GROUP local.test\r\nHEAD 1\r\nHEAD 2\r\nHEAD 3\r\n");
        EXPECT_EQ(socket.ReadResponse(text), 22);
        EXPECT_EQ(text, "211 3 1 3 local.test\r\n");
        EXPECT_EQ(ReadReply(socket),
                  (std::vector<std::string>{"221 1 <1@x> head", "Subject: one"}));
        EXPECT_EQ(ReadReply(socket), std::vector<std::string>{"423 No such article number 2"});
        EXPECT_EQ(ReadReply(socket), (std::vector<std::string>{"221 3 <3@x> head", ".dot"}));
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), "GROUP local.test\r\nHEAD 1\r\nHEAD 2\r\nHEAD 3\r\n");
}

TEST(NntpSocketTest, SendingManyCommandsKeepsTakingTheRepliesMeanwhile) {
    // The server answers each command before it reads the next, and neither side's buffers can
    // hold all of the commands or all of the replies: a sender that only sent would wait for a
    // server that waits for it.
    constexpr int kCommands = 30000;
    const std::string padding(300, 'p');
    NntpSettingsGuard guard(3000, 10000);
    ScriptedNntpServer server(NntpScript().Send(kGreeting).OnCommand(
        [&](NntpServerConnection& connection, const std::string& line) {
            const std::string number = line.substr(5, line.find(' ', 5) - 5);
            connection.Send("423 " + number + " " + padding + "\r\n");
        }));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    std::string commands;
    for (int n = 1; n <= kCommands; ++n)
        commands += "XPAD " + std::to_string(n) + " " + padding + "\r\n";
    ASSERT_EQ(socket.SendCommand(commands), static_cast<int>(commands.size()));
    for (int n = 1; n <= kCommands; ++n) {
        ASSERT_EQ(ReadReply(socket),
                  std::vector<std::string>{"423 " + std::to_string(n) + " " + padding})
            << "reply " << n;
    }
}

// ---- the two readers together ----

TEST(NntpSocketTest, ReadLineGoesOnWithTheLinesOfAMultiLineReplyReadByReadResponse) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Reply("220 1 <a@x> article\r\nSubject: s\r\n\r\nbody\r\n.\r\n")
                                  .Reply("205 bye\r\n"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("ARTICLE 1\r\n");
    socket.ReadResponse(text);
    EXPECT_EQ(text, "220 1 <a@x> article\r\n");
    EXPECT_EQ(ReadReply(socket), (std::vector<std::string>{"Subject: s", "", "body"}));
    socket.SendCommand("QUIT\r\n");
    EXPECT_EQ(ReadReply(socket), std::vector<std::string>{"205 bye"});
}

TEST(NntpSocketTest, ReadResponseSkipsWhatIsLeftOfAReplyBeingReadByLines) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Reply(kListReply)
                                  .Reply("211 8 1 8 local.a\r\n")
                                  .Reply("423 No such article number 9\r\n")
                                  .Reply("340 send article\r\n"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("LIST\r\n");
    ASSERT_TRUE(socket.ReadLine(text));
    EXPECT_EQ(text, "215 list follows");
    socket.SendCommand("GROUP local.a\r\n");
    socket.ReadResponse(text);
    EXPECT_EQ(text, "211 8 1 8 local.a\r\n");
    // A one-line reply's end report still pending is dropped the same way.
    socket.SendCommand("HEAD 9\r\n");
    ASSERT_TRUE(socket.ReadLine(text));
    EXPECT_EQ(text, "423 No such article number 9");
    socket.SendCommand("POST\r\n");
    socket.ReadResponse(text);
    EXPECT_EQ(text, "340 send article\r\n");
}

// ---- servers that stop talking ----

TEST(NntpSocketTest, SilentServerMakesTheReceiveFailWithinTheTimeout) {
    NntpSettingsGuard guard(1000, 300);
    ScriptedNntpServer server(NntpScript().Send(kGreeting));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("GROUP local.test\r\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(socket.ReadResponse(text), -1);
    EXPECT_GE(ElapsedMs(start), 280);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(text, kGreeting);
    EXPECT_EQ(socket.GetLastError(), 10060);
    // The conversation cannot be trusted any more: later reads fail at once.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket.ReadLine(text));
    EXPECT_EQ(socket.ReadResponse(text), -1);
    EXPECT_LT(ElapsedMs(again), 100);
}

// The lines that came whole are handed out; the part of a line is not, and the reply is cut.
TEST(NntpSocketTest, ServerFallingSilentInsideAReplyGivesTheLinesSoFarThenTheEnd) {
    NntpSettingsGuard guard(1000, 300);
    ScriptedNntpServer server(
        NntpScript().Send(kGreeting).Reply("221 1 <a@x> head\r\nSubject: a\r\nFrom: b"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("HEAD 1\r\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadReply(socket), (std::vector<std::string>{"221 1 <a@x> head", "Subject: a"}));
    EXPECT_FALSE(socket.LastReplyWhole());
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(socket.GetLastError(), 10060);
    EXPECT_EQ(socket.GetFailure(), NntpFailure::TimedOut);
    EXPECT_FALSE(socket.ReadLine(text));
}

TEST(NntpSocketTest, ServerClosingInsideAReplyGivesTheLinesSoFarThenTheEnd) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(
        NntpScript().Send(kGreeting).Reply("221 1 <a@x> head\r\nSubject: a\r\n").Close());
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    socket.SendCommand("HEAD 1\r\n");
    EXPECT_EQ(ReadReply(socket), (std::vector<std::string>{"221 1 <a@x> head", "Subject: a"}));
    EXPECT_FALSE(socket.LastReplyWhole());
    EXPECT_EQ(socket.GetFailure(), NntpFailure::Closed);
    EXPECT_FALSE(socket.ReadLine(text));
    EXPECT_EQ(text, "");
    text = "previous";
    EXPECT_EQ(socket.ReadResponse(text), 0);
    EXPECT_EQ(text, "");
}

// ---- the window stays alive ----

TEST(NntpSocketTest, PumpHookRunsWhileAReplyIsAwaited) {
    NntpSettingsGuard guard;
    int pumps = 0;
    SetNntpPumpHook([&] { ++pumps; });
    ScriptedNntpServer server(NntpScript().Pause(400).Send(kGreeting));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    const int beforeReading = pumps;
    std::string text;
    EXPECT_EQ(socket.ReadResponse(text), static_cast<int>(kGreeting.size()));
    // 400 ms of waiting in slices of tens of milliseconds.
    EXPECT_GE(pumps - beforeReading, 5);
    EXPECT_LE(pumps - beforeReading, 40);
}

TEST(NntpSocketTest, PumpHookRunsWhileAConnectIsAwaited) {
    NntpSettingsGuard guard(300, 300);
    int pumps = 0;
    SetNntpPumpHook([&] { ++pumps; });
    FullListener listener;
    CNntpSocket socket;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ConnectTo(socket, "127.0.0.1", listener.Port()));
    EXPECT_GE(ElapsedMs(start), 280);
    EXPECT_EQ(socket.GetLastError(), 10060);
    EXPECT_GE(pumps, 5);
}

// ---- calls out of order ----

TEST(NntpSocketTest, NothingWorksWithoutAConnection) {
    CNntpSocket socket;
    std::string text = "previous";
    EXPECT_FALSE(socket.Open());
    EXPECT_EQ(socket.SendCommand("QUIT\r\n"), -1);
    EXPECT_EQ(socket.ReadResponse(text), -1);
    EXPECT_EQ(text, "previous");
    EXPECT_FALSE(socket.ReadLine(text));
    EXPECT_EQ(text, "");
}

TEST(NntpSocketTest, DefaultPortIs119UntilSet) {
    EXPECT_EQ(DefaultNntpPort(), 119);
    SetDefaultNntpPort(1119);
    EXPECT_EQ(DefaultNntpPort(), 1119);
    SetDefaultNntpPort(119);
}

} // namespace
