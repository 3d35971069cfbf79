#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"

#include "NntpTestSupport.h"
#include "support/ScriptedNntpServer.h"

#include <gtest/gtest.h>

#include <ostream>

#include <unistd.h>

namespace {

// Failure reports name a table's case instead of dumping its bytes.
template <typename Case>
requires requires(const Case& c) {
    c.name;
}
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

const std::string kNetworkMessage =
    "接続エラーが発生しました \nネットワークに接続していない可能性があります";

// ---- greeting ----

struct GreetingCase {
    const char* name;
    std::string greeting;
    std::size_t pieceSize; // 0: one write
    NntpStart start;
    std::string code;
    std::string message; // shown for a refused greeting
    std::string received;
};

class GreetingTest : public ::testing::TestWithParam<GreetingCase> {};

TEST_P(GreetingTest, BeginsAndEndsAsEveryConversationDoes) {
    const GreetingCase& c = GetParam();
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send(c.greeting, c.pieceSize, c.pieceSize ? 2 : 0));
    SetDefaultNntpPort(server.Port());
    {
        CNntpSocket socket;
        std::string code = "stale";
        std::string message;
        const NntpStart start = BeginConversation(socket, "127.0.0.1", code, message);
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(code, c.code);
        if (start == NntpStart::Ready)
            EndConversation(socket);
        else
            EXPECT_EQ(ConnectionErrorMessage(code), c.message);
        socket.Cleanup();
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), c.received);
}

INSTANTIATE_TEST_SUITE_P(
    Greetings, GreetingTest,
    ::testing::Values(
        GreetingCase{"Ready",
                     "200 news.example.org InterNetNews NNRP server ready (posting ok)\r\n", 0,
                     NntpStart::Ready, "200", "", "QUIT\r\nEXIT\r\n"},
        GreetingCase{"ReadyInPieces", "200 news.example.org ready\r\n", 3, NntpStart::Ready, "200",
                     "", "QUIT\r\nEXIT\r\n"},
        GreetingCase{"PostingNotAllowed", "201 news.example.org ready (no posting)\r\n", 0,
                     NntpStart::Refused, "201", " 接続エラーが発生しました '201' ", ""},
        GreetingCase{"Unavailable", "502 You have no permission to talk\r\n", 0, NntpStart::Refused,
                     "502", " 接続エラーが発生しました '502' ", ""},
        // RFC 3977 lets the text after the code out.
        GreetingCase{"CodeWithoutBlank", "200\r\n", 0, NntpStart::Ready, "200", "",
                     "QUIT\r\nEXIT\r\n"},
        GreetingCase{"OtherCodeWithoutBlank", "502\r\n", 0, NntpStart::Refused, "502",
                     " 接続エラーが発生しました '502' ", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConversationTest, ServerClosingAfterQuitDoesNotDisturbTheEnd) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send("200 ready\r\n").Reply("205 bye\r\n").Close());
    SetDefaultNntpPort(server.Port());
    CNntpSocket socket;
    std::string code;
    std::string message;
    ASSERT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Ready);
    EndConversation(socket);
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    const std::string received = server.Received(0);
    EXPECT_TRUE(received == "QUIT\r\n" || received == "QUIT\r\nEXIT\r\n") << received;
    // Sending into the closed connection fails instead of ending the process.
    int failures = 0;
    for (int i = 0; i < 20 && failures == 0; ++i) {
        if (socket.SendCommand("EXIT\r\n") < 0)
            ++failures;
        usleep(10000);
    }
    EXPECT_EQ(failures, 1);
    EXPECT_NE(socket.GetLastError(), 0);
}

// ---- connection failures ----

enum class Target { Unresolvable, EmptyHost, Refusing, NotAccepting };

struct ConnectFailureCase {
    const char* name;
    Target target;
    int error;
    std::string errorText;
    std::string message;
};

class ConnectFailureTest : public ::testing::TestWithParam<ConnectFailureCase> {};

