#include "store/SafeName.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct NameCase {
    std::string name;
    std::string suffix;
    std::string expected;
};

// Names the case readably in the test list: other bytes as \xNN, long names by their length.
std::ostream& operator<<(std::ostream& os, const NameCase& c) {
    std::string shown;
    for (unsigned char ch : c.name.substr(0, 8)) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", ch);
        shown += (ch >= 0x20 && ch < 0x7F) ? std::string(1, static_cast<char>(ch)) : hex;
    }
    if (c.name.size() > 8)
        shown += "...(" + std::to_string(c.name.size()) + " bytes)";
    return os << "\"" << shown << "\" + \"" << c.suffix << "\"";
}

// Expected hash digits come from `sha256sum`, not from the code under test.
const std::string kHash300a = "9835FA6BF4E20A9B9EA812506302E989";
const std::string kHash256a = "02D7160D77E18C6447BE80C2E355C7ED";
const std::string kHash252a = "03AAF5773717FEAE6F704BF2637AE0A9";
const std::string kHash300Slash = "094F3CE33C025998D1D35158AF98BF66";

const NameCase kNameCases[] = {
    // Safe names stay exactly as they are.
    {"abc@example.com", "", "abc@example.com"},
    {"abc@example.com", ".ntx", "abc@example.com.ntx"},
    {"fj.comp.misc", "", "fj.comp.misc"},
    {"news.example.co.jp", "", "news.example.co.jp"},
    {".hidden", "", ".hidden"},
    {"...", "", "..."},
    {"a b:c*?", "", "a b:c*?"},
    {"\x83\x41\x82\xa0", "", "\x83\x41\x82\xa0"},
    // Separators, the escape character and control bytes are escaped.
    {"../../x", "", "..%2F..%2Fx"},
    {"a/b", "", "a%2Fb"},
    {"a/b", ".ntx", "a%2Fb.ntx"},
    {"/", "", "%2F"},
    {"a\\b", "", "a%5Cb"},
    {"\x83\x5C", "", "\x83%5C"},
    {"a\x01z", "", "a%01z"},
    {"tab\there", "", "tab%09here"},
    {"line\r\n", "", "line%0D%0A"},
    {"del\x7F", "", "del%7F"},
    {"a\0b"s, "", "a%00b"},
    {"100%", "", "100%25"},
    {"a%2Fb", "", "a%252Fb"},
    // Whole names that mean something to the file system.
    {".", "", "%2E"},
    {"..", "", "%2E%2E"},
    {"", "", "%"},
    {"..", ".ntx", "...ntx"},
    {"", ".ntx", ".ntx"},
    // Lengths at and past the limit.
    {std::string(255, 'a'), "", std::string(255, 'a')},
    {std::string(251, 'a'), ".ntx", std::string(251, 'a') + ".ntx"},
    {std::string(256, 'a'), "", std::string(221, 'a') + "%~" + kHash256a},
    {std::string(252, 'a'), ".ntx", std::string(217, 'a') + "%~" + kHash252a + ".ntx"},
    {std::string(300, 'a'), "", std::string(221, 'a') + "%~" + kHash300a},
    {std::string(300, 'a'), ".ntx", std::string(217, 'a') + "%~" + kHash300a + ".ntx"},
    // 221 bytes of room hold 73 whole escapes; an escape is never split.
    {std::string(300, '/'), "",
     [] {
         std::string s;
         for (int i = 0; i < 73; ++i)
             s += "%2F";
         return s + "%~" + kHash300Slash;
     }()},
};

class SafeNameCases : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeNameCases, GivesExactComponent) {
    const NameCase& c = GetParam();
    const std::string got = SafeName(c.name, c.suffix);
    EXPECT_EQ(got, c.expected);
    EXPECT_LE(got.size(), kMaxFileNameBytes);
}

TEST_P(SafeNameCases, UncutComponentsGiveTheNameBack) {
    const NameCase& c = GetParam();
    const std::string got = SafeName(c.name, c.suffix);
    const auto back = OriginalName(got, c.suffix);
    if (got.find("%~") == std::string::npos) {
        ASSERT_TRUE(back.has_value()) << got;
        EXPECT_EQ(*back, c.name);
    } else {
        EXPECT_FALSE(back.has_value()) << got;
    }
}

INSTANTIATE_TEST_SUITE_P(Names, SafeNameCases, ::testing::ValuesIn(kNameCases));

