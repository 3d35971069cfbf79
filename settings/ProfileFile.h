#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Settings files in the INI layout: "[section]" lines, then "key=value" lines.
//
// Section and key names compare without regard to ASCII letter case (the trail byte of a
// Shift_JIS character is never folded) and without the blanks around them. A value is every
// byte after the first "=" up to the end of its line, read back exactly as written: nothing
// is trimmed or unquoted. Lines that are not a section or a key ("; comments", blank lines)
// are kept as they are. Where a section or key occurs twice, the first occurrence counts.
//
// A value cannot hold CR, LF or NUL (they would end or break its line); a section name cannot
// hold "]" and a key name cannot hold "=" or begin with "[" or ";". Writing such a name or
// value fails and leaves the file untouched.

// A whole settings file in memory: load once, read and set many keys, save once.
class CProfileFile {
public:
    CProfileFile();
    ~CProfileFile();
    CProfileFile(CProfileFile&&) noexcept;
    CProfileFile& operator=(CProfileFile&&) noexcept;
    CProfileFile(const CProfileFile&) = delete;
    CProfileFile& operator=(const CProfileFile&) = delete;

    // Replaces the contents with the file's. A missing file loads as empty and succeeds; false
    // when the file exists but cannot be read (the contents are then empty).
    bool Load(const std::string& path);
    // Replaces the contents with these bytes, read as Load reads a file's.
    void LoadBytes(std::string_view bytes);

    // True when the key exists in the section; its value is then in value.
    bool Find(std::string_view section, std::string_view key, std::string& value) const;
    // The key's value, or def when the section or key is missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view def) const;

    // Sets the key, replacing its value in place, or adding the key after the last key of the
    // section, or adding the section at the end. False (nothing changed) for a name or value
    // that cannot be stored, see above.
    bool SetString(std::string_view section, std::string_view key, std::string_view value);

    // Writes the contents to path atomically: a temporary file beside it, then a rename. On
    // failure the file at path is left as it was and no temporary file remains.
    bool Save(const std::string& path) const;

    // The bytes Save would write.
    std::string ToBytes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The buffer sizes callers read with keep their C meaning: a value (or the default) longer
// than bufferSize - 1 bytes is cut there, counting bytes, so a cut may split a double-byte
// character. bufferSize 0 or 1 gives the empty string.
std::string CutToBuffer(std::string_view text, std::size_t bufferSize);

// The value of key in section of the file at path, or def when the file, section or key is
// missing; either cut to bufferSize - 1 bytes.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def, std::size_t bufferSize);

// Sets key in section of the file at path, creating file, section and key when missing, and
// replacing the file atomically. False when the file cannot be read or written or the name or
// value cannot be stored; the old file is then intact.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);
