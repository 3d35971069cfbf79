#include "settings/ProfileFile.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

using namespace std::string_literals;

// Names in the directory, so that a test sees a temporary file left behind.
std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// --- reading ---------------------------------------------------------------------------------

// Written by hand as a user or another program might have left it.
const std::string kSample = "; settings\n"
                            "orphan=before any section\n"
                            "[NNTPREG10]\n"
                            "count=3\n"
                            "  Spaced Key  =  value with blanks  \n"
                            "equals=a=b=c\n"
                            "empty=\n"
                            ";hidden=comment\n"
                            "no equals sign here\n"
                            "dup=first\n"
                            "DUP=second\n"
                            "sjis=\x95\x5c\x8e\xa6\x82\xa0\n"
                            "long=0123456789\n"
                            "\n"
                            "[ ServerList ]\n"
                            "1=news.example.com\n"
                            "[nntpreg10]\n"
                            "count=from the second section\n"
                            "[\x83\x41]\n" // katakana A: lead byte, then 'A'
                            "key=in A\n"
                            "[CRLF]\r\n"
                            "k=crlf value\r\n";

struct ReadCase {
    const char* what;
    std::string section;
    std::string key;
    std::string def;
    std::size_t size;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const ReadCase& c) {
    return os << c.what;
}

class ReadProfileTest : public ::testing::TestWithParam<ReadCase> {
protected:
    TestDir m_dir;
};

TEST_P(ReadProfileTest, ReadsSample) {
    const ReadCase& c = GetParam();
    std::string path = m_dir / "quillo.ini";
    ASSERT_TRUE(WriteWholeFile(path, kSample));
    EXPECT_EQ(ReadProfileString(path, c.section, c.key, c.def, c.size), c.expected);
    EXPECT_EQ(ReadWholeFile(path), kSample);
}

INSTANTIATE_TEST_SUITE_P(
    Sample, ReadProfileTest,
    ::testing::Values(
        ReadCase{"exact names", "NNTPREG10", "count", "d", 1024, "3"},
        ReadCase{"section in other case", "nntpReg10", "count", "d", 1024, "3"},
        ReadCase{"key in other case", "NNTPREG10", "COUNT", "d", 1024, "3"},
        ReadCase{"blanks around names, value untrimmed", "NNTPREG10", "spaced key", "d", 1024,
                 "  value with blanks  "},
        ReadCase{"blanks around section name", "serverlist", "1", "d", 1024, "news.example.com"},
        ReadCase{"value holds '='", "NNTPREG10", "equals", "d", 1024, "a=b=c"},
        ReadCase{"present but empty", "NNTPREG10", "empty", "d", 1024, ""},
        ReadCase{"comment is no key", "NNTPREG10", ";hidden", "d", 1024, "d"},
        ReadCase{"line without '='", "NNTPREG10", "no equals sign here", "d", 1024, "d"},
        ReadCase{"first of two keys", "NNTPREG10", "dup", "d", 1024, "first"},
        ReadCase{"shift_jis value", "NNTPREG10", "sjis", "d", 1024, "\x95\x5c\x8e\xa6\x82\xa0"},
        ReadCase{"key before any section", "", "orphan", "d", 1024, "d"},
        ReadCase{"missing key", "NNTPREG10", "nothing", "default", 1024, "default"},
        ReadCase{"missing section", "NOSECTION", "count", "default", 1024, "default"},
        ReadCase{"trail byte not folded", "\x83\x61", "key", "d", 1024, "d"},
        ReadCase{"shift_jis section", "\x83\x41", "KEY", "d", 1024, "in A"},
        ReadCase{"crlf line break not in value", "crlf", "k", "d", 1024, "crlf value"},
        ReadCase{"value cut", "NNTPREG10", "long", "d", 5, "0123"},
        ReadCase{"value just fits", "NNTPREG10", "long", "d", 11, "0123456789"},
        ReadCase{"value one over", "NNTPREG10", "long", "d", 10, "012345678"},
        ReadCase{"cut splits a character", "NNTPREG10", "sjis", "d", 4, "\x95\x5c\x8e"},
        ReadCase{"buffer of one", "NNTPREG10", "long", "d", 1, ""},
        ReadCase{"buffer of none", "NNTPREG10", "long", "d", 0, ""},
        ReadCase{"default cut too", "NNTPREG10", "nothing", "default", 4, "def"},
        ReadCase{"default kept whole", "NNTPREG10", "nothing", " def ", 6, " def "}));

TEST(ReadProfile, MissingFileGivesTheDefault) {
    TestDir dir;
    EXPECT_EQ(ReadProfileString(dir / "none.ini", "S", "k", "fallback", 1024), "fallback");
    EXPECT_EQ(ReadProfileString(dir / "none.ini", "S", "k", "fallback", 5), "fall");
    EXPECT_EQ(ReadProfileString(dir / "no/dir/none.ini", "S", "k", "", 1024), "");
    EXPECT_TRUE(Listing(dir.Path()).empty());
}

