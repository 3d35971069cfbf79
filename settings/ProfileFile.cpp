#include "settings/ProfileFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr mode_t kNewFileMode = 0644;

bool IsSjisLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

std::string_view TrimBlanks(std::string_view s) {
    std::size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
        return {};
    }
    std::size_t end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

// The form in which names are compared: blanks around them dropped, ASCII letters in upper
// case. The byte after a Shift_JIS lead byte belongs to its character and is left alone.
std::string FoldName(std::string_view name) {
    name = TrimBlanks(name);
    std::string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsSjisLeadByte(c)) {
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool StorableSection(std::string_view name) {
    return !TrimBlanks(name).empty() && !HasLineBreakOrNul(name) &&
           name.find(']') == std::string_view::npos;
}

bool StorableKey(std::string_view name) {
    std::string_view trimmed = TrimBlanks(name);
    return !trimmed.empty() && !HasLineBreakOrNul(name) &&
           name.find('=') == std::string_view::npos && trimmed.front() != '[' &&
           trimmed.front() != ';';
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, blanks around it dropped
    std::size_t equals = 0; // position of "=" in a key line
};

ParsedLine ParseLine(std::string_view line) {
    ParsedLine parsed;
    std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == ';') {
        return parsed;
    }
    if (trimmed.front() == '[') {
        std::string_view inner = trimmed.substr(1);
        std::size_t close = inner.find(']');
        parsed.kind = LineKind::Section;
        parsed.name = TrimBlanks(inner.substr(0, close));
        return parsed;
    }
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return parsed;
    }
    std::string_view key = TrimBlanks(line.substr(0, equals));
    if (key.empty()) {
        return parsed;
    }
    parsed.kind = LineKind::Key;
    parsed.name = key;
    parsed.equals = equals;
    return parsed;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

struct CProfileFile::Impl {
    struct Line {
        std::string m_text; // without its line break
        bool m_crlf = false;
    };
    // The lines of one section after its "[name]" line. The first section holds the lines
    // before any "[name]" line and has no name.
    struct Section {
        std::vector<Line> m_lines;
        std::unordered_map<std::string, std::size_t> m_keys; // folded name -> first line
        std::size_t m_afterLastKey = 0;                      // where a new key goes
        bool m_hasHeader = false;
        Line m_header;
    };

    std::vector<Section> m_sections{1};
    std::unordered_map<std::string, std::size_t> m_sectionIndex; // folded name -> first
    bool m_crlf = false; // line break of new lines: the file's first one

    void Clear() {
        m_sections.assign(1, Section{});
        m_sectionIndex.clear();
        m_crlf = false;
    }

    void AddLine(std::string_view text, bool crlf) {
        Line line{std::string(text), crlf};
        ParsedLine parsed = ParseLine(text);
        if (parsed.kind == LineKind::Section) {
            Section& section = m_sections.emplace_back();
            section.m_hasHeader = true;
            section.m_header = std::move(line);
            m_sectionIndex.try_emplace(FoldName(parsed.name), m_sections.size() - 1);
            return;
        }
        Section& section = m_sections.back();
        section.m_lines.push_back(std::move(line));
        if (parsed.kind == LineKind::Key) {
            section.m_keys.try_emplace(FoldName(parsed.name), section.m_lines.size() - 1);
            section.m_afterLastKey = section.m_lines.size();
        }
    }

    void Parse(std::string_view bytes) {
        Clear();
        bool first = true;
        while (!bytes.empty()) {
            std::size_t end = bytes.find('\n');
            std::string_view text = bytes.substr(0, end);
            bool crlf = false;
            if (end != std::string_view::npos && !text.empty() && text.back() == '\r') {
                text.remove_suffix(1);
                crlf = true;
            }
            if (first) {
                m_crlf = crlf;
                first = false;
            }
            AddLine(text, crlf);
            bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        }
    }

    const Section* FindSection(std::string_view name) const {
        auto it = m_sectionIndex.find(FoldName(name));
        return it == m_sectionIndex.end() ? nullptr : &m_sections[it->second];
    }
};

