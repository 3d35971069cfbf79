#include "store/ServerConnection.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>

namespace {

const std::string kOldIni = "[NNTPREG10]\r\nCount=1\r\nSelected=1\r\n"
                            "[ServerList]\r\n0=news.example\r\n"
                            "[news.example]\r\nCount=2\r\n"
                            "[SELECTION]\r\n0=news.example,fj.test\r\n";

TEST(ServerConnectionTest, AServerWithoutSettingsReadsAsPlainNntpOnTheDefaultPort) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "quillo.ini", kOldIni));
    EXPECT_EQ(ReadServerConnection(dir / "quillo.ini", "news.example"), ServerConnection{});
    EXPECT_EQ(ReadServerConnection(dir / "missing.ini", "news.example"), ServerConnection{});
}

TEST(ServerConnectionTest, DefaultsWriteNothing) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "quillo.ini", kOldIni));
    EXPECT_TRUE(WriteServerConnection(dir / "quillo.ini", "news.example", ServerConnection{}));
    EXPECT_EQ(ReadWholeFile(dir / "quillo.ini"), kOldIni);
}

TEST(ServerConnectionTest, SettingsGoToASectionOfTheirOwnAndLeaveEveryOtherLine) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "quillo.ini", kOldIni));
    ServerConnection c;
    c.port = 563;
    c.security = NntpSecurity::Tls;
    c.user = "alice";
    c.allowPlainLogin = false;
    ASSERT_TRUE(WriteServerConnection(dir / "quillo.ini", "news.example", c));
    EXPECT_EQ(ReadWholeFile(dir / "quillo.ini"),
              kOldIni + "[NNTPCONN news.example]\r\nPort=563\r\nSecurity=tls\r\nUser=alice\r\n"
                        "AllowPlainLogin=0\r\nTrustedCertificate=\r\n");
    EXPECT_EQ(ReadServerConnection(dir / "quillo.ini", "news.example"), c);
    // Another server's settings are apart; the host compares without regard to case.
    EXPECT_EQ(ReadServerConnection(dir / "quillo.ini", "other.example"), ServerConnection{});
    EXPECT_EQ(ReadServerConnection(dir / "quillo.ini", "NEWS.example"), c);

    // Back to the defaults: the section stays, saying so.
    ASSERT_TRUE(WriteServerConnection(dir / "quillo.ini", "news.example", ServerConnection{}));
    EXPECT_EQ(ReadServerConnection(dir / "quillo.ini", "news.example"), ServerConnection{});
}

TEST(ServerConnectionTest, TrustedCertificateIsStoredAlone) {
    TestDir dir;
    ServerConnection c;
    c.security = NntpSecurity::StartTls;
    c.user = "bob";
    c.allowPlainLogin = true;
    ASSERT_TRUE(WriteServerConnection(dir / "quillo.ini", "news.example", c));
    ASSERT_TRUE(WriteTrustedCertificate(dir / "quillo.ini", "news.example", "AB:CD"));
    c.trustedFingerprint = "AB:CD";
    EXPECT_EQ(ReadServerConnection(dir / "quillo.ini", "news.example"), c);
}

struct ValueCase {
    const char* stored;
    int port;
    NntpSecurity security;
};

TEST(ServerConnectionTest, OddStoredValuesReadAsDefaults) {
    const ValueCase cases[] = {
        {"Port=abc\r\nSecurity=bogus\r\n", 0, NntpSecurity::None},
        {"Port=70000\r\nSecurity=TLS\r\n", 0, NntpSecurity::Tls},
        {"Port=-5\r\nSecurity=StartTLS\r\n", 0, NntpSecurity::StartTls},
        {"Port=8119\r\nSecurity=none\r\n", 8119, NntpSecurity::None},
    };
    for (const ValueCase& c : cases) {
        TestDir dir;
        ASSERT_TRUE(WriteWholeFile(dir / "quillo.ini", std::string("[NNTPCONN h]\r\n") + c.stored));
        const ServerConnection read = ReadServerConnection(dir / "quillo.ini", "h");
        EXPECT_EQ(read.port, c.port) << c.stored;
        EXPECT_EQ(read.security, c.security) << c.stored;
    }
}

} // namespace
