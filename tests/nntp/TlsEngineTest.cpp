#include "nntp/TlsEngine.h"

#include "support/TestDir.h"
#include "support/TestTls.h"

#include <gtest/gtest.h>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <optional>
#include <ostream>

namespace {

template <typename Case>
requires requires(const Case& c) {
    c.name;
}
std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

// One CA for the whole file: making keys is the slow part.
const TestKeyCert& TestCa() {
    static const TestKeyCert ca = MakeTestCa("Quillo engine test CA");
    return ca;
}

// Carries bytes between the engine and the server until the handshake ends either way.
CTlsEngine::Progress RunHandshake(CTlsEngine& client, TestTlsServer& server) {
    for (int round = 0; round < 20; ++round) {
        const CTlsEngine::Progress progress = client.Handshake();
        server.PutNetworkBytes(client.TakeNetworkBytes());
        server.Handshake();
        if (progress != CTlsEngine::Progress::WantRead)
            return progress;
        client.PutNetworkBytes(server.TakeNetworkBytes());
    }
    return CTlsEngine::Progress::WantRead;
}

// ---- verification ----

enum class Issuer { TestCa, Self, OtherCa };

struct VerifyCase {
    const char* name;
    std::string host;
    TestCertOptions cert;
    Issuer issuer;
    bool trustCa; // the CA file seam names the test CA
    int trust;    // 0: no fingerprint, 1: this certificate's, 2: another one's
    CTlsEngine::Progress result;
    int verifyError;         // X509_V_OK when verification passed
    std::string reasonStart; // the Japanese part of the reason
};

class TlsVerifyTest : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(TlsVerifyTest, ChecksChainNameAndTrustedFingerprint) {
    const VerifyCase& c = GetParam();
    static const TestKeyCert otherCa = MakeTestCa("Quillo other CA");
    const TestKeyCert* issuer = c.issuer == Issuer::TestCa    ? &TestCa()
                                : c.issuer == Issuer::OtherCa ? &otherCa
                                                              : nullptr;
    const TestKeyCert identity = MakeTestServerCert(c.cert, issuer);
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "ca.pem", TestCa().certPem));
    EnvGuard env(kTlsCaFileVariable, c.trustCa ? dir / "ca.pem" : std::string());

    const std::string trusted = c.trust == 1   ? identity.fingerprint
                                : c.trust == 2 ? MakeTestServerCert({}, &TestCa()).fingerprint
                                               : std::string();
    CTlsEngine client;
    ASSERT_TRUE(client.Start(c.host, trusted)) << client.ErrorText();
    TestTlsServer server(identity);
    EXPECT_EQ(RunHandshake(client, server), c.result) << client.ErrorText();
    EXPECT_EQ(client.CertificateRejected(), c.result == CTlsEngine::Progress::Failed);
    const TlsCertificateInfo& info = client.Certificate();
    EXPECT_EQ(info.verifyError, c.verifyError);
    EXPECT_EQ(info.fingerprint, identity.fingerprint);
    EXPECT_EQ(info.subject, identity.subject);
    EXPECT_EQ(info.issuer, issuer ? "CN=" +
                                        std::string(issuer == &otherCa ? "Quillo other CA"
                                                                       : "Quillo engine test CA") +
                                        ",O=Quillo tests"
                                  : identity.subject);
    EXPECT_TRUE(info.reason.starts_with(c.reasonStart)) << info.reason;
    if (c.verifyError != X509_V_OK)
        EXPECT_NE(info.reason.find(X509_verify_cert_error_string(c.verifyError)),
                  std::string::npos);
}

const TestCertOptions kLocalhost{};
const TestCertOptions kOtherName{"news.example", {"DNS:news.example"}};
const TestCertOptions kExpired{"localhost", {"DNS:localhost"}, -30, -1};
const TestCertOptions kNotYetValid{"localhost", {"DNS:localhost"}, 2, 30};
const TestCertOptions kWildcard{"*.quillo.test", {"DNS:*.quillo.test"}};

