#include "settings/PasswordStore.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(PasswordStoreTest, LivesBesideTheSettingsFile) {
    EXPECT_EQ(PasswordFilePath("/home/u/quillo/quillo.ini"), "/home/u/quillo/quillo.pwd");
    EXPECT_EQ(PasswordFilePath("quillo.ini"), "./quillo.pwd");
}

TEST(PasswordStoreTest, KeepsPasswordsPerServerAndUserInAPrivateFile) {
    TestDir dir;
    CFilePasswordStore store(dir / "quillo.pwd");
    std::string password = "untouched";
    EXPECT_FALSE(store.Read("news.example", "alice", password));
    EXPECT_EQ(password, "untouched");

    ASSERT_TRUE(store.Write("news.example", "alice", "s3cret pass"));
    ASSERT_TRUE(store.Write("other.example", "alice", "other"));
    ASSERT_TRUE(store.Write("news.example", "bob", "b"));
    EXPECT_EQ(ModeOf(dir / "quillo.pwd"), 0600u);
    ASSERT_TRUE(store.Read("news.example", "alice", password));
    EXPECT_EQ(password, "s3cret pass");
    ASSERT_TRUE(store.Read("other.example", "alice", password));
    EXPECT_EQ(password, "other");

    ASSERT_TRUE(store.Remove("news.example", "alice"));
    EXPECT_FALSE(store.Read("news.example", "alice", password));
    ASSERT_TRUE(store.Read("news.example", "bob", password));
    EXPECT_EQ(password, "b");
    EXPECT_EQ(ReadWholeFile(dir / "quillo.pwd").find("s3cret"), std::string::npos);
}

TEST(PasswordStoreTest, AWiderModeIsTakenAwayBeforeAWrite) {
    TestDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "quillo.pwd", "[h]\r\nu=old\r\n"));
    ::chmod((dir / "quillo.pwd").c_str(), 0644);
    CFilePasswordStore store(dir / "quillo.pwd");
    ASSERT_TRUE(store.Write("h", "u", "new"));
    EXPECT_EQ(ModeOf(dir / "quillo.pwd"), 0600u);
    EXPECT_EQ(ReadWholeFile(dir / "quillo.pwd"), "[h]\r\nu=new\r\n");
}

TEST(PasswordStoreTest, RefusesWhatCannotBeStoredAndLeavesTheFile) {
    TestDir dir;
    CFilePasswordStore store(dir / "quillo.pwd");
    ASSERT_TRUE(store.Write("h", "u", "p"));
    EXPECT_FALSE(store.Write("h", "u", "line\r\nbreak"));
    EXPECT_FALSE(store.Write("h", "a=b", "p"));
    EXPECT_EQ(ReadWholeFile(dir / "quillo.pwd"), "[h]\nu=p\n");
    // A directory or a symbolic link in its place is not written through.
    TestDir other;
    ASSERT_EQ(::symlink((other / "target").c_str(), (dir / "link.pwd").c_str()), 0);
    CFilePasswordStore linked(dir / "link.pwd");
    EXPECT_FALSE(linked.Write("h", "u", "p"));
    EXPECT_EQ(ReadWholeFile(other / "target"), "");
}

} // namespace
