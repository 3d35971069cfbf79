// The posting conversation against the scripted server, with a fixed clock: the exact bytes the
// server receives and what the window is shown.

#include "post/PostArticle.h"

#include "../nntp/HeaderDownloadTestSupport.h"
#include "../nntp/NntpTestSupport.h"
#include "PostTestSupport.h"
#include "nntp/NntpSocket.h"
#include "support/ScriptedNntpServer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string kBoundary = "----=_QUILLOMB_0101_0911_000000ff.090514";
const std::string kGreeting =
    "200 news.example.org InterNetNews NNRP server INN 2.7.1 ready (posting ok)\r\n";
const std::string kPlainType = "Content-Type: text/plain; charset=\"iso-2022-jp\"";
const std::string kHtmlType = "Content-Type: multipart/alternative; boundary=\"" + kBoundary + "\"";
const std::string kFrom = "From: Taro <taro@example.jp >";
const std::string kEnd = "QUIT\r\nEXIT\r\n";

// Header lines 1 to 9 (and References) with their line ends, and the empty line.
std::string Header(const std::string& type, const std::string& from, const std::string& subject,
                   const std::string& references = "") {
    std::string h = type + "\r\n" + "Content-Transfer-Encoding: 7bit\r\n" +
                    "Date: Wed, 08 Dec 1999 14:05:09 +0900\r\n" + from + "\r\n" +
                    "Newsgroups: local.test\r\n" + "MIME-Version: 1.0\r\n" + "Path: 127.0.0.1\r\n" +
                    subject + "\r\n" + "X-Newsreader: Quillo2000 1.01.0910\r\n";
    if (!references.empty())
        h += "References: " + references + "\r\n";
    return h + "\r\n";
}

std::string PartHead(const char* type) {
    return "--" + kBoundary + "\r\nContent-Type: " + type + "; \r\n\tcharset=\"iso-2022-jp\"\r\n" +
           "Content-Transfer-Encoding: 7bit\r\n\r\n";
}

const std::string kPlainPart = PartHead("text/plain");
const std::string kHtmlPart = PartHead("text/html");
const std::string kClose = "</BODY></HTML>\r\n\r\n--" + kBoundary + "--\r\n";

CPostInput Input(const std::string& subject, const std::string& body, const std::string& sig,
                 bool html = false, const std::string& references = "") {
    CPostInput in;
    in.server = "127.0.0.1";
    in.newsgroups = "local.test";
    in.subject = subject;
    in.body = body;
    in.html = html;
    in.references = references;
    in.name = "Taro";
    in.email = "taro@example.jp";
    in.signature = sig;
    return in;
}

// A server that takes the article and answers every step as INN does.
NntpScript Accepting(const std::string& finalReply = "240 <x@example.org> Article received\r\n") {
    return NntpScript()
        .Send(kGreeting)
        .Reply("340 Ok, recommended message-ID <x@example.org>\r\n")
        .OnCommand([finalReply](NntpServerConnection& c, const std::string& line) {
            if (line == ".\r\n")
                c.Send(finalReply);
            else if (line == "QUIT\r\n")
                c.Send("205 Bye!\r\n");
        });
}

class PostTest : public ::testing::Test {
protected:
    PostOutcome Post(const CPostInput& input) {
        SetDefaultNntpPort(m_server.Port());
        const PostOutcome outcome = PostArticle(input, m_recorder, m_recorder);
        EXPECT_TRUE(m_server.WaitForClosedConnections(m_server.AcceptedConnections()));
        return outcome;
    }

    NntpSettingsGuard m_guard;
    CFixedClock m_clock;
    CPostClockScope m_clockScope{m_clock};
    ScriptedNntpServer m_server;
    CPostRecorder m_recorder;
};

struct WireCase {
    const char* name;
    CPostInput input;
    std::string article; // from the first header line to the "." line
};

std::ostream& operator<<(std::ostream& os, const WireCase& c) {
    return os << c.name;
}

const std::string kLongJapanese(6000, '\0');