using P = CTlsEngine::Progress;

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsVerifyTest,
    ::testing::Values(
        VerifyCase{"NameInChain", "localhost", kLocalhost, Issuer::TestCa, true, 0, P::Done,
                   X509_V_OK, ""},
        VerifyCase{"IpAddressInChain", "127.0.0.1", kLocalhost, Issuer::TestCa, true, 0, P::Done,
                   X509_V_OK, ""},
        VerifyCase{"WildcardName", "news.quillo.test", kWildcard, Issuer::TestCa, true, 0, P::Done,
                   X509_V_OK, ""},
        VerifyCase{"WildcardDoesNotCoverTwoLabels", "a.news.quillo.test", kWildcard, Issuer::TestCa,
                   true, 0, P::Failed, X509_V_ERR_HOSTNAME_MISMATCH,
                   "証明書がこのサーバーの名前のものではありません"},
        VerifyCase{"OtherName", "localhost", kOtherName, Issuer::TestCa, true, 0, P::Failed,
                   X509_V_ERR_HOSTNAME_MISMATCH, "証明書がこのサーバーの名前のものではありません"},
        VerifyCase{"OtherIpAddress", "127.0.0.2", kLocalhost, Issuer::TestCa, true, 0, P::Failed,
                   X509_V_ERR_IP_ADDRESS_MISMATCH,
                   "証明書がこのサーバーの名前のものではありません"},
        VerifyCase{"SelfSigned", "localhost", kLocalhost, Issuer::Self, true, 0, P::Failed,
                   X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "自己署名の証明書"},
        VerifyCase{"UnknownCa", "localhost", kLocalhost, Issuer::OtherCa, true, 0, P::Failed,
                   X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, "証明書の発行者が信頼できる"},
        VerifyCase{"TestCaWithoutTheSeam", "localhost", kLocalhost, Issuer::TestCa, false, 0,
                   P::Failed, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY,
                   "証明書の発行者が信頼できる"},
        VerifyCase{"Expired", "localhost", kExpired, Issuer::TestCa, true, 0, P::Failed,
                   X509_V_ERR_CERT_HAS_EXPIRED, "証明書の有効期限が切れています"},
        VerifyCase{"NotYetValid", "localhost", kNotYetValid, Issuer::TestCa, true, 0, P::Failed,
                   X509_V_ERR_CERT_NOT_YET_VALID, "証明書はまだ有効になっていません"},
        VerifyCase{"OtherNameTrustedByFingerprint", "localhost", kOtherName, Issuer::TestCa, true,
                   1, P::Done, X509_V_ERR_HOSTNAME_MISMATCH, "証明書がこのサーバー"},
        VerifyCase{"SelfSignedTrustedByFingerprint", "localhost", kLocalhost, Issuer::Self, true, 1,
                   P::Done, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "自己署名の証明書"},
        VerifyCase{"ChangedCertificateAsksAgain", "localhost", kOtherName, Issuer::TestCa, true, 2,
                   P::Failed, X509_V_ERR_HOSTNAME_MISMATCH, "証明書がこのサーバー"}));

// ---- sessions ----