// Names an attacker might send, including ones built to look like another name's escaped or cut
// form.
std::vector<std::string> HostileNames() {
    std::vector<std::string> names = {"../../x",
                                      "a/b",
                                      "a%2Fb",
                                      "a%2fb",
                                      "..",
                                      ".",
                                      "",
                                      "%",
                                      "%%",
                                      "%2E",
                                      "%2E%2E",
                                      "a\\b",
                                      "a%5Cb",
                                      "a\x01z",
                                      "a%01z",
                                      "a\0b"s,
                                      "a%00b",
                                      "\x7F",
                                      "/etc/passwd",
                                      "..\\..\\x",
                                      std::string(300, 'a'),
                                      std::string(300, 'a') + "b",
                                      std::string(299, 'a') + "/",
                                      std::string(301, 'a'),
                                      std::string(255, 'a'),
                                      std::string(256, 'a'),
                                      std::string(221, 'a') + "%~" + kHash300a,
                                      std::string(300, '/'),
                                      std::string(300, '%'),
                                      std::string(300, '.'),
                                      std::string(255, '.')};
    return names;
}

TEST(SafeName, HostileNamesNeverShareAComponentOrLeaveTheDirectory) {
    const std::vector<std::string> names = HostileNames();
    for (const std::string suffix : {"", ".ntx"}) {
        SCOPED_TRACE("suffix \"" + suffix + "\"");
        std::set<std::string> seen;
        for (const std::string& name : names) {
            const std::string got = SafeName(name, suffix);
            EXPECT_FALSE(got.empty());
            EXPECT_NE(got, ".");
            EXPECT_NE(got, "..");
            EXPECT_LE(got.size(), kMaxFileNameBytes);
            for (unsigned char ch : got) {
                EXPECT_NE(ch, '/') << got;
                EXPECT_NE(ch, '\\') << got;
                EXPECT_GE(ch, 0x20) << got;
                EXPECT_NE(ch, 0x7F) << got;
            }
            EXPECT_TRUE(seen.insert(got).second) << "shared component: " << got;
        }
    }
}

TEST(SafeName, EveryHostileNameMakesItsOwnFileInsideTheDirectory) {
    TestDir dir;
    const std::string inner = dir / "group";
    std::filesystem::create_directory(inner);
    const std::vector<std::string> names = HostileNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string path = inner + "/" + SafeName(names[i], ".ntx");
        ASSERT_TRUE(WriteWholeFile(path, std::to_string(i))) << path;
    }
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(inner)) {
        EXPECT_TRUE(entry.is_regular_file());
        ++count;
    }
    EXPECT_EQ(count, names.size());
    // Nothing escaped into the parent directory.
    std::size_t parentEntries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++parentEntries;
    EXPECT_EQ(parentEntries, 1u);
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(ReadWholeFile(inner + "/" + SafeName(names[i], ".ntx")), std::to_string(i));
}

TEST(SafeName, EveryByteValueRoundTrips) {
    std::set<std::string> seen;
    for (int b = 0; b < 256; ++b) {
        const std::string name = "x" + std::string(1, static_cast<char>(b)) + "y";
        const std::string got = SafeName(name);
        EXPECT_TRUE(seen.insert(got).second) << b;
        const auto back = OriginalName(got);
        ASSERT_TRUE(back.has_value()) << b;
        EXPECT_EQ(*back, name) << b;
    }
}

struct ForeignCase {
    std::string component;
    std::string suffix;
};

// Spellings SafeName never produces stand for no name.
const ForeignCase kForeignComponents[] = {
    {"a%2fb", ""}, {"%41", ""}, {"%", ".ntx"},   {"a%2", ""}, {"a%G0", ""},
    {"a/b", ""},   {"..", ""},  {"abc", ".ntx"}, {"", ""},
};

TEST(SafeName, ForeignSpellingsAreNotReversed) {
    for (const ForeignCase& c : kForeignComponents)
        EXPECT_FALSE(OriginalName(c.component, c.suffix).has_value()) << c.component;
}

TEST(SafeName, SuffixWithoutRoomOrWithSeparatorIsRefused) {
    // A cut name needs "%~" and 32 hash digits beside the suffix.
    EXPECT_EQ(SafeName("a", std::string(kMaxFileNameBytes - 33, 'x')), "");
    EXPECT_EQ(SafeName("a", std::string(kMaxFileNameBytes - 34, 'x')),
              "a" + std::string(kMaxFileNameBytes - 34, 'x'));
    EXPECT_EQ(SafeName("a", "/x"), "");
    EXPECT_EQ(SafeName("a", ".n\\x"), "");
}

} // namespace