std::vector<WireCase> WireCases() {
    std::string longAscii(5000, 'a');
    std::string longSjis;
    std::string longJis = "\x1B$B";
    for (int i = 0; i < 3000; ++i) {
        longSjis += "\x82\xA0"; // あ
        longJis += "$\"";
    }
    longJis += "\x1B(B";

    return {
        {"plain without signature or references", Input("Test", "Hello\r\nworld\r\n", ""),
         Header(kPlainType, kFrom, "Subject: Test") + "Hello\r\nworld\r\n\r\n.\r\n"},
        {"plain with signature and references",
         Input("Re: Test", "Hi\r\n", "-- \r\nTaro", false, "<a@x> <b@x>"),
         Header(kPlainType, kFrom, "Subject: Re: Test", "<a@x> <b@x>") +
             "Hi\r\n-- \r\nTaro\r\n\r\n.\r\n"},
        {"HTML with signature and references",
         Input("Test", "<HTML><BODY>Hi</BODY></HTML>\r\n", "-- \r\nTaro", true, "<a@x>"),
         Header(kHtmlType, kFrom, "Subject: Test", "<a@x>") + kPlainPart +
             "Hi\r\n-- \r\nTaro\r\n\r\n" + kHtmlPart + "<HTML><BODY>Hi\r\n-- <BR>\r\nTaro<BR>\r\n" +
             kClose + ".\r\n"},
        {"HTML without signature, last line without a break",
         Input("Test", "<p>one</p><BR>\r\n<p>two</p>", "", true),
         Header(kHtmlType, kFrom, "Subject: Test") + kPlainPart + "one\r\ntwo\r\n\r\n" + kHtmlPart +
             "<p>one</p><BR>\r\n<p>two</p>\r\n" + kClose + ".\r\n"},
        {"Japanese subject, name, body and signature",
         [] {
             CPostInput in =
                 Input(Sjis("日本語の件名"), Sjis("日本語の本文\r\nabc\r\n"), Sjis("署名"));
             in.name = Sjis("山田太郎");
             return in;
         }(),
         Header(kPlainType, "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEIg?=<taro@example.jp >",
                "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsJE43b0w+GyhC?=") +
             "\x1B$BF|K\\8l$NK\\J8\x1B(B\r\nabc\r\n\x1B$B=pL>\x1B(B\r\n\r\n.\r\n"},
        {"lines that begin with a dot", Input("Dots", ".\r\n.sig\r\n..\r\nx.\r\n", ".sig"),
         Header(kPlainType, kFrom, "Subject: Dots") +
             "..\r\n..sig\r\n...\r\nx.\r\n..sig\r\n\r\n.\r\n"},
        {"last lines without a line break, empty lines kept",
         Input("Test", "a\r\n\r\nb", "s1\r\ns2"),
         Header(kPlainType, kFrom, "Subject: Test") + "a\r\n\r\nb\r\ns1\r\ns2\r\n\r\n.\r\n"},
        {"closing tags removed before the dot is doubled",
         Input("Tags", "<html><body>\r\nx</body>\r\n</BODY>.\r\n</Body></Html>\r\n", "", true),
         Header(kHtmlType, kFrom, "Subject: Tags") + kPlainPart + "x.\r\n\r\n" + kHtmlPart +
             "<html><body>\r\nx\r\n..\r\n\r\n" + kClose + ".\r\n"},
        {"half-width katakana go as full-width",
         Input("\xC3\xBD\xC4", "\xB6\xDE\xCA\xDF\xB3\xDE\r\n", "\xB1"),
         Header(kPlainType, kFrom, "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=") +
             "\x1B$B%,%Q%t\x1B(B\r\n\x1B$B%\"\x1B(B\r\n\r\n.\r\n"},
        {"lines longer than 4095 bytes go whole",
         Input("Long", longAscii + "\r\n" + longSjis + "\r\n", longSjis),
         Header(kPlainType, kFrom, "Subject: Long") + longAscii + "\r\n" + longJis + "\r\n" +
             longJis + "\r\n\r\n.\r\n"},
    };
}

class PostWireTest : public PostTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(PostWireTest, ServerReceivesExactly) {
    const WireCase& c = GetParam();
    m_server.AddConnection(Accepting());
    EXPECT_EQ(Post(c.input), PostOutcome::Posted);
    EXPECT_EQ(m_server.Received(0), "POST\r\n" + c.article + kEnd);
    EXPECT_EQ(m_recorder.Shown().back(), "status:");
    for (const std::string& call : m_recorder.Shown())
        EXPECT_FALSE(call.starts_with("message:") || call.starts_with("reply:")) << call;
}

INSTANTIATE_TEST_SUITE_P(Articles, PostWireTest, ::testing::ValuesIn(WireCases()));

TEST_F(PostTest, StatusLineFollowsTheStagesOfAPlainArticle) {
    m_server.AddConnection(Accepting());
    ASSERT_EQ(Post(Input("Test", "Hi\r\n", "sig")), PostOutcome::Posted);
    EXPECT_EQ(m_recorder.Shown(),
              (std::vector<std::string>{
                  "status:現在接続中", "status:現在送信準備中", "status:現在ヘッダー送信中",
                  "status:現在記事送信中(Plain/Text)", "status:現在シグニチャー送信中",
                  "status:現在送信終了中．．．", "status:"}));
    // The window is kept alive at every stage.
    EXPECT_EQ(std::count(m_recorder.calls.begin(), m_recorder.calls.end(), "pump"), 6);
}

TEST_F(PostTest, StatusLineFollowsTheStagesOfAnHtmlArticle) {
    m_server.AddConnection(Accepting());
    ASSERT_EQ(Post(Input("Test", "<b>Hi</b>\r\n", "sig", true)), PostOutcome::Posted);
    EXPECT_EQ(m_recorder.Shown(),
              (std::vector<std::string>{
                  "status:現在接続中", "status:現在送信準備中", "status:現在ヘッダー送信中",
                  "status:現在記事送信中(Plain/Text)", "status:現在シグニチャー送信中",
                  "status:現在記事送信中(Plain/Html)", "status:現在シグニチャー送信中",
                  "status:現在送信終了中．．．", "status:"}));
}