TEST_P(ConnectFailureTest, ReportsTheSocketErrorAndItsMessage) {
    const ConnectFailureCase& c = GetParam();
    NntpSettingsGuard guard(400, 400);
    RefusingPort refusing;
    FullListener full;
    std::string host = "127.0.0.1";
    if (c.target == Target::Unresolvable)
        host = "no-such-host.invalid";
    else if (c.target == Target::EmptyHost)
        host.clear();
    SetDefaultNntpPort(c.target == Target::NotAccepting ? full.Port() : refusing.Port());

    CNntpSocket socket;
    std::string code = "stale";
    std::string message;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(BeginConversation(socket, host, code, message), NntpStart::ConnectFailed);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(code, "");
    EXPECT_EQ(socket.GetLastError(), c.error);
    EXPECT_EQ(socket.GetErrorText(), c.errorText);
    EXPECT_EQ(ConnectFailureMessage(socket), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ConnectFailureTest,
    ::testing::Values(
        ConnectFailureCase{"Unresolvable", Target::Unresolvable, 10022,
                           "ホスト アドレスが無効です。", kNetworkMessage},
        ConnectFailureCase{"EmptyHost", Target::EmptyHost, 10022, "ホスト アドレスが無効です。",
                           kNetworkMessage},
        ConnectFailureCase{
            "Refused", Target::Refusing, 10061, "接続を試みましたが、リジェクトされました。",
            " 接続エラーが発生しました '接続を試みましたが、リジェクトされました。' "},
        ConnectFailureCase{"NeverAccepted", Target::NotAccepting, 10060,
                           "接続を試みましたが、タイムアウトで接続を確立できませんでした。",
                           " 接続エラーが発生しました "
                           "'接続を試みましたが、タイムアウトで接続を確立できませんでした。' "}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- several addresses ----

struct AddressCase {
    const char* name;
    std::string host;
    std::vector<std::string> addresses; // what the lookup gives; empty: the system's lookup
    bool refusing;                      // the port has no server
    NntpStart start;
    int error;
};

class AddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressTest, TriesEachAddressInTurn) {
    const AddressCase& c = GetParam();
    NntpSettingsGuard guard;
    ScriptedNntpServer server(NntpScript().Send("200 ready\r\n"));
    RefusingPort refusing;
    SetDefaultNntpPort(c.refusing ? refusing.Port() : server.Port());
    std::vector<std::string> asked;
    if (!c.addresses.empty()) {
        SetNntpResolver([&](const std::string& host) {
            asked.push_back(host);
            return c.addresses;
        });
    }
    {
        CNntpSocket socket;
        std::string code;
        std::string message;
        EXPECT_EQ(BeginConversation(socket, c.host, code, message), c.start);
        if (c.start == NntpStart::Ready)
            EndConversation(socket);
        else
            EXPECT_EQ(socket.GetLastError(), c.error);
    }
    if (!c.addresses.empty())
        EXPECT_EQ(asked, std::vector<std::string>{c.host});
    if (c.start == NntpStart::Ready) {
        ASSERT_TRUE(server.WaitForClosedConnections(1));
        EXPECT_EQ(server.Received(0), "QUIT\r\nEXIT\r\n");
    } else {
        EXPECT_EQ(server.AcceptedConnections(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, AddressTest,
    ::testing::Values(
        AddressCase{"SystemLookupOfLocalhost", "localhost", {}, false, NntpStart::Ready, 0},
        AddressCase{
            "SixThenFour", "news.example.test", {"::1", "127.0.0.1"}, false, NntpStart::Ready, 0},
        AddressCase{"FourOnly", "news.example.test", {"127.0.0.1"}, false, NntpStart::Ready, 0},
        AddressCase{"AllRefused",
                    "news.example.test",
                    {"::1", "127.0.0.1"},
                    true,
                    NntpStart::ConnectFailed,
                    10061},
        AddressCase{"NothingFound",
                    "news.example.test",
                    {"not an address"},
                    false,
                    NntpStart::ConnectFailed,
                    10022}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- conversations one after another ----

TEST(ConversationTest, NothingOfAnAbandonedReplyReachesTheNextConversation) {
    NntpSettingsGuard guard;
    ScriptedNntpServer server;
    server.AddConnection(NntpScript()
                             .Send("200 first ready\r\n")
                             .Reply("215 list follows\r\nlocal.a 2 1 y\r\nlocal.b 2 1 y\r\n.\r\n"));
    server.AddConnection(
        NntpScript().Send("200 second ready\r\n").Reply("423 No such article number 7\r\n"));
    SetDefaultNntpPort(server.Port());
    std::string code;
    std::string message;
    std::string line;
    {
        CNntpSocket first;
        ASSERT_EQ(BeginConversation(first, "127.0.0.1", code, message), NntpStart::Ready);
        first.SendCommand("LIST\r\n");
        ASSERT_TRUE(first.ReadLine(line));
        EXPECT_EQ(line, "215 list follows");
        EndConversation(first);
    }
    {
        CNntpSocket second;
        ASSERT_EQ(BeginConversation(second, "127.0.0.1", code, message), NntpStart::Ready);
        second.SendCommand("HEAD 7\r\n");
        EXPECT_EQ(ReadReply(second), std::vector<std::string>{"423 No such article number 7"});
        EndConversation(second);
    }
    ASSERT_TRUE(server.WaitForClosedConnections(2));
    EXPECT_EQ(server.Received(0), "LIST\r\nQUIT\r\nEXIT\r\n");
    EXPECT_EQ(server.Received(1), "HEAD 7\r\nQUIT\r\nEXIT\r\n");
}

} // namespace
