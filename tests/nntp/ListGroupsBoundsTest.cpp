// LIST replies that are cut, or larger than the group table keeps.

#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"

#include "NntpTestSupport.h"
#include "support/ScriptedNntpServer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string kGreeting = "200 news.example.org ready\r\n";
const std::string kStatus = "215 list follows\r\n";

struct ListCutCase {
    const char* name;
    std::string sent; // then the server closes
};

std::ostream& operator<<(std::ostream& os, const ListCutCase& c) {
    return os << c.name;
}

class ListCutTest : public ::testing::TestWithParam<ListCutCase> {};

TEST_P(ListCutTest, CutListOffersNoGroup) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(GetParam().sent).Close());
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    EXPECT_FALSE(socket.ListGroups());
    EXPECT_EQ(socket.GetGroupCount(), 0);
    EXPECT_EQ(socket.GetGroupName(0), "");
    EXPECT_FALSE(socket.GroupTableFull());
    EXPECT_EQ(socket.GetFailure(), NntpFailure::Closed);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, ListCutTest,
    ::testing::Values(ListCutCase{"NoReply", ""}, ListCutCase{"StatusLineCut", "215 li"},
                      ListCutCase{"AfterTheStatusLine", kStatus},
                      ListCutCase{"InsideALine", kStatus + "a.one 1 1 y\r\na.tw"},
                      ListCutCase{"BeforeTheTerminator", kStatus + "a.one 1 1 y\r\n"},
                      ListCutCase{"TerminatorWithoutItsEnd", kStatus + "a.one 1 1 y\r\n."}),
    [](const auto& info) { return std::string(info.param.name); });

struct TableBoundCase {
    const char* name;
    int lines;
    std::size_t nameLength;
    int kept;
    bool full;
};

std::ostream& operator<<(std::ostream& os, const TableBoundCase& c) {
    return os << c.name;
}

class TableBoundTest : public ::testing::TestWithParam<TableBoundCase> {};

TEST_P(TableBoundTest, KeepsTheFirstGroupsAndReadsTheRest) {
    const TableBoundCase& c = GetParam();
    std::string reply = kStatus;
    for (int i = 0; i < c.lines; ++i) {
        std::string name = "g." + std::to_string(i);
        name.resize(std::max(name.size(), c.nameLength), 'n');
        reply += name + " 0000000002 0000000001 y\r\n";
    }
    reply += ".\r\n";
    NntpSettingsGuard guard(3000, 10000);
    ScriptedNntpServer server(NntpScript().Send(kGreeting).Reply(reply).Reply("211 2 1 2 g.0\r\n"));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    EXPECT_TRUE(socket.ListGroups());
    ASSERT_EQ(socket.GetGroupCount(), c.kept);
    EXPECT_TRUE(socket.GetGroupName(c.kept - 1).starts_with("g." + std::to_string(c.kept - 1)));
    EXPECT_EQ(socket.GetGroupName(c.kept), "");
    EXPECT_EQ(socket.GroupTableFull(), c.full);
    // The rest of the list was read: the next reply is the next command's.
    socket.SendCommand("GROUP g.0\r\n");
    EXPECT_EQ(socket.ReadResponse(text), 15);
    EXPECT_EQ(text, "211 2 1 2 g.0\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, TableBoundTest,
    ::testing::Values(TableBoundCase{"GroupsAtTheBound", CNntpSocket::kMaxListGroups, 0,
                                     CNntpSocket::kMaxListGroups, false},
                      TableBoundCase{"MoreGroups", CNntpSocket::kMaxListGroups + 10, 0,
                                     CNntpSocket::kMaxListGroups, true},
                      TableBoundCase{"LongNames", 17000, 1000,
                                     static_cast<int>(CNntpSocket::kMaxGroupNameBytes / 1000),
                                     true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ListBoundsTest, ListLargerThanItsBoundIsCut) {
    NntpSettingsGuard guard(3000, 10000);
    const std::string line = "g." + std::string(990, 'n') + " 2 1 y\r\n";
    std::string chunk;
    while (chunk.size() < 1024 * 1024)
        chunk += line;
    ScriptedNntpServer server(
        NntpScript().Send(kGreeting).OnCommand([&](NntpServerConnection& c, const std::string&) {
            c.Send(kStatus);
            for (std::size_t sent = 0; sent <= CNntpSocket::kMaxListBytes; sent += chunk.size())
                if (!c.Send(chunk))
                    return;
            c.Send(".\r\n");
        }));
    CNntpSocket socket;
    ASSERT_TRUE(ConnectTo(socket, "127.0.0.1", server.Port()));
    std::string text;
    socket.ReadResponse(text);
    EXPECT_FALSE(socket.ListGroups());
    EXPECT_EQ(socket.GetGroupCount(), 0);
    EXPECT_EQ(socket.GetFailure(), NntpFailure::TooLarge);
    EXPECT_EQ(ReplyFailureMessage(socket),
              " 接続エラーが発生しました 'サーバーの応答が大きすぎます。' ");
    EXPECT_EQ(socket.SendCommand("QUIT\r\n"), -1);
}

TEST(ListBoundsTest, MessageForAFullTable) {
    EXPECT_EQ(GroupListFullMessage(200000),
              "グループが多すぎるため、最初の 200000 個だけを表示します");
}

} // namespace