TEST_F(PostTest, PostRefusedSendsNoArticleLines) {
    m_server.AddConnection(NntpScript()
                               .Send(kGreeting)
                               .Reply("440 Posting not permitted\r\n")
                               .OnCommand([](NntpServerConnection& c, const std::string& line) {
                                   if (line == "QUIT\r\n")
                                       c.Send("205 Bye!\r\n");
                               }));
    EXPECT_EQ(Post(Input("Test", "Hi\r\n", "")), PostOutcome::PostRefused);
    EXPECT_EQ(m_server.Received(0), "POST\r\n" + kEnd);
    EXPECT_EQ(m_recorder.Shown(),
              (std::vector<std::string>{"status:現在接続中", "status:現在送信準備中",
                                        "reply:440 Posting not permitted\r\n", "status:"}));
}

TEST_F(PostTest, ArticleNotAcceptedShowsTheReplyAsReceived) {
    m_server.AddConnection(Accepting("441 435 Duplicate\r\n"));
    EXPECT_EQ(Post(Input("Test", "Hi\r\n", "")), PostOutcome::NotAccepted);
    EXPECT_EQ(m_server.Received(0),
              "POST\r\n" + Header(kPlainType, kFrom, "Subject: Test") + "Hi\r\n\r\n.\r\n" + kEnd);
    const std::vector<std::string> shown = m_recorder.Shown();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[shown.size() - 2], "reply:441 435 Duplicate\r\n");
    EXPECT_EQ(shown.back(), "status:");
}

TEST_F(PostTest, GreetingOtherThan200EndsWithoutQuit) {
    m_server.AddConnection(NntpScript().Send("201 news.example.org ready (no posting)\r\n"));
    EXPECT_EQ(Post(Input("Test", "Hi\r\n", "")), PostOutcome::Refused);
    EXPECT_EQ(m_server.Received(0), "");
    // The greeting belongs to the set-up every conversation shares, so "送信準備中" never came.
    EXPECT_EQ(m_recorder.Shown(),
              (std::vector<std::string>{"status:現在接続中",
                                        "message: 接続エラーが発生しました '201' ", "status:"}));
}

TEST_F(PostTest, ConnectionRefusedShowsTheSocketMessage) {
    RefusingPort port;
    SetDefaultNntpPort(port.Port());
    EXPECT_EQ(PostArticle(Input("Test", "Hi\r\n", ""), m_recorder, m_recorder),
              PostOutcome::ConnectFailed);
    EXPECT_EQ(m_recorder.Shown(),
              (std::vector<std::string>{"status:現在接続中",
                                        "message:ソケット接続エラーが発生しました", "status:"}));
}

TEST_F(PostTest, EmptySubjectSendsNothing) {
    m_server.AddConnection(Accepting());
    EXPECT_EQ(Post(Input("", "Hi\r\n", "")), PostOutcome::NoSubject);
    EXPECT_EQ(m_server.AcceptedConnections(), 0u);
    EXPECT_EQ(m_recorder.Shown(),
              (std::vector<std::string>{"message:この記事の項目名を指定してください"}));
}

TEST_F(PostTest, ConnectionLostAfterTheArticleIsAFailureWithAMessage) {
    m_server.AddConnection(NntpScript()
                               .Send(kGreeting)
                               .Reply("340 Ok\r\n")
                               .OnCommand([](NntpServerConnection& c, const std::string& line) {
                                   if (line == ".\r\n")
                                       c.Close();
                               }));
    EXPECT_EQ(Post(Input("Test", "Hi\r\n", "")), PostOutcome::NotAccepted);
    const std::vector<std::string> shown = m_recorder.Shown();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[shown.size() - 2], "message:ソケット接続エラーが発生しました");
}

TEST_F(PostTest, DateAndBoundaryComeFromTheClock) {
    m_clock.m_time.tm_gmtoff = -(5 * 3600 + 30 * 60);
    m_clock.m_time.tm_sec = 1;
    m_clock.m_tick = 0xDEADBEEF;
    m_server.AddConnection(Accepting());
    ASSERT_EQ(Post(Input("T", "<b>x</b>\r\n", "", true)), PostOutcome::Posted);
    const std::string received = m_server.Received(0);
    EXPECT_NE(received.find("\r\nDate: Wed, 08 Dec 1999 14:05:01 -0530\r\n"), std::string::npos);
    EXPECT_NE(received.find("boundary=\"----=_QUILLOMB_0101_0911_deadbeef.010514\"\r\n"),
              std::string::npos);
    EXPECT_NE(received.find("\r\n------=_QUILLOMB_0101_0911_deadbeef.010514--\r\n.\r\n"),
              std::string::npos);
}

} // namespace