CProfileFile::CProfileFile() : m_impl(std::make_unique<Impl>()) {}
CProfileFile::~CProfileFile() = default;
CProfileFile::CProfileFile(CProfileFile&&) noexcept = default;
CProfileFile& CProfileFile::operator=(CProfileFile&&) noexcept = default;

bool CProfileFile::Load(const std::string& path) {
    m_impl->Clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    std::string bytes;
    char chunk[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (ok) {
        m_impl->Parse(bytes);
    }
    return ok;
}

void CProfileFile::LoadBytes(std::string_view bytes) {
    m_impl->Parse(bytes);
}

bool CProfileFile::Find(std::string_view section, std::string_view key, std::string& value) const {
    const Impl::Section* found = m_impl->FindSection(section);
    if (found == nullptr) {
        return false;
    }
    auto it = found->m_keys.find(FoldName(key));
    if (it == found->m_keys.end()) {
        return false;
    }
    const std::string& text = found->m_lines[it->second].m_text;
    value.assign(text, text.find('=') + 1);
    return true;
}

std::string CProfileFile::GetString(std::string_view section, std::string_view key,
                                    std::string_view def) const {
    std::string value;
    if (!Find(section, key, value)) {
        value.assign(def);
    }
    return value;
}

bool CProfileFile::SetString(std::string_view section, std::string_view key,
                             std::string_view value) {
    if (!StorableSection(section) || !StorableKey(key) || HasLineBreakOrNul(value)) {
        return false;
    }
    Impl& d = *m_impl;
    std::string sectionName = FoldName(section);
    auto found = d.m_sectionIndex.find(sectionName);
    if (found == d.m_sectionIndex.end()) {
        Impl::Section& added = d.m_sections.emplace_back();
        added.m_hasHeader = true;
        added.m_header = {"[" + std::string(TrimBlanks(section)) + "]", d.m_crlf};
        found = d.m_sectionIndex.emplace(std::move(sectionName), d.m_sections.size() - 1).first;
    }
    Impl::Section& target = d.m_sections[found->second];
    std::string keyName = FoldName(key);
    auto existing = target.m_keys.find(keyName);
    if (existing != target.m_keys.end()) {
        // The key keeps its spelling and the blanks around it; only the value changes.
        std::string& text = target.m_lines[existing->second].m_text;
        text.resize(text.find('=') + 1);
        text.append(value);
        return true;
    }
    // Only lines that are not keys follow the last key, so no key's position moves.
    std::string text = std::string(TrimBlanks(key)) + "=" + std::string(value);
    target.m_lines.insert(target.m_lines.begin() + target.m_afterLastKey,
                          Impl::Line{std::move(text), d.m_crlf});
    target.m_keys.emplace(std::move(keyName), target.m_afterLastKey);
    ++target.m_afterLastKey;
    return true;
}

std::string CProfileFile::ToBytes() const {
    std::string out;
    auto put = [&out](const Impl::Line& line) {
        out += line.m_text;
        out += line.m_crlf ? "\r\n" : "\n";
    };
    for (const Impl::Section& section : m_impl->m_sections) {
        if (section.m_hasHeader) {
            put(section.m_header);
        }
        for (const Impl::Line& line : section.m_lines) {
            put(line);
        }
    }
    return out;
}

bool CProfileFile::Save(const std::string& path) const {
    std::string bytes;
    try {
        bytes = ToBytes();
    } catch (...) {
        return false;
    }
    mode_t mode = kNewFileMode;
    struct stat old;
    if (::stat(path.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            return false;
        }
        mode = old.st_mode & 07777;
    }
    // Beside the file, so that the rename stays within one file system.
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
    }
    return ok;
}

std::string CutToBuffer(std::string_view text, std::size_t bufferSize) {
    if (bufferSize == 0) {
        return {};
    }
    return std::string(text.substr(0, bufferSize - 1));
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def, std::size_t bufferSize) {
    try {
        CProfileFile file;
        std::string value;
        if (file.Load(path) && file.Find(section, key, value)) {
            return CutToBuffer(value, bufferSize);
        }
        return CutToBuffer(def, bufferSize);
    } catch (...) {
        return {};
    }
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    try {
        CProfileFile file;
        return file.Load(path) && file.SetString(section, key, value) && file.Save(path);
    } catch (...) {
        return false;
    }
}
