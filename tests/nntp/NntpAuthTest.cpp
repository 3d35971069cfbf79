// The set-up every conversation shares, beyond the greeting: STARTTLS and AUTHINFO, as exact
// transcripts against the scripted server.

#include "nntp/NntpAuth.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "nntp/TlsEngine.h"

#include "NntpTestSupport.h"
#include "support/ScriptedNntpServer.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

template <typename Case>
requires requires(const Case& c) {
    c.name;
}
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

// A directory that answers with one profile and never trusts a certificate.
class FixedDirectory : public INntpServerDirectory {
public:
    explicit FixedDirectory(NntpServerProfile profile) : m_profile(std::move(profile)) {}
    NntpServerProfile Find(const std::string& host) override {
        hosts += host + ";";
        return m_profile;
    }
    bool TrustCertificate(const std::string&, int, const TlsCertificateInfo&) override {
        ++asked;
        return false;
    }
    std::string hosts;
    int asked = 0;

private:
    NntpServerProfile m_profile;
};

class DirectoryGuard {
public:
    explicit DirectoryGuard(std::shared_ptr<INntpServerDirectory> d) {
        SetNntpServerDirectory(std::move(d));
    }
    ~DirectoryGuard() { SetNntpServerDirectory(nullptr); }
};

const std::string kPassword = "pw-for-tests";

struct SetUpCase {
    const char* name;
    NntpSecurity security;
    std::string user;
    std::string password;
    bool allowPlain;
    std::vector<std::string> replies; // one per command after the greeting
    NntpStart start;
    std::string message;
    std::string received;
};

class ConversationSetUpTest : public ::testing::TestWithParam<SetUpCase> {};

TEST_P(ConversationSetUpTest, SendsExactlyTheCommandsItMay) {
    const SetUpCase& c = GetParam();
    NntpSettingsGuard settings;
    NntpScript script;
    script.Send("200 ready\r\n");
    for (const std::string& reply : c.replies)
        script.Reply(reply);
    ScriptedNntpServer server(script);
    NntpServerProfile profile;
    profile.connection.port = server.Port();
    profile.connection.security = c.security;
    profile.connection.user = c.user;
    profile.connection.allowPlainLogin = c.allowPlain;
    profile.password = c.password;
    auto directory = std::make_shared<FixedDirectory>(profile);
    DirectoryGuard guard(directory);
    {
        CNntpSocket socket;
        std::string code;
        std::string message;
        EXPECT_EQ(BeginConversation(socket, "127.0.0.1", code, message), c.start);
        EXPECT_EQ(code, "200");
        EXPECT_EQ(message, c.message);
        if (c.start == NntpStart::Ready)
            EndConversation(socket);
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), c.received);
    EXPECT_EQ(directory->hosts, "127.0.0.1;");
    EXPECT_EQ(directory->asked, 0);
}

const std::string kQuit = "QUIT\r\nEXIT\r\n";
const std::string kUser = "AUTHINFO USER alice\r\n";
const std::string kPass = "AUTHINFO PASS " + kPassword + "\r\n";
using S = NntpSecurity;

INSTANTIATE_TEST_SUITE_P(
    Authinfo, ConversationSetUpTest,
    ::testing::Values(
        SetUpCase{"NoUserNoLogin", S::None, "", "", false, {}, NntpStart::Ready, "", kQuit},
        SetUpCase{"UserAloneIsAccepted281",
                  S::None,
                  "alice",
                  kPassword,
                  true,
                  {"281 Authentication accepted\r\n"},
                  NntpStart::Ready,
                  "",
                  kUser + kQuit},
        SetUpCase{"PasswordAsked381Then281",
                  S::None,
                  "alice",
                  kPassword,
                  true,
                  {"381 Enter password\r\n", "281 Authentication accepted\r\n"},
                  NntpStart::Ready,
                  "",
                  kUser + kPass + kQuit},
        SetUpCase{"WrongPassword481",
                  S::None,
                  "alice",
                  kPassword,
                  true,
                  {"381 Enter password\r\n", "481 Authentication failed\r\n"},
                  NntpStart::Failed,
                  "認証に失敗しました\n'481 Authentication failed'",
                  kUser + kPass},
        SetUpCase{"UnknownUser481",
                  S::None,
                  "alice",
                  kPassword,
                  true,
                  {"481 No such user\r\n"},
                  NntpStart::Failed,
                  "認証に失敗しました\n'481 No such user'",
                  kUser},
        SetUpCase{
            "OutOfSequence482",
            S::None,
            "alice",
            kPassword,
            true,
            {"381 Enter password\r\n", "482 Authentication commands issued out of sequence\r\n"},
            NntpStart::Failed,
            "認証に失敗しました\n'482 Authentication commands issued out of sequence'",
            kUser + kPass},
        SetUpCase{"NotSupported502",
                  S::None,
                  "alice",
                  kPassword,
                  true,
                  {"502 Command unavailable\r\n"},
                  NntpStart::Failed,
                  "認証に失敗しました\nこのサーバーはユーザー名とパスワードによる認証に応じません\n"
                  "'502 Command unavailable'",
                  kUser},
        SetUpCase{"EncryptionRequired483",
                  S::None,
                  "alice",
                  kPassword,
                  true,
                  {"483 Encryption required\r\n"},
                  NntpStart::Failed,
                  "このサーバーは暗号化 (TLS) した接続でなければ認証できません。"
                  "サーバー登録で暗号化を選んでください\n'483 Encryption required'",
                  kUser},
        SetUpCase{"NoPasswordStored",
                  S::None,
                  "alice",
                  "",
                  true,
                  {"381 Enter password\r\n"},
                  NntpStart::Failed,
                  "認証に失敗しました\nパスワードが保存されていません\n'381 Enter password'",
                  kUser},
        SetUpCase{"NoPasswordOverPlainTextWithoutConsent",
                  S::None,
                  "alice",
                  kPassword,
                  false,
                  {},
                  NntpStart::Failed,
                  "暗号化されていない接続ではパスワードを送りません。"
                  "サーバー登録で暗号化を選ぶか、暗号化なしの認証を許可してください",
                  ""}));

