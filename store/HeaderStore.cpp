#include "store/HeaderStore.h"

#include "settings/ProfileFile.h"
#include "store/DbTable.h"
#include "store/SafeName.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = x - 'A' + 'a';
        if (y >= 'A' && y <= 'Z')
            y = y - 'A' + 'a';
        if (x != y)
            return false;
    }
    return true;
}

// Scans every record of the group's table and keeps `field` of the last one whose NUM matches;
// the scan does not stop at a match, so the last match wins even when its value is empty.
std::optional<std::string> LookUpField(const std::string& baseDir, const std::string& server,
                                       const std::string& group, const std::string& number,
                                       const std::string& field) {
    std::string result;
    CDbTable table;
    if (!table.Open(kHeaderTable, HeaderDbPath(GroupDirectory(baseDir, server, group))))
        return std::nullopt;
    const int count = table.GetRecordCount();
    table.MoveTo(0);
    std::string num;
    for (int i = 0; i < count; ++i) {
        table.GetField("NUM", "", num);
        if (!num.empty() && EqualsIgnoringCase(num, number))
            table.GetField(field, "", result);
        table.MoveNext();
    }
    table.Close();
    if (result.empty())
        return std::nullopt;
    return result;
}

} // namespace

const std::vector<std::string>& HeaderFieldNames() {
    static const std::vector<std::string> fields = {"Num", "MESID", "FROM",  "SUB", "DATE",
                                                    "REF", "READ",  "MEDIA", "HIDE"};
    return fields;
}

std::string ServerDirectory(const std::string& baseDir, std::string_view server) {
    return baseDir + "/" + SafeName(server);
}

std::string GroupDirectory(const std::string& baseDir, std::string_view server,
                           std::string_view group) {
    return ServerDirectory(baseDir, server) + "/" + SafeName(group);
}

int CreateGroupDirectory(const std::string& baseDir, std::string_view server,
                         std::string_view group) {
    std::error_code ec;
    std::filesystem::create_directory(ServerDirectory(baseDir, server), ec);
    const std::string groupDir = GroupDirectory(baseDir, server, group);
    std::filesystem::create_directory(groupDir, ec);
    return std::filesystem::is_directory(groupDir, ec) ? 1 : 0;
}

std::string HeaderDbPath(const std::string& groupDir) {
    return groupDir + "/" + kHeaderDbFile;
}

std::string HeaderIniPath(const std::string& groupDir) {
    return groupDir + "/" + kHeaderIniFile;
}

int CreateHeaderTable(const std::string& groupDir) {
    return CreateDatabaseTable(kHeaderTable, HeaderFieldNames(), HeaderDbPath(groupDir));
}

void WriteHeaderCounters(const std::string& groupDir, int count, int min) {
    const std::string path = HeaderIniPath(groupDir);
    CProfileFile file;
    if (!file.Load(path))
        return;
    file.SetString(kHeaderSection, kHeaderCountKey, std::to_string(count));
    file.SetString(kHeaderSection, kHeaderMinKey, std::to_string(min));
    file.Save(path);
}

void WriteLastHeader(const std::string& groupDir, int number) {
    WriteProfileString(HeaderIniPath(groupDir), kHeaderSection, kLastHeaderKey,
                       std::to_string(number));
}

int ReadLastHeader(const std::string& groupDir) {
    const std::string value = ReadProfileString(HeaderIniPath(groupDir), kHeaderSection,
                                                kLastHeaderKey, "0", kLastHeaderBufferSize);
    // Read as the C library reads a number, without its overflow.
    const long number = std::strtol(value.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(number, INT_MIN, INT_MAX));
}

bool IsBracketedMessageId(std::string_view mesid) {
    return mesid.size() >= 2 && mesid.front() == '<' && mesid.back() == '>';
}

std::string CacheFileName(std::string_view mesid) {
    if (!mesid.empty() && mesid.front() == '<')
        mesid.remove_prefix(1);
    if (!mesid.empty() && mesid.back() == '>')
        mesid.remove_suffix(1);
    return SafeName(mesid, kCacheFileSuffix);
}

std::string CacheFilePath(const std::string& groupDir, std::string_view mesid) {
    return groupDir + "/" + CacheFileName(mesid);
}

bool IsArticleCached(const std::string& cachePath) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(cachePath, ec);
    if (ec)
        return false;
    if (size == 0) {
        std::filesystem::remove(cachePath, ec);
        return false;
    }
    return true;
}

std::optional<std::string> LookUpMessageId(const std::string& baseDir, const std::string& server,
                                           const std::string& group, const std::string& number) {
    return LookUpField(baseDir, server, group, number, "MESID");
}

std::optional<std::string> LookUpReference(const std::string& baseDir, const std::string& server,
                                           const std::string& group, const std::string& number) {
    return LookUpField(baseDir, server, group, number, "REF");
}
