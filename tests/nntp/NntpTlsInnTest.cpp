// TLS and AUTHINFO against the project's INN (tools/inn.sh start): implicit TLS on 563, STARTTLS
// on 119, the login that quillo.private.* needs, and certificates that fail verification.
// Skipped when INN does not listen on both ports.

#include "nntp/HeaderDownload.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "nntp/TlsEngine.h"
#include "post/ArticleAssembly.h"
#include "post/PostArticle.h"
#include "settings/PasswordStore.h"
#include "store/HeaderStore.h"
#include "store/ServerConnection.h"
#include "viewer/ArticleFetch.h"

#include "HeaderDownloadTestSupport.h"
#include "NntpTestSupport.h"
#include "support/TestDir.h"
#include "support/TestTls.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <atomic>
#include <cstdio>
#include <ctime>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// As tools/inn.sh sets them up.
const std::string kTlsDir = "/etc/news/quillo-tls";
const std::string kUser = "quillotest";
const std::string kPassword = "quillo-test-pass";
const std::string kServer = "localhost";
const std::string kWrongName = "wrong-name.quillo.test";

bool Listens(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool listens = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return listens;
}

int RunCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    return ::pclose(pipe);
}

std::string PemFingerprint(const std::string& path) {
    const std::string pem = ReadWholeFile(path);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!cert)
        return "no certificate in " + path;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
    X509_free(cert);
    char hex[4];
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
        text += hex;
    }
    return text;
}

// A fresh group name for every run: INN keeps each Message-ID once.
std::string FreshGroup(const char* hierarchy) {
    static std::atomic<int> counter{0};
    return std::string(hierarchy) + ".t" + std::to_string(std::time(nullptr)) + "p" +
           std::to_string(::getpid()) + "n" + std::to_string(counter++);
}

class NntpTlsInnTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Listens(119) || !Listens(kNntpTlsPort))
            GTEST_SKIP() << "INN does not listen on 119 and 563 (tools/inn.sh start)";
        SetDefaultNntpPort(119);
        m_ini = m_base / "quillo.ini";
        m_passwords = std::make_shared<CFilePasswordStore>(PasswordFilePath(m_ini));
        SetNntpServerDirectory(std::make_shared<CSettingsServerDirectory>(
            m_ini, m_passwords,
            [this](const std::string& host, int port, const TlsCertificateInfo& certificate) {
                m_asked.push_back(host + ":" + std::to_string(port));
                m_shown = certificate;
                return m_trust;
            }));
    }
    void TearDown() override { SetNntpServerDirectory(nullptr); }

    void Register(const std::string& host, NntpSecurity security, const std::string& password) {
        ServerConnection c;
        c.security = security;
        c.user = kUser;
        ASSERT_TRUE(WriteServerConnection(m_ini, host, c));
        ASSERT_TRUE(m_passwords->Write(host, kUser, password));
    }

    std::string Load(const std::string& group) {
        const std::string data = TestDataDir();
        std::string output;
        EXPECT_EQ(RunCommand(data + "/../../tools/inn.sh load --group " + group + " " + data +
                                 "/articles/01-plain-ascii.art " + data +
                                 "/articles/02-japanese-jis.art",
                             output),
                  0)
            << output;
        return output;
    }

    NntpSettingsGuard m_guard{10000, 10000};
    EnvGuard m_ca{kTlsCaFileVariable, kTlsDir + "/ca.pem"};
    TestDir m_base;
    std::string m_ini;
    std::shared_ptr<CFilePasswordStore> m_passwords;
    bool m_trust = false;
    std::vector<std::string> m_asked;
    TlsCertificateInfo m_shown;
};

// What posting shows.
class PostRecorder : public IProgress, public IPostView {
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void PumpMessages() override {}
    void ShowMessage(const std::string& utf8) override { shown.push_back(utf8); }
    void ShowReply(const std::string& bytes) override { shown.push_back(bytes); }
    std::vector<std::string> shown;
};

// ---- every command over TLS with a login ----

struct SecurityCase {
    const char* name;
    NntpSecurity security;
    int port;
};