// --- writing ---------------------------------------------------------------------------------

struct WriteCase {
    const char* what;
    std::string before; // file contents; "<none>" for no file
    std::string section;
    std::string key;
    std::string value;
    std::string after;
};

std::ostream& operator<<(std::ostream& os, const WriteCase& c) {
    return os << c.what;
}

class WriteProfileTest : public ::testing::TestWithParam<WriteCase> {
protected:
    TestDir m_dir;
};

TEST_P(WriteProfileTest, WritesExactFile) {
    const WriteCase& c = GetParam();
    std::string path = m_dir / "quillo.ini";
    if (c.before != "<none>") {
        ASSERT_TRUE(WriteWholeFile(path, c.before));
    }
    ASSERT_TRUE(WriteProfileString(path, c.section, c.key, c.value));
    EXPECT_EQ(ReadWholeFile(path), c.after);
    EXPECT_EQ(ReadProfileString(path, c.section, c.key, "<def>", 4096), c.value);
    EXPECT_EQ(Listing(m_dir.Path()), std::vector<std::string>{"quillo.ini"});
}

const std::string kBefore = "; my settings\n"
                            "[A]\n"
                            "x=1\n"
                            "Key=old\n"
                            "y=2\n"
                            "\n"
                            "; about B\n"
                            "[B]\n"
                            "z=3\n";

INSTANTIATE_TEST_SUITE_P(
    Files, WriteProfileTest,
    ::testing::Values(
        WriteCase{"new file", "<none>", "ENVIRONMENT", "NAME", "Taro",
                  "[ENVIRONMENT]\nNAME=Taro\n"},
        WriteCase{"replace in place, key keeps its spelling", kBefore, "a", "KEY", "new",
                  "; my settings\n[A]\nx=1\nKey=new\ny=2\n\n; about B\n[B]\nz=3\n"},
        WriteCase{"new key after the section's last key", kBefore, "A", "w", "4",
                  "; my settings\n[A]\nx=1\nKey=old\ny=2\nw=4\n\n; about B\n[B]\nz=3\n"},
        WriteCase{"new key in the last section", kBefore, "b", "v", "5",
                  "; my settings\n[A]\nx=1\nKey=old\ny=2\n\n; about B\n[B]\nz=3\nv=5\n"},
        WriteCase{"new section at the end", kBefore, "C", "k", "v", kBefore + "[C]\nk=v\n"},
        WriteCase{"empty value", kBefore, "B", "z", "",
                  "; my settings\n[A]\nx=1\nKey=old\ny=2\n\n; about B\n[B]\nz=\n"},
        WriteCase{"key in an empty section", "[E]\n[F]\nf=1\n", "e", "k", "v",
                  "[E]\nk=v\n[F]\nf=1\n"},
        WriteCase{"first of two sections", "[S]\na=1\n[s]\nb=2\n", "S", "b", "3",
                  "[S]\na=1\nb=3\n[s]\nb=2\n"},
        WriteCase{"file without final line break", "[S]\na=1", "S", "b", "2", "[S]\na=1\nb=2\n"},
        WriteCase{"crlf file keeps crlf", "[S]\r\na=1\r\n", "S", "b", "2", "[S]\r\na=1\r\nb=2\r\n"},
        WriteCase{"blanks around the new names dropped", "<none>", " S ", " k ", " v ",
                  "[S]\nk= v \n"},
        WriteCase{"shift_jis and '=' kept", "<none>", "S", "k", "\x95\x5c=\x82\xa0 ;[x]",
                  "[S]\nk=\x95\x5c=\x82\xa0 ;[x]\n"},
        WriteCase{"blank lines and comments kept", "\n;c\n\n[S]\n;c2\nk=1\n\n\n", "S", "k", "2",
                  "\n;c\n\n[S]\n;c2\nk=2\n\n\n"}));

struct RejectCase {
    const char* what;
    std::string section;
    std::string key;
    std::string value;
};

std::ostream& operator<<(std::ostream& os, const RejectCase& c) {
    return os << c.what;
}

class RejectTest : public ::testing::TestWithParam<RejectCase> {};

TEST_P(RejectTest, UnstorableNamesAndValuesLeaveTheFile) {
    const RejectCase& c = GetParam();
    TestDir dir;
    std::string path = dir / "quillo.ini";
    ASSERT_TRUE(WriteWholeFile(path, kBefore));
    EXPECT_FALSE(WriteProfileString(path, c.section, c.key, c.value));
    EXPECT_EQ(ReadWholeFile(path), kBefore);
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"quillo.ini"});
}

INSTANTIATE_TEST_SUITE_P(Names, RejectTest,
                         ::testing::Values(RejectCase{"LF in value", "A", "x", "a\nb"},
                                           RejectCase{"CR in value", "A", "x", "a\rb"},
                                           RejectCase{"NUL in value", "A", "x", "a\0b"s},
                                           RejectCase{"'=' in key", "A", "a=b", "v"},
                                           RejectCase{"key like a section", "A", "[k]", "v"},
                                           RejectCase{"key like a comment", "A", ";k", "v"},
                                           RejectCase{"empty key", "A", " ", "v"},
                                           RejectCase{"']' in section", "A]", "k", "v"},
                                           RejectCase{"empty section", "", "k", "v"},
                                           RejectCase{"LF in section", "A\nB", "k", "v"}));

