#include "FuzzCheck.h"

#include "mime/Codec.h"

#include <cstdio>
#include <string>

// Reads the input as a file, line by line, and checks that every line is exactly the bytes it
// consumed minus one line end.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view input = AsText(data, size);
    std::string buffer(input);
    std::FILE* file = fmemopen(buffer.data(), buffer.size(), "rb");
    if (!file)
        return 0;

    std::size_t start = 0;
    while (const std::optional<std::string> line = ReadFileLine(file)) {
        const long position = std::ftell(file);
        Check(position >= 0 && static_cast<std::size_t>(position) <= size);
        const auto end = static_cast<std::size_t>(position);
        Check(end > start);
        const std::string_view consumed = input.substr(start, end - start);
        Check(line->size() <= kFileLineMax);
        Check(line->find('\0') == std::string::npos);
        Check(consumed.substr(0, line->size()) == *line);

        // No line end inside the line, except as the second byte of a pair.
        for (std::size_t i = 0; i < line->size(); ++i) {
            const auto b = static_cast<unsigned char>((*line)[i]);
            Check(b != '\r' && b != '\n');
            if (IsSjisLeadByte(b))
                ++i;
        }

        const std::string_view rest = consumed.substr(line->size());
        if (!rest.empty() && rest[0] == '\0') {
            // a zero taken in as a second byte ended the line early
            Check(!line->empty() && IsSjisLeadByte(static_cast<unsigned char>(line->back())));
        } else if (rest.empty()) {
            // cut at the length limit; the next byte, a pair's lead byte or not, starts the next
            Check(line->size() >= kFileLineMax - 1 && end < size);
            Check(input[end] != '\r' && input[end] != '\n');
        } else if (rest == "\r") {
            Check(end == size || input[end] != '\n');
        } else {
            Check(rest == "\n" || rest == "\r\n");
        }
        start = end;
    }
    std::fclose(file);
    return 0;
}
