// The user profile in section ENVIRONMENT of the settings file.

#include "settings/UserSettings.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

class UserSettingsTest : public ::testing::Test {
protected:
    std::string Ini() const { return m_dir / "quillo.ini"; }
    TestDir m_dir;
};

TEST_F(UserSettingsTest, MissingFileReadsEmpty) {
    const CUserSettings s = ReadUserSettings(Ini());
    EXPECT_EQ(s.name, "");
    EXPECT_EQ(s.email, "");
    EXPECT_EQ(s.signature, "");
    EXPECT_FALSE(CheckUserSettings(Ini()));
}

TEST_F(UserSettingsTest, WriteStoresTheEscapedSignatureAndKeepsOtherLines) {
    ASSERT_TRUE(WriteWholeFile(Ini(), "[NNTPREG10]\nSelected=1\n; note\n"));
    ASSERT_TRUE(WriteUserSettings(Ini(), {"Taro", "taro@example.jp", "ab\r\nd=e"}));
    EXPECT_EQ(ReadWholeFile(Ini()), "[NNTPREG10]\nSelected=1\n; note\n[ENVIRONMENT]\n"
                                    "NAME=Taro\nEMAIL=taro@example.jp\nSIG=ab=0d=0ad=3de\n");
}

TEST_F(UserSettingsTest, JapaneseMultiLineSignatureRoundTrips) {
    // 山田太郎 / ---- / 署名 with a tab and a blank.
    const std::string sig = "\x8eR\x93\x63\x91\xbe\x98Y\r\n----\r\n\x8f\x90\x96\xbc\t x";
    ASSERT_TRUE(WriteUserSettings(Ini(), {"\x8eR\x93\x63", "a@b", sig}));
    EXPECT_EQ(ReadUserSettings(Ini()).signature, sig);
    const std::string stored = ReadWholeFile(Ini());
    const std::size_t at = stored.find("SIG=");
    ASSERT_NE(at, std::string::npos);
    const std::string value = stored.substr(at + 4, stored.size() - at - 5);
    for (char c : value)
        EXPECT_TRUE(c > 0x20 && c < 0x7F) << static_cast<int>(c);
}

TEST_F(UserSettingsTest, SignatureIsReadWholeNameAndEmailAreCut) {
    const std::string longSig(700, '\x82'); // escaped: 2,100 bytes
    const std::string longName(1500, 'n');
    ASSERT_TRUE(WriteUserSettings(Ini(), {longName, longName, longSig}));
    const CUserSettings s = ReadUserSettings(Ini());
    EXPECT_EQ(s.signature, longSig);
    EXPECT_EQ(s.name, std::string(1023, 'n'));
    EXPECT_EQ(s.email, std::string(1023, 'n'));
}

TEST_F(UserSettingsTest, EqualsWithoutHexDigitsStays) {
    ASSERT_TRUE(WriteWholeFile(Ini(), "[environment]\nsig=a=zz=4\n"));
    EXPECT_EQ(ReadUserSettings(Ini()).signature, "a=zz=4");
}

struct CheckCase {
    const char* name;
    const char* email;
    bool ok;
};

std::ostream& operator<<(std::ostream& os, const CheckCase& c) {
    return os << "NAME=\"" << c.name << "\" EMAIL=\"" << c.email << "\"";
}

class CheckUserSettingsTest : public UserSettingsTest,
                              public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckUserSettingsTest, NeedsNameAndEmail) {
    ASSERT_TRUE(WriteUserSettings(Ini(), {GetParam().name, GetParam().email, ""}));
    EXPECT_EQ(CheckUserSettings(Ini()), GetParam().ok);
}

INSTANTIATE_TEST_SUITE_P(Values, CheckUserSettingsTest,
                         ::testing::Values(CheckCase{"Taro", "t@x", true},
                                           CheckCase{" ", " ", true}, CheckCase{"Taro", "", false},
                                           CheckCase{"", "t@x", false}, CheckCase{"", "", false}));

} // namespace
