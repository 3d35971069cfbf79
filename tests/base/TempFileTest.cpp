#include "base/TempFile.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Points the temporary root at a fresh test directory for one test.
class TempFileTest : public ::testing::Test {
protected:
    void SetUp() override { SetTempRoot(m_root.Path()); }
    void TearDown() override { SetTempRoot(""); }

    std::string UsualDirectory() const { return m_root / ("quillo-" + std::to_string(geteuid())); }

    TestDir m_root;
};

struct stat LStat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

std::string DirName(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

TEST_F(TempFileTest, SuffixEndsTheName) {
    const std::string htm = GetTempFile(".htm");
    const std::string txt = GetTempFile(".txt");
    ASSERT_TRUE(htm.ends_with(".htm")) << htm;
    ASSERT_TRUE(txt.ends_with(".txt")) << txt;
    EXPECT_EQ(DirName(htm), UsualDirectory());
    EXPECT_EQ(LStat(htm).st_size, 0);
    EXPECT_TRUE(GetTempFile().ends_with(".tmp"));
    // A suffix cannot lead out of the directory.
    EXPECT_EQ(GetTempFile("/../x.htm"), "");
}

TEST_F(TempFileTest, TwoCallsGiveTwoEmptyFilesInThePrivateDirectory) {
    const std::string first = GetTempFile();
    const std::string second = GetTempFile();
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);

    for (const std::string& path : {first, second}) {
        const struct stat st = LStat(path);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
        EXPECT_EQ(st.st_size, 0) << path;
        EXPECT_EQ(st.st_uid, geteuid()) << path;
        EXPECT_EQ(st.st_mode & 077, 0u) << "others can read " << path;
        EXPECT_EQ(DirName(path), UsualDirectory());
    }

    const struct stat dir = LStat(UsualDirectory());
    EXPECT_TRUE(S_ISDIR(dir.st_mode));
    EXPECT_EQ(dir.st_mode & 07777, 0700u);
    EXPECT_EQ(PrivateTempDirectory(), UsualDirectory());
}

TEST_F(TempFileTest, LooseModeOfOurOwnDirectoryIsTightened) {
    ASSERT_EQ(mkdir(UsualDirectory().c_str(), 0755), 0);
    ASSERT_EQ(chmod(UsualDirectory().c_str(), 0755), 0);
    EXPECT_EQ(PrivateTempDirectory(), UsualDirectory());
    EXPECT_EQ(LStat(UsualDirectory()).st_mode & 07777, 0700u);
}

// Names another user could have planted at the directory's place.
enum class Plant { SymlinkToDirectory, DanglingSymlink, RegularFile };

class TempFilePlantTest : public TempFileTest, public ::testing::WithParamInterface<Plant> {};

TEST_P(TempFilePlantTest, PlantedNameIsNotUsed) {
    TestDir elsewhere;
    switch (GetParam()) {
    case Plant::SymlinkToDirectory:
        ASSERT_EQ(chmod(elsewhere.Path().c_str(), 0700), 0);
        ASSERT_EQ(symlink(elsewhere.Path().c_str(), UsualDirectory().c_str()), 0);
        break;
    case Plant::DanglingSymlink:
        ASSERT_EQ(symlink((elsewhere / "missing").c_str(), UsualDirectory().c_str()), 0);
        break;
    case Plant::RegularFile:
        ASSERT_TRUE(WriteWholeFile(UsualDirectory(), "x"));
        break;
    }

    const std::string file = GetTempFile();
    ASSERT_FALSE(file.empty());
    const std::string dir = DirName(file);
    EXPECT_NE(dir, UsualDirectory());
    EXPECT_EQ(dir.rfind(UsualDirectory() + "-", 0), 0u) << dir;

    const struct stat st = LStat(dir);
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << "not a real directory: " << dir;
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());

    // Nothing was created through the planted name, and later calls stay in the same place.
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.Path()));
    EXPECT_EQ(PrivateTempDirectory(), dir);
    EXPECT_EQ(DirName(GetTempFile()), dir);
}

INSTANTIATE_TEST_SUITE_P(Plants, TempFilePlantTest,
                         ::testing::Values(Plant::SymlinkToDirectory, Plant::DanglingSymlink,
                                           Plant::RegularFile),
                         [](const ::testing::TestParamInfo<Plant>& info) -> std::string {
                             switch (info.param) {
                             case Plant::SymlinkToDirectory:
                                 return "SymlinkToDirectory";
                             case Plant::DanglingSymlink:
                                 return "DanglingSymlink";
                             case Plant::RegularFile:
                                 return "RegularFile";
                             }
                             return "Unknown";
                         });

TEST(TempFileRoot, FollowsTmpdir) {
    TestDir root;
    SetTempRoot("");
    const char* old = getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", root.Path().c_str(), 1);
    const std::string dir = PrivateTempDirectory();
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_EQ(dir, root / ("quillo-" + std::to_string(geteuid())));
}

TEST(TempFileRoot, MissingRootGivesNoFile) {
    TestDir parent;
    SetTempRoot(parent / "absent");
    EXPECT_EQ(GetTempFile(), "");
    SetTempRoot("");
}

} // namespace
