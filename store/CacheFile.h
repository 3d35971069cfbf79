#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

// Writing one article into its cache file so that the cache file never holds less than the
// whole article: the article goes into a temporary file in the same directory, and only Commit
// renames it onto the cache file. A reply that was cut, a write that failed and a program that
// is killed in the middle all leave no cache file (a killed program leaves the temporary file,
// whose name, ".fetch-" and six characters, no cache file ever has).
//
//   CCacheFile cache(cachePath);
//   if (cache.Open()) {
//       if (FetchArticleToFile(socket, cache.File(), number) == ArticleReply::Whole)
//           cache.Commit();
//   } // without Commit, the temporary file is removed here
class CCacheFile {
public:
    explicit CCacheFile(std::string cachePath);
    ~CCacheFile();
    CCacheFile(const CCacheFile&) = delete;
    CCacheFile& operator=(const CCacheFile&) = delete;

    // Creates the temporary file beside the cache file. False when it cannot be created, or
    // when something other than a file (a directory, a link) stands in the cache file's place.
    bool Open();
    // The temporary file, open for writing; null before Open and after Commit or Discard.
    std::FILE* File() const { return m_file; }
    // Closes the temporary file and renames it onto the cache file, replacing one that is
    // there. Only a file that was written without error and is not empty is kept; true when the
    // cache file now holds it. The temporary file is gone afterwards either way.
    bool Commit();
    // Closes and removes the temporary file; the cache file is left as it was.
    void Discard();

private:
    std::string m_cachePath;
    std::string m_tempPath;
    std::FILE* m_file = nullptr;
};

// Whether a file of this name in a group directory is one of the temporary files above. One
// that a killed program left is removed once it is kLeftoverFetchAge old: no fetch is still
// writing it then.
bool IsFetchFileName(std::string_view name);
inline constexpr std::chrono::hours kLeftoverFetchAge{1};
