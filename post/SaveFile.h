#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

// The file "一時保存" writes and "読み込み" reads: the server, newsgroup, reply-source subject,
// references and subject fields, one line each with CR LF, then the body exactly as the editor
// holds it and one CR LF. Shift_JIS; lines of any length.

inline constexpr std::size_t kSaveFileFields = 5;

struct CSaveFile {
    // The fields in file order; a field whose line could not be read stays empty (nullopt).
    std::array<std::optional<std::string>, kSaveFileFields> fields;
    // Everything after the last field line read.
    std::string body;
};

std::string SaveFileBytes(const std::array<std::string, kSaveFileFields>& fields,
                          std::string_view body);

// Reads up to five lines (only lines with a line end count; CR LF, CR or LF) and takes the rest
// as the body. The text ends at its first zero byte.
CSaveFile ParseSaveFile(std::string_view bytes);

// The whole file; nothing when it cannot be opened or read.
std::optional<std::string> ReadTextFile(const std::string& path);
// Creates or truncates the file and writes bytes; false on any failure.
bool WriteTextFile(const std::string& path, std::string_view bytes);