INSTANTIATE_TEST_SUITE_P(
    StartTls, ConversationSetUpTest,
    ::testing::Values(SetUpCase{"NotOffered502",
                                S::StartTls,
                                "alice",
                                kPassword,
                                true,
                                {"502 STARTTLS not available\r\n"},
                                NntpStart::Failed,
                                "このサーバーは STARTTLS に応じないため、接続を中止しました\n"
                                "'502 STARTTLS not available'",
                                "STARTTLS\r\n"},
                      SetUpCase{
                          "UnknownCommand500",
                          S::StartTls,
                          "",
                          "",
                          false,
                          {"500 What?\r\n"},
                          NntpStart::Failed,
                          "このサーバーは STARTTLS に応じないため、接続を中止しました\n'500 What?'",
                          "STARTTLS\r\n"},
                      SetUpCase{"ClosedInsteadOfAnswering",
                                S::StartTls,
                                "",
                                "",
                                false,
                                {""},
                                NntpStart::Failed,
                                "このサーバーは STARTTLS に応じないため、接続を中止しました\n''",
                                "STARTTLS\r\n"}));

TEST(ConversationSetUpTest, WithoutADirectoryEveryServerIsPlainNntpOnTheDefaultPort) {
    NntpSettingsGuard settings;
    ScriptedNntpServer server(NntpScript().Send("200 ready\r\n"));
    SetDefaultNntpPort(server.Port());
    {
        CNntpSocket socket;
        std::string code;
        std::string message;
        ASSERT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Ready);
        EXPECT_FALSE(socket.IsTls());
        EndConversation(socket);
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    EXPECT_EQ(server.Received(0), kQuit);
}

TEST(ConversationSetUpTest, ImplicitTlsToAPlainServerFailsWithoutSendingACommand) {
    NntpSettingsGuard settings;
    ScriptedNntpServer server(NntpScript().Send("200 ready\r\n"));
    NntpServerProfile profile;
    profile.connection.port = server.Port();
    profile.connection.security = S::Tls;
    profile.connection.user = "alice";
    profile.password = kPassword;
    DirectoryGuard guard(std::make_shared<FixedDirectory>(profile));
    {
        CNntpSocket socket;
        std::string code;
        std::string message;
        EXPECT_EQ(BeginConversation(socket, "127.0.0.1", code, message), NntpStart::Failed);
        EXPECT_TRUE(message.starts_with("暗号化 (TLS) した接続を確立できませんでした\n"))
            << message;
    }
    ASSERT_TRUE(server.WaitForClosedConnections(1));
    // Only the TLS hello went out: no command, no password in any form.
    const std::string received = server.Received(0);
    EXPECT_EQ(received.find("AUTHINFO"), std::string::npos);
    EXPECT_EQ(received.find(kPassword), std::string::npos);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0], '\x16'); // a TLS handshake record
}

TEST(ConversationSetUpTest, ThePortFollowsTheSecurityUnlessOneIsSet) {
    NntpSettingsGuard settings;
    SetDefaultNntpPort(8119);
    ServerConnection c;
    EXPECT_EQ(ConnectionPort(c), 8119);
    c.security = S::StartTls;
    EXPECT_EQ(ConnectionPort(c), 8119);
    c.security = S::Tls;
    EXPECT_EQ(ConnectionPort(c), 563);
    c.port = 10563;
    EXPECT_EQ(ConnectionPort(c), 10563);
}

struct AccessCase {
    const char* name;
    std::string line;
    std::string message;
};

TEST(AccessReplyMessageTest, NamesWhatTheServerWantsFirst) {
    const AccessCase cases[] = {
        {"LoginWanted", "480 Read access denied\r\n",
         "このサーバーはユーザー名とパスワードを求めています。"
         "サーバー登録でユーザー名とパスワードを設定してください\n'480 Read access denied'"},
        {"EncryptionWanted", "483 Encryption required\r\n",
         "このサーバーは暗号化 (TLS) した接続を求めています。"
         "サーバー登録で暗号化を選んでください\n'483 Encryption required'"},
        {"ControlBytesShownAsQuestionMarks", "480 a\x01\x80z\r\n",
         "このサーバーはユーザー名とパスワードを求めています。"
         "サーバー登録でユーザー名とパスワードを設定してください\n'480 a??z'"},
        {"OtherRepliesSayNothing", "411 No such group\r\n", ""},
        {"CodeMustStandAlone", "4800 odd\r\n", ""},
        {"Empty", "", ""},
    };
    for (const AccessCase& c : cases)
        EXPECT_EQ(AccessReplyMessage(c.line), c.message) << c.name;
}

} // namespace