class NntpTlsInnCommandTest : public NntpTlsInnTest,
                              public ::testing::WithParamInterface<SecurityCase> {};

TEST_P(NntpTlsInnCommandTest, ListsUpdatesReadsAndPostsInTheProtectedHierarchy) {
    const SecurityCase& c = GetParam();
    const std::string group = FreshGroup("quillo.private");
    Load(group);
    Register(kServer, c.security, kPassword);
    EXPECT_EQ(ConnectionPort(ReadServerConnection(m_ini, kServer)), c.port);

    { // LIST: the protected group is there only after the login.
        CNntpSocket socket;
        std::string code, message;
        ASSERT_EQ(BeginConversation(socket, kServer, code, message), NntpStart::Ready) << message;
        EXPECT_TRUE(socket.IsTls());
        ASSERT_TRUE(socket.ListGroups());
        bool found = false;
        for (int i = 0; i < socket.GetGroupCount(); ++i)
            found = found || socket.GetGroupName(i) == group;
        EXPECT_TRUE(found) << group;
        EndConversation(socket);
    }

    // Update.
    ASSERT_EQ(CreateGroupDirectory(m_base.Path(), kServer, group), 1);
    const std::string groupDir = GroupDirectory(m_base.Path(), kServer, group);
    HeaderDownloadParams params;
    params.server = kServer;
    params.group = group;
    params.baseDir = m_base.Path();
    params.mainDbPath = m_base / "quillo.mdb";
    DownloadRecorder recorder;
    EXPECT_EQ(DownloadHeaders(params, recorder, recorder), 2);
    EXPECT_TRUE(recorder.messages.empty());
    ASSERT_EQ(HeaderRows(groupDir).size(), 2u);

    // Read.
    const std::string cache = groupDir + "/article1.ntx";
    const CCacheResult fetched = CacheArticle(cache, "1", kServer, group);
    EXPECT_EQ(fetched.m_state, CacheState::Fetched) << fetched.m_message;
    EXPECT_NE(ReadWholeFile(cache).find("Welcome to the Quillo demo group"), std::string::npos);

    // Post through the program's posting, then update again: the article is there.
    PostRecorder post;
    CPostInput input;
    input.server = kServer;
    input.newsgroups = group;
    input.subject = "posted over TLS";
    input.body = "body line\r\n";
    input.name = "Quillo Test";
    input.email = "test@quillo.test";
    EXPECT_EQ(PostArticle(input, post, post), PostOutcome::Posted);
    EXPECT_TRUE(post.shown.empty());
    DownloadRecorder again;
    EXPECT_EQ(DownloadHeaders(params, again, again), 3);
    const std::vector<std::string> rows = HeaderRows(groupDir);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NE(rows[2].find("|posted over TLS|"), std::string::npos) << rows[2];
    EXPECT_TRUE(m_asked.empty());
}

