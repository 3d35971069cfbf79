#include "FuzzCheck.h"

#include "base/TempFile.h"
#include "mime/ArticleParser.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

// Any bytes as a cached article: the header entry comes first, every entry stands for a file
// that exists, part numbers rise, and no more part files are written than the bound allows.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path =
        PrivateTempDirectory() + "/fuzz-article-" + std::to_string(::getpid()) + ".ntx";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    std::vector<CPartEntry> entries;
    bool leftOut = true;
    const int result = ParseArticle(path, entries, &leftOut);
    Check(result == 0 || result == 1);
    Check(!entries.empty() && entries[0] == (CPartEntry{kHeaderEntry, kPartTextFile}));
    Check(entries.size() <= static_cast<std::size_t>(kMaxPartFiles) + 1);
    if (result == 1)
        Check(entries.size() <= 2 && !leftOut);
    if (leftOut)
        Check(entries.size() == static_cast<std::size_t>(kMaxPartFiles) + 1);
    int lastPart = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CPartEntry& entry = entries[i];
        std::error_code ec;
        Check(std::filesystem::is_regular_file(PartFilePath(entry.m_text, entry.m_data), ec));
        if (i == 0 || entry.m_text == kBodyEntry)
            continue;
        const int part = std::atoi(entry.m_text.c_str());
        Check(part > lastPart);
        lastPart = part;
        const std::string number = std::to_string(part);
        Check(entry.m_text == number + " PlainText" + number ||
              entry.m_text == number + " HtmlText" + number);
    }
    return 0;
}