TEST(TlsEngineTest, CarriesDataBothWaysAndSeesTheClose) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "ca.pem", TestCa().certPem));
    EnvGuard env(kTlsCaFileVariable, dir / "ca.pem");
    CTlsEngine client;
    ASSERT_TRUE(client.Start("localhost", ""));
    TestTlsServer server(MakeTestServerCert({}, &TestCa()));
    ASSERT_EQ(RunHandshake(client, server), P::Done) << client.ErrorText();
    EXPECT_TRUE(client.HandshakeDone());
    EXPECT_FALSE(client.CertificateRejected());
    EXPECT_EQ(client.ProtocolVersion(), "TLSv1.3");

    // More than one TLS record each way.
    std::string big;
    for (int i = 0; big.size() < 100000; ++i)
        big += "line " + std::to_string(i) + "\r\n";
    ASSERT_TRUE(client.Write("GROUP local.test\r\n"));
    ASSERT_TRUE(client.Write(big));
    const std::string wire = client.TakeNetworkBytes();
    EXPECT_EQ(wire.find("GROUP"), std::string::npos); // nothing in clear on the wire
    server.PutNetworkBytes(wire);
    EXPECT_EQ(server.ReadAvailable(), "GROUP local.test\r\n" + big);

    server.Write("211 3 1 3 local.test\r\n");
    server.Write(big);
    server.Shutdown();
    const std::string reply = server.TakeNetworkBytes();
    std::string plain;
    // Half of it first: what can be decrypted comes, then the engine waits for more.
    client.PutNetworkBytes(reply.substr(0, reply.size() / 2));
    EXPECT_EQ(client.ReadAvailable(plain), CTlsEngine::Read::Data);
    EXPECT_EQ(client.ReadAvailable(plain), CTlsEngine::Read::WantRead);
    client.PutNetworkBytes(reply.substr(reply.size() / 2));
    EXPECT_EQ(client.ReadAvailable(plain), CTlsEngine::Read::Data);
    EXPECT_EQ(plain, "211 3 1 3 local.test\r\n" + big);
    EXPECT_EQ(client.ReadAvailable(plain), CTlsEngine::Read::Closed);
}

TEST(TlsEngineTest, RefusesAServerOlderThanTls12) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "ca.pem", TestCa().certPem));
    EnvGuard env(kTlsCaFileVariable, dir / "ca.pem");
    CTlsEngine client;
    ASSERT_TRUE(client.Start("localhost", ""));
    TestTlsServer server(MakeTestServerCert({}, &TestCa()), TLS1_1_VERSION);
    EXPECT_EQ(RunHandshake(client, server), P::Failed);
    EXPECT_FALSE(client.CertificateRejected());
    EXPECT_FALSE(client.ErrorText().empty());
    EXPECT_FALSE(client.HandshakeDone());
}

TEST(TlsEngineTest, SpeaksTls12WhenThatIsAllTheServerHas) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "ca.pem", TestCa().certPem));
    EnvGuard env(kTlsCaFileVariable, dir / "ca.pem");
    CTlsEngine client;
    ASSERT_TRUE(client.Start("localhost", ""));
    TestTlsServer server(MakeTestServerCert({}, &TestCa()), TLS1_2_VERSION);
    EXPECT_EQ(RunHandshake(client, server), P::Done) << client.ErrorText();
    EXPECT_EQ(client.ProtocolVersion(), "TLSv1.2");
}

TEST(TlsEngineTest, AMissingCaFileIsAnErrorNotASilentFallback) {
    EnvGuard env(kTlsCaFileVariable, "/nonexistent/quillo-ca.pem");
    CTlsEngine client;
    EXPECT_FALSE(client.Start("localhost", ""));
    EXPECT_NE(client.ErrorText().find("/nonexistent/quillo-ca.pem"), std::string::npos);
}

TEST(TlsEngineTest, ServerThatClosesDuringTheHandshakeFails) {
    CTlsEngine client;
    ASSERT_TRUE(client.Start("localhost", ""));
    EXPECT_EQ(client.Handshake(), P::WantRead);
    EXPECT_FALSE(client.TakeNetworkBytes().empty()); // the ClientHello
    client.PutNetworkBytes("500 not TLS\r\n");
    EXPECT_EQ(client.Handshake(), P::Failed);
    EXPECT_FALSE(client.CertificateRejected());
    std::string plain;
    EXPECT_FALSE(client.Write("QUIT\r\n"));
    EXPECT_EQ(client.ReadAvailable(plain), CTlsEngine::Read::Failed);
}

} // namespace
