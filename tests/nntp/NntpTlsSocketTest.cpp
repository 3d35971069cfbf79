// The connection over TLS without INN: a small TLS news server of the test's own (OpenSSL over
// memory buffers on a loopback socket) serves implicit TLS or STARTTLS, records what it
// received before and after the handshake, and answers commands from a table.

#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "nntp/TlsEngine.h"

#include "NntpTestSupport.h"
#include "support/TestDir.h"
#include "support/TestTls.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const TestKeyCert& TestCa() {
    static const TestKeyCert ca = MakeTestCa("Quillo socket test CA");
    return ca;
}

class TlsNewsServer {
public:
    // Replies by command line (without its line end); an unknown command gets "500 What?".
    TlsNewsServer(TestKeyCert identity, bool startTls, std::map<std::string, std::string> replies,
                  int connections = 1)
        : m_identity(std::move(identity)), m_startTls(startTls), m_replies(std::move(replies)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_fd, 4);
        socklen_t length = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, connections] {
            for (int i = 0; i < connections; ++i)
                Serve();
        });
    }
    ~TlsNewsServer() {
        ::shutdown(m_fd, SHUT_RDWR);
        Finish();
        ::close(m_fd);
    }
    // Waits until every connection has been served; plain and decrypted are complete then.
    void Finish() {
        if (m_thread.joinable())
            m_thread.join();
    }
    int Port() const { return m_port; }
    // What came in clear, and what came inside TLS, over all connections.
    std::string plain;
    std::string decrypted;
    // Stops answering after the handshake's first flight, to test the time-out.
    bool stallHandshake = false;
    // Replaces the certificate for the connections that follow.
    void SetIdentity(TestKeyCert identity) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_identity = std::move(identity);
    }

private:
    void Serve() {
        const int client = ::accept(m_fd, nullptr, nullptr);
        if (client < 0)
            return;
        timeval timeout{5, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        auto send = [&](const std::string& bytes) {
            return bytes.empty() || ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                        static_cast<ssize_t>(bytes.size());
        };
        auto receive = [&](std::string& into) {
            char block[16384];
            const ssize_t n = ::recv(client, block, sizeof block, 0);
            if (n <= 0)
                return false;
            into.append(block, static_cast<std::size_t>(n));
            return true;
        };
        if (m_startTls) {
            send("200 ready\r\n");
            while (plain.find('\n') == std::string::npos && receive(plain)) {
            }
            if (!plain.ends_with("STARTTLS\r\n")) {
                ::close(client);
                return;
            }
            send("382 Continue with TLS negotiation\r\n");
        }
        TestTlsServer tls([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_identity;
        }());
        std::string in;
        for (;;) {
            const int state = tls.Handshake();
            send(tls.TakeNetworkBytes());
            if (state != 0 || stallHandshake) {
                if (state < 0 || stallHandshake) {
                    if (stallHandshake) {
                        std::string ignored;
                        while (receive(ignored)) {
                        }
                    }
                    ::close(client);
                    return;
                }
                break;
            }
            in.clear();
            if (!receive(in)) {
                ::close(client);
                return;
            }
            tls.PutNetworkBytes(in);
        }
        if (!m_startTls) {
            tls.Write("200 ready\r\n");
            send(tls.TakeNetworkBytes());
        }
        std::string pending;
        for (;;) {
            std::size_t lf;
            // Commands that came with the handshake's last bytes are waiting in the session.
            const std::string early = tls.ReadAvailable();
            decrypted += early;
            pending += early;
            while ((lf = pending.find('\n')) == std::string::npos) {
                in.clear();
                if (!receive(in)) {
                    ::close(client);
                    return;
                }
                tls.PutNetworkBytes(in);
                const std::string more = tls.ReadAvailable();
                decrypted += more;
                pending += more;
                send(tls.TakeNetworkBytes());
            }
            std::string line = pending.substr(0, lf + 1);
            pending.erase(0, lf + 1);
            line.erase(line.find_last_not_of("\r\n") + 1);
            if (line == "EXIT")
                break;
            if (line == "QUIT")
                continue;
            const auto reply = m_replies.find(line);
            tls.Write(reply == m_replies.end() ? "500 What?\r\n" : reply->second);
            send(tls.TakeNetworkBytes());
        }
        tls.Shutdown();
        send(tls.TakeNetworkBytes());
        ::close(client);
    }

    std::mutex m_mutex;
    TestKeyCert m_identity;
    bool m_startTls;
    std::map<std::string, std::string> m_replies;
    int m_fd = -1;
    int m_port = 0;
    std::thread m_thread;
};

class Directory : public INntpServerDirectory {
public:
    NntpServerProfile profile;
    std::vector<TlsCertificateInfo> asked;
    bool trust = false;
    NntpServerProfile Find(const std::string&) override { return profile; }
    bool TrustCertificate(const std::string&, int, const TlsCertificateInfo& c) override {
        asked.push_back(c);
        if (trust)
            profile.connection.trustedFingerprint = c.fingerprint;
        return trust;
    }
};

class NntpTlsSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteWholeFile(m_dir / "ca.pem", TestCa().certPem));
        SetNntpServerDirectory(m_directory);
    }
    void TearDown() override { SetNntpServerDirectory(nullptr); }
    NntpStart Begin(CNntpSocket& socket, std::string& message) {
        std::string code;
        return BeginConversation(socket, "localhost", code, message);
    }

    NntpSettingsGuard m_guard{3000, 3000};
    TestDir m_dir;
    EnvGuard m_ca{kTlsCaFileVariable, m_dir / "ca.pem"};
    std::shared_ptr<Directory> m_directory = std::make_shared<Directory>();
};

std::string BigList(int groups) {
    std::string reply = "215 list follows\r\n";
    for (int i = 0; i < groups; ++i)
        reply += "fj.test.group" + std::to_string(i) + " 0000000010 0000000001 y\r\n";
    return reply + ".\r\n";
}

TEST_F(NntpTlsSocketTest, ImplicitTlsCarriesALongReplyWhole) {
    TlsNewsServer server(MakeTestServerCert({}, &TestCa()), false, {{"LIST", BigList(20000)}});
    m_directory->profile.connection = {server.Port(), NntpSecurity::Tls, "", false, ""};
    {
        CNntpSocket socket;
        std::string message;
        ASSERT_EQ(Begin(socket, message), NntpStart::Ready) << message;
        EXPECT_TRUE(socket.IsTls());
        ASSERT_TRUE(socket.ListGroups());
        ASSERT_EQ(socket.GetGroupCount(), 20000);
        EXPECT_EQ(socket.GetGroupName(19999), "fj.test.group19999");
        EndConversation(socket);
    }
    server.Finish();
    EXPECT_EQ(server.plain, "");
    EXPECT_EQ(server.decrypted, "LIST\r\nQUIT\r\nEXIT\r\n");
    EXPECT_TRUE(m_directory->asked.empty());
}

TEST_F(NntpTlsSocketTest, StartTlsThenLoginNothingSecretInClear) {
    TlsNewsServer server(MakeTestServerCert({}, &TestCa()), true,
                         {{"AUTHINFO USER alice", "381 Password\r\n"},
                          {"AUTHINFO PASS pw-for-tests", "281 Welcome\r\n"},
                          {"GROUP fj.test", "211 2 1 2 fj.test\r\n"}});
    m_directory->profile.connection = {server.Port(), NntpSecurity::StartTls, "alice", false, ""};
    m_directory->profile.password = "pw-for-tests";
    {
        CNntpSocket socket;
        std::string message;
        ASSERT_EQ(Begin(socket, message), NntpStart::Ready) << message;
        EXPECT_TRUE(socket.IsTls());
        socket.SendCommand("GROUP fj.test\r\n");
        std::string reply;
        socket.ReadResponse(reply);
        EXPECT_EQ(reply, "211 2 1 2 fj.test\r\n");
        EndConversation(socket);
    }
    server.Finish();
    EXPECT_EQ(server.plain, "STARTTLS\r\n");
    EXPECT_EQ(server.decrypted, "AUTHINFO USER alice\r\nAUTHINFO PASS pw-for-tests\r\n"
                                "GROUP fj.test\r\nQUIT\r\nEXIT\r\n");
}

TEST_F(NntpTlsSocketTest, TrustedCertificateIsAskedAboutAgainWhenItChanges) {
    const TestKeyCert first = MakeTestServerCert({}, nullptr); // self-signed
    TlsNewsServer server(first, false, {}, 3);
    m_directory->profile.connection = {server.Port(), NntpSecurity::Tls, "", false, ""};
    m_directory->trust = true;
    std::string message;
    {
        CNntpSocket socket;
        ASSERT_EQ(Begin(socket, message), NntpStart::Ready) << message;
        EndConversation(socket);
    }
    ASSERT_EQ(m_directory->asked.size(), 1u);
    EXPECT_EQ(m_directory->asked[0].fingerprint, first.fingerprint);
    EXPECT_EQ(m_directory->profile.connection.trustedFingerprint, first.fingerprint);

    // Another self-signed certificate on the same server: the user is asked again.
    const TestKeyCert second = MakeTestServerCert({}, nullptr);
    server.SetIdentity(second);
    m_directory->trust = false;
    {
        CNntpSocket socket;
        EXPECT_EQ(Begin(socket, message), NntpStart::Failed);
        EXPECT_EQ(message, "サーバーの証明書を信頼できないため、接続を中止しました\n" +
                               TlsVerifyReason(18 /* X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT */));
    }
    ASSERT_EQ(m_directory->asked.size(), 2u);
    EXPECT_EQ(m_directory->asked[1].fingerprint, second.fingerprint);
    EXPECT_EQ(m_directory->profile.connection.trustedFingerprint, first.fingerprint);
}

TEST_F(NntpTlsSocketTest, AServerThatStopsInTheHandshakeTimesOut) {
    TlsNewsServer server(MakeTestServerCert({}, &TestCa()), false, {});
    server.stallHandshake = true;
    m_directory->profile.connection = {server.Port(), NntpSecurity::Tls, "", false, ""};
    SetNntpTimeouts(3000, 300);
    CNntpSocket socket;
    std::string message;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Begin(socket, message), NntpStart::Failed);
    EXPECT_LT(ElapsedMs(start), 2500);
    EXPECT_TRUE(message.starts_with("暗号化 (TLS) した接続を確立できませんでした")) << message;
    EXPECT_EQ(socket.GetLastError(), kWsaETimedOut);
}

} // namespace
