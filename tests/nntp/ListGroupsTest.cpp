#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"

#include "NntpTestSupport.h"
#include "support/ScriptedNntpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace {

template <typename Case>
requires requires(const Case& c) {
    c.name;
}
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

const std::string kGreeting = "200 news.example.org ready\r\n";

std::vector<std::string> GroupNames(const CNntpSocket& socket) {
    std::vector<std::string> names;
    for (int i = 0; i < socket.GetGroupCount(); ++i)
        names.push_back(socket.GetGroupName(i));
    return names;
}

// ---- ParseListLine ----

struct ParseCase {
    const char* name;
    std::string line;
    bool ok;
    std::string group, last, first, flag;
};

class ParseListLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseListLineTest, SplitsAtTheFirstThreeBlanks) {
    const ParseCase& c = GetParam();
    std::string name = "stale", last = "stale", first = "stale", flag = "stale";
    EXPECT_EQ(CNntpSocket::ParseListLine(c.line, name, last, first, flag), c.ok);
    EXPECT_EQ(name, c.group);
    EXPECT_EQ(last, c.last);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(flag, c.flag);
}

const std::string kLongName(1020, 'n');

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseListLineTest,
    ::testing::Values(
        ParseCase{"Usual", "fj.comp.lang.c 0000012345 0000000001 y", true, "fj.comp.lang.c",
                  "0000012345", "0000000001", "y"},
        ParseCase{"FlagKeepsLaterBlanks", "alt.test 9 1 =alt test", true, "alt.test", "9", "1",
                  "=alt test"},
        ParseCase{"EmptyFlag", "alt.test 9 1 ", true, "alt.test", "9", "1", ""},
        ParseCase{"EmptyFields", "alt.test   ", true, "alt.test", "", "", ""},
        ParseCase{"DoubleBlank", "a  b c", true, "a", "", "b", "c"},
        ParseCase{"ShiftJisName", "fj.\x93\xfa\x96\x7b 2 1 m", true, "fj.\x93\xfa\x96\x7b", "2",
                  "1", "m"},
        ParseCase{"TabIsNoBlank", "a\tb c d e", true, "a\tb", "c", "d", "e"},
        ParseCase{"TwoBlanks", "alt.test 9 1", false, "", "", "", ""},
        ParseCase{"OneBlank", "alt.test 9", false, "", "", "", ""},
        ParseCase{"NoBlank", "alt.test", false, "", "", "", ""},
        ParseCase{"DotLine", ".", false, "", "", "", ""},
        ParseCase{"Empty", "", false, "", "", "", ""},
        ParseCase{"FlagCutAt1023", "g 1 1 " + std::string(2000, 'y'), true, "g", "1", "1",
                  std::string(1017, 'y')},
        ParseCase{"ThirdBlankBeyond1023", kLongName + " 1 1 y", false, "", "", "", ""},
        ParseCase{"ThirdBlankIsTheLastByteKept", kLongName + "   y", true, kLongName, "", "", ""}),
    CaseName);

// ---- ListGroups against a server ----

struct ListCase {
    const char* name;
    std::string reply;     // the server's answer to LIST
    std::size_t pieceSize; // 0: one write
    bool ok;
    std::vector<std::string> groups;
};

class ListGroupsTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListGroupsTest, FillsTheTableFromTheReply) {
    const ListCase& c = GetParam();
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Reply(c.reply, c.pieceSize, c.pieceSize ? 1 : 0)
                                  .Reply("111 20240102030405\r\n"));
    SetDefaultNntpPort(server.Port());
    {
        CNntpSocket socket;
        std::string code;
        std::string message;
        ASSERT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Ready);
        EXPECT_EQ(socket.ListGroups(), c.ok);
        EXPECT_EQ(socket.GetGroupCount(), static_cast<int>(c.groups.size()));
        EXPECT_EQ(GroupNames(socket), c.groups);
        // The whole reply was taken: the next command reads its own answer.
        socket.SendCommand("DATE\r\n");
        EXPECT_EQ(ReadReply(socket), std::vector<std::string>{"111 20240102030405"});
        EndConversation(socket);
        socket.Cleanup();
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), "LIST\r\nDATE\r\nQUIT\r\nEXIT\r\n");
}

const std::string kThreeGroups = "215 list of newsgroups follows\r\n"
                                 "fj.news.misc 0000000120 0000000001 y\r\n"
                                 "alt.Test 0000000003 0000000002 n\r\n"
                                 "alt.test 0000000000 0000000001 m\r\n"
                                 ".\r\n";