INSTANTIATE_TEST_SUITE_P(Security, NntpTlsInnCommandTest,
                         ::testing::Values(SecurityCase{"ImplicitTlsOn563", NntpSecurity::Tls, 563},
                                           SecurityCase{"StartTlsOn119", NntpSecurity::StartTls,
                                                        119}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- refusals ----

TEST_F(NntpTlsInnTest, WrongPasswordShowsTheServersReplyAndStoresNothing) {
    const std::string group = FreshGroup("quillo.private");
    Load(group);
    Register(kServer, NntpSecurity::Tls, "not-the-password");
    ASSERT_EQ(CreateGroupDirectory(m_base.Path(), kServer, group), 1);
    HeaderDownloadParams params;
    params.server = kServer;
    params.group = group;
    params.baseDir = m_base.Path();
    params.mainDbPath = m_base / "quillo.mdb";
    DownloadRecorder recorder;
    EXPECT_EQ(DownloadHeaders(params, recorder, recorder), -1);
    EXPECT_EQ(recorder.messages,
              std::vector<std::string>{"認証に失敗しました\n'481 Authentication failed'"});
    EXPECT_TRUE(HeaderRows(GroupDirectory(m_base.Path(), kServer, group)).empty());
}

TEST_F(NntpTlsInnTest, WithoutALoginTheProtectedGroupSaysSo) {
    const std::string group = FreshGroup("quillo.private");
    Load(group);
    ASSERT_EQ(CreateGroupDirectory(m_base.Path(), kServer, group), 1);
    HeaderDownloadParams params;
    params.server = kServer;
    params.group = group;
    params.baseDir = m_base.Path();
    params.mainDbPath = m_base / "quillo.mdb";
    DownloadRecorder recorder;
    EXPECT_EQ(DownloadHeaders(params, recorder, recorder), 0);
    EXPECT_EQ(recorder.messages,
              std::vector<std::string>{"このサーバーはユーザー名とパスワードを求めています。"
                                       "サーバー登録でユーザー名とパスワードを設定してください\n"
                                       "'480 Read access denied'"});
}

TEST_F(NntpTlsInnTest,
       ACertificateForAnotherNameIsRefusedUntilTrustedAndAskedForAgainWhenItChanges) {
    // The name resolves to INN, whose certificate is for localhost and 127.0.0.1 only.
    SetNntpResolver([](const std::string& host) {
        return host == kWrongName ? std::vector<std::string>{"127.0.0.1"}
                                  : std::vector<std::string>{};
    });
    Register(kWrongName, NntpSecurity::Tls, kPassword);
    const std::string served = PemFingerprint(kTlsDir + "/cert.pem");
    auto begin = [&](std::string& message) {
        CNntpSocket socket;
        std::string code;
        const NntpStart start = BeginConversation(socket, kWrongName, code, message);
        if (start == NntpStart::Ready)
            EndConversation(socket);
        return start;
    };
    std::string message;

    // Not trusted: refused, with what the user was shown.
    m_trust = false;
    EXPECT_EQ(begin(message), NntpStart::Failed);
    EXPECT_EQ(message, "サーバーの証明書を信頼できないため、接続を中止しました\n"
                       "証明書がこのサーバーの名前のものではありません (hostname mismatch)");
    EXPECT_EQ(m_asked, std::vector<std::string>{kWrongName + ":563"});
    EXPECT_EQ(m_shown.subject, "CN=localhost,O=Quillo tests");
    EXPECT_EQ(m_shown.issuer, "CN=Quillo test CA,O=Quillo tests");
    EXPECT_EQ(m_shown.fingerprint, served);
    EXPECT_EQ(ReadServerConnection(m_ini, kWrongName).trustedFingerprint, "");

    // Trusted: the conversation goes on, and the certificate is remembered.
    m_trust = true;
    EXPECT_EQ(begin(message), NntpStart::Ready) << message;
    EXPECT_EQ(m_asked.size(), 2u);
    EXPECT_EQ(ReadServerConnection(m_ini, kWrongName).trustedFingerprint, served);
    EXPECT_EQ(begin(message), NntpStart::Ready) << message;
    EXPECT_EQ(m_asked.size(), 2u);

    // Another certificate was trusted before (the server's has changed since): asked again.
    ASSERT_TRUE(
        WriteTrustedCertificate(m_ini, kWrongName, PemFingerprint(kTlsDir + "/wrong-name.pem")));
    m_trust = false;
    EXPECT_EQ(begin(message), NntpStart::Failed);
    EXPECT_EQ(m_asked.size(), 3u);
    EXPECT_EQ(m_shown.fingerprint, served);
}

TEST_F(NntpTlsInnTest, TheCaSeamIsTheOnlyReasonTheTestCaIsTrusted) {
    EnvGuard noCa(kTlsCaFileVariable, "");
    Register(kServer, NntpSecurity::Tls, kPassword);
    CNntpSocket socket;
    std::string code, message;
    EXPECT_EQ(BeginConversation(socket, kServer, code, message), NntpStart::Failed);
    EXPECT_EQ(m_asked.size(), 1u);
    // INN sends the test CA along with its certificate.
    EXPECT_EQ(m_shown.verifyError, X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN);
}

} // namespace
