#include "store/CacheFile.h"

#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const TestDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

enum class End { Commit, Discard, Destroy };

struct CacheCase {
    const char* name;
    std::optional<std::string> before; // the cache file before; nothing: none
    std::string written;
    End end;
    bool committed;
    std::optional<std::string> after;
};

std::ostream& operator<<(std::ostream& os, const CacheCase& c) {
    return os << c.name;
}

class CacheFileTest : public ::testing::TestWithParam<CacheCase> {};

TEST_P(CacheFileTest, TheCacheFileChangesOnlyByACommitOfSomething) {
    const CacheCase& c = GetParam();
    TestDir dir;
    const std::string path = dir / "a@x.ntx";
    if (c.before)
        ASSERT_TRUE(WriteWholeFile(path, *c.before));
    {
        CCacheFile cache(path);
        ASSERT_TRUE(cache.Open());
        ASSERT_NE(cache.File(), nullptr);
        std::fwrite(c.written.data(), 1, c.written.size(), cache.File());
        // Nothing of it shows under the cache file's name before the commit.
        EXPECT_EQ(fs::exists(path), c.before.has_value());
        if (c.end == End::Commit)
            EXPECT_EQ(cache.Commit(), c.committed);
        else if (c.end == End::Discard)
            cache.Discard();
        EXPECT_EQ(cache.File() == nullptr, c.end != End::Destroy);
    }
    EXPECT_EQ(fs::exists(path), c.after.has_value());
    if (c.after)
        EXPECT_EQ(ReadWholeFile(path), *c.after);
    // No temporary file is left in any case.
    EXPECT_EQ(Names(dir),
              c.after ? std::vector<std::string>{"a@x.ntx"} : std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(
    Ends, CacheFileTest,
    ::testing::Values(
        CacheCase{"Committed", std::nullopt, "Subject: a\r\n", End::Commit, true, "Subject: a\r\n"},
        CacheCase{"EmptyIsNotKept", std::nullopt, "", End::Commit, false, std::nullopt},
        CacheCase{"Discarded", std::nullopt, "Subject: a\r\n", End::Discard, false, std::nullopt},
        CacheCase{"DestroyedWithoutCommit", std::nullopt, "Subject: a\r\n", End::Destroy, false,
                  std::nullopt},
        CacheCase{"CommitReplacesAnOldFile", "old\r\n", "new\r\n", End::Commit, true, "new\r\n"},
        CacheCase{"DiscardKeepsAnOldFile", "old\r\n", "new\r\n", End::Discard, false, "old\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CacheFile, NothingButAFileMayStandInItsPlace) {
    TestDir dir;
    fs::create_directory(dir / "dir.ntx");
    CCacheFile onDirectory(dir / "dir.ntx");
    EXPECT_FALSE(onDirectory.Open());
    fs::create_symlink(dir / "elsewhere", dir / "link.ntx");
    CCacheFile onLink(dir / "link.ntx");
    EXPECT_FALSE(onLink.Open());
    CCacheFile inMissingDirectory(dir / "missing/a.ntx");
    EXPECT_FALSE(inMissingDirectory.Open());
    EXPECT_FALSE(inMissingDirectory.Commit());
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"dir.ntx", "link.ntx"}));
}

} // namespace