INSTANTIATE_TEST_SUITE_P(
    Replies, ListGroupsTest,
    ::testing::Values(
        ListCase{
            "ThreeGroupsInOrder", kThreeGroups, 0, true, {"fj.news.misc", "alt.Test", "alt.test"}},
        ListCase{"InSmallPieces", kThreeGroups, 7, true, {"fj.news.misc", "alt.Test", "alt.test"}},
        ListCase{"ShortLinesAddNothing",
                 "215 list follows\r\n"
                 "a.one 1 1 y\r\n"
                 "a.two 2 1\r\n"
                 "junk\r\n"
                 "\r\n"
                 "a.three 3 1 \r\n"
                 ".\r\n",
                 0,
                 true,
                 {"a.one", "a.three"}},
        ListCase{"DotStuffedName", "215 list follows\r\n..dots 1 1 y\r\n.\r\n", 0, true, {".dots"}},
        ListCase{"RepeatedNameListedTwice",
                 "215 list follows\r\na.b 1 1 y\r\na.b 1 1 y\r\n.\r\n",
                 0,
                 true,
                 {"a.b", "a.b"}},
        ListCase{"EmptyList", "215 list follows\r\n.\r\n", 0, true, {}},
        ListCase{"Refused", "480 authentication required\r\n", 0, false, {}},
        // A multi-line reply under another code is read to its end all the same.
        ListCase{"OtherMultiLineCode", "224 overview follows\r\na.b 1 1 y\r\n.\r\n", 0, false, {}},
        // RFC 3977 lets the text after the code out.
        ListCase{"CodeWithoutBlank", "215\r\na.b 1 1 y\r\n.\r\n", 0, true, {"a.b"}}),
    CaseName);

TEST(ListGroupsTest, EveryListStartsAnEmptyTable) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript()
                                  .Send(kGreeting)
                                  .Reply(kThreeGroups)
                                  .Reply("215 again\r\nz.z 1 1 y\r\n.\r\n")
                                  .Reply("503 program fault\r\n"));
    SetDefaultNntpPort(server.Port());
    {
        CNntpSocket socket;
        std::string code;
        std::string message;
        ASSERT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Ready);
        ASSERT_TRUE(socket.ListGroups());
        EXPECT_EQ(socket.GetGroupCount(), 3);
        ASSERT_TRUE(socket.ListGroups());
        EXPECT_EQ(GroupNames(socket), std::vector<std::string>{"z.z"});
        EXPECT_FALSE(socket.ListGroups());
        EXPECT_EQ(socket.GetGroupCount(), 0);
        EXPECT_EQ(socket.GetGroupName(0), "");
        EndConversation(socket);
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), "LIST\r\nLIST\r\nLIST\r\nQUIT\r\nEXIT\r\n");
}

TEST(ListGroupsTest, NamesOutsideTheTableAreEmpty) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(kThreeGroups));
    SetDefaultNntpPort(server.Port());
    CNntpSocket socket;
    std::string code;
    std::string message;
    ASSERT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Ready);
    ASSERT_TRUE(socket.ListGroups());
    EXPECT_EQ(socket.GetGroupName(2), "alt.test");
    EXPECT_EQ(socket.GetGroupName(3), "");
    EXPECT_EQ(socket.GetGroupName(-1), "");
}

TEST(ListGroupsTest, WithoutAConnectionNothingIsSent) {
    CNntpSocket socket;
    EXPECT_FALSE(socket.ListGroups());
    EXPECT_EQ(socket.GetGroupCount(), 0);
}

TEST(ListGroupsTest, ServerClosingInsteadOfAnsweringGivesFalse) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Await().Close());
    SetDefaultNntpPort(server.Port());
    CNntpSocket socket;
    std::string code;
    std::string message;
    ASSERT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Ready);
    EXPECT_FALSE(socket.ListGroups());
    EXPECT_EQ(socket.GetGroupCount(), 0);
}

// A server that does not allow posting is refused before LIST is sent, as the search does.
TEST(ListGroupsTest, GreetingOf201IsRefusedBeforeList) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send("201 news.example.org ready (no posting)\r\n"));
    SetDefaultNntpPort(server.Port());
    {
        CNntpSocket socket;
        std::string code;
        std::string message;
        EXPECT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Refused);
        EXPECT_EQ(ConnectionErrorMessage(code), " 接続エラーが発生しました '201' ");
        EXPECT_EQ(socket.GetGroupCount(), 0);
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), "");
}

// Large servers carry well over 100,000 groups; every one of them is kept, in order.
TEST(ListGroupsTest, HundredThousandGroupsAreAllListed) {
    constexpr int kGroups = 100000;
    std::string reply = "215 list of newsgroups follows\r\n";
    for (int i = 0; i < kGroups; ++i)
        reply += "big.group." + std::to_string(i) + " 0000000100 0000000001 y\r\n";
    reply += ".\r\n";

    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(reply));
    SetDefaultNntpPort(server.Port());
    CNntpSocket socket;
    std::string code;
    std::string message;
    ASSERT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Ready);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(socket.ListGroups());
    EXPECT_LT(ElapsedMs(start), 5000);
    ASSERT_EQ(socket.GetGroupCount(), kGroups);
    for (int i : {0, 9999, 10000, 10001, 65535, 65536, kGroups - 1})
        EXPECT_EQ(socket.GetGroupName(i), "big.group." + std::to_string(i)) << i;
    EndConversation(socket);
}

} // namespace
