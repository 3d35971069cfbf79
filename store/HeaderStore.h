#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The local store of one newsgroup: a directory per group beneath the base directory holding the
// header database, the counters file and one cache file per fetched article.
//
// Server host names, group names and Message-IDs become path components only through SafeName,
// so no name from the network can reach outside the base directory or the group directory.

inline constexpr char kHeaderTable[] = "Header";
inline constexpr char kHeaderDbFile[] = "header.mdb";
inline constexpr char kHeaderIniFile[] = "header.ini";
inline constexpr char kCacheFileSuffix[] = ".ntx";

// Counters file: section and keys.
inline constexpr char kHeaderSection[] = "HEADER";
inline constexpr char kHeaderCountKey[] = "count";
inline constexpr char kHeaderMinKey[] = "MIN";
inline constexpr char kLastHeaderKey[] = "LASTHEADER";
// LASTHEADER is read into a buffer of this size.
inline constexpr std::size_t kLastHeaderBufferSize = 128;

// The fields of the table "Header", in the order they are created.
const std::vector<std::string>& HeaderFieldNames();

// baseDir + "/" + server, the server's own directory.
std::string ServerDirectory(const std::string& baseDir, std::string_view server);
// baseDir + "/" + server + "/" + group; the dotted group name is one directory.
std::string GroupDirectory(const std::string& baseDir, std::string_view server,
                           std::string_view group);
// Creates the server directory and the group directory inside it; existing ones are used as
// they are. 1 when the group directory exists afterwards.
int CreateGroupDirectory(const std::string& baseDir, std::string_view server,
                         std::string_view group);

std::string HeaderDbPath(const std::string& groupDir);
std::string HeaderIniPath(const std::string& groupDir);

// Makes sure the table "Header" with its nine fields exists in the group's header database; an
// existing table is left untouched. The result of CreateDatabaseTable.
int CreateHeaderTable(const std::string& groupDir);

// Writes "count" and then "MIN" at the start of a header download. Failures are not reported:
// a missing file or key simply reads as 0.
void WriteHeaderCounters(const std::string& groupDir, int count, int min);
// Writes "LASTHEADER" after a header was stored.
void WriteLastHeader(const std::string& groupDir, int number);
// "LASTHEADER" as a number; 0 when the file or the key is missing.
int ReadLastHeader(const std::string& groupDir);

// True when the Message-ID is written "<...>"; only such IDs have their cache file looked for
// when the header tree is filled.
bool IsBracketedMessageId(std::string_view mesid);
// The cache file name of a Message-ID: one leading "<" and one trailing ">" removed when
// present, then ".ntx" (made safe: "<abc@example.com>" gives "abc@example.com.ntx").
std::string CacheFileName(std::string_view mesid);
// groupDir + "/" + CacheFileName(mesid).
std::string CacheFilePath(const std::string& groupDir, std::string_view mesid);
// Whether the article is cached. An empty cache file is a fetch that produced nothing: it is
// deleted first, and the article counts as not fetched.
bool IsArticleCached(const std::string& cachePath);

// The MESID (or REF) of the last record of the group's table whose NUM equals number, ignoring
// letter case, read whole; nothing when that value is empty or the table cannot be opened.
std::optional<std::string> LookUpMessageId(const std::string& baseDir, const std::string& server,
                                           const std::string& group, const std::string& number);
std::optional<std::string> LookUpReference(const std::string& baseDir, const std::string& server,
                                           const std::string& group, const std::string& number);
