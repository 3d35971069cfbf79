#include "post/SaveFile.h"

#include "mime/Codec.h"

#include <cstdio>
#include <memory>

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The next line of text from pos, without its line end, when a line end follows; pos moves
// past the line end.
std::optional<std::string> NextLine(std::string_view text, std::size_t& pos) {
    std::size_t i = pos;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            std::string line(text.substr(pos, i - pos));
            pos = i + ((c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1);
            return line;
        }
        i += IsSjisLeadByte(static_cast<unsigned char>(c)) ? 2 : 1;
    }
    return std::nullopt;
}

} // namespace

std::string SaveFileBytes(const std::array<std::string, kSaveFileFields>& fields,
                          std::string_view body) {
    std::string bytes;
    for (const std::string& field : fields)
        bytes += field + "\r\n";
    bytes += body;
    bytes += "\r\n";
    return bytes;
}

CSaveFile ParseSaveFile(std::string_view bytes) {
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string_view::npos)
        bytes = bytes.substr(0, zero);
    CSaveFile file;
    std::size_t pos = 0;
    for (auto& field : file.fields) {
        field = NextLine(bytes, pos);
        if (!field)
            break;
    }
    file.body = std::string(bytes.substr(pos));
    return file;
}

std::optional<std::string> ReadTextFile(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return std::nullopt;
    std::string bytes;
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        bytes.append(chunk, n);
    if (std::ferror(file.get()))
        return std::nullopt;
    return bytes;
}

bool WriteTextFile(const std::string& path, std::string_view bytes) {
    std::FILE* raw = std::fopen(path.c_str(), "wb");
    if (!raw)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
    return std::fclose(raw) == 0 && written;
}