TEST(WriteProfile, ValuesReadBackExactly) {
    TestDir dir;
    std::string path = dir / "quillo.ini";
    const std::vector<std::string> values = {"",
                                             " lead",
                                             "trail ",
                                             "\tta b\t",
                                             "\"quoted\"",
                                             "a=b",
                                             "=",
                                             ";not a comment",
                                             "[not a section]",
                                             "\x82\xa0\x95\x5c\x83\x5c",
                                             std::string(5000, 'v')};
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_TRUE(WriteProfileString(path, "V", "k" + std::to_string(i), values[i]));
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(ReadProfileString(path, "v", "K" + std::to_string(i), "<def>", 8192), values[i])
            << "value " << i;
    }
}

TEST(WriteProfile, KeepsTheFileMode) {
    TestDir dir;
    std::string path = dir / "quillo.ini";
    ASSERT_TRUE(WriteWholeFile(path, kBefore));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(WriteProfileString(path, "A", "x", "9"));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// --- failed writes ---------------------------------------------------------------------------

TEST(WriteProfile, DirectoryThatIsAFileFails) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "plain", "not a directory\n"));
    EXPECT_FALSE(WriteProfileString(dir / "plain/quillo.ini", "S", "k", "v"));
    EXPECT_EQ(ReadWholeFile(dir / "plain"), "not a directory\n");
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"plain"});
}

TEST(WriteProfile, TargetThatIsADirectoryFails) {
    TestDir dir;
    std::filesystem::create_directory(dir / "quillo.ini");
    ASSERT_TRUE(WriteWholeFile(dir / "quillo.ini/inside", "x"));
    EXPECT_FALSE(WriteProfileString(dir / "quillo.ini", "S", "k", "v"));
    EXPECT_EQ(ReadWholeFile(dir / "quillo.ini/inside"), "x");
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"quillo.ini"});
    // The batch form refuses to replace it as well.
    CProfileFile file;
    ASSERT_TRUE(file.SetString("S", "k", "v"));
    EXPECT_FALSE(file.Save(dir / "quillo.ini"));
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"quillo.ini"});
}

// A file-size limit makes the write of the new contents fail half-way, even for root.
TEST(WriteProfile, WriteFailingHalfWayLeavesTheOldFile) {
    TestDir dir;
    std::string path = dir / "quillo.ini";
    ASSERT_TRUE(WriteWholeFile(path, kBefore));

    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = WriteProfileString(path, "A", "big", std::string(10000, 'b'));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadWholeFile(path), kBefore);
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"quillo.ini"});
}

TEST(WriteProfile, UnreadableFileIsNotReplaced) {
    TestDir dir;
    std::filesystem::create_directory(dir / "sub");
    // A directory opens but cannot be read as a file.
    EXPECT_FALSE(WriteProfileString(dir / "sub", "S", "k", "v"));
    CProfileFile file;
    EXPECT_FALSE(file.Load(dir / "sub"));
    EXPECT_TRUE(file.Load(dir / "missing.ini"));
}

// --- many keys at once -----------------------------------------------------------------------

TEST(ProfileFile, ManyKeysInOneSection) {
    TestDir dir;
    std::string path = dir / "quillo.ini";
    ASSERT_TRUE(WriteWholeFile(path, "[First]\na=1\n\n[Selection]\n\n[Last]\nz=26\n"));
    constexpr int kKeys = 100000;
    CProfileFile file;
    ASSERT_TRUE(file.Load(path));
    for (int i = 1; i <= kKeys; ++i) {
        ASSERT_TRUE(file.SetString("SELECTION", std::to_string(i), "g" + std::to_string(i)));
    }
    ASSERT_TRUE(file.SetString("selection", "50000", "changed"));
    ASSERT_TRUE(file.Save(path));

    std::string expected = "[First]\na=1\n\n[Selection]\n";
    for (int i = 1; i <= kKeys; ++i) {
        expected += std::to_string(i) + "=" + (i == 50000 ? "changed" : "g" + std::to_string(i));
        expected += "\n";
    }
    expected += "\n[Last]\nz=26\n";
    EXPECT_EQ(ReadWholeFile(path), expected);

    CProfileFile reread;
    ASSERT_TRUE(reread.Load(path));
    EXPECT_EQ(reread.GetString("Selection", "100000", ""), "g100000");
    EXPECT_EQ(reread.GetString("Selection", "100001", "none"), "none");
    std::string value;
    EXPECT_TRUE(reread.Find("LAST", "Z", value));
    EXPECT_EQ(value, "26");
    EXPECT_FALSE(reread.Find("Last", "y", value));
}

} // namespace
