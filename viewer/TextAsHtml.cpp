#include "viewer/TextAsHtml.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::string_view kHeadOpen = "<!DOCTYPE html><html><head><meta charset=\"";
constexpr std::string_view kHeadClose =
    "\"><style>"
    "pre{margin:0;white-space:pre-wrap;word-wrap:break-word;content-visibility:auto}"
    "</style></head><body>";
constexpr std::string_view kSjis = "Shift_JIS";
constexpr std::string_view kTail = "</body></html>";
constexpr std::string_view kClose = "</pre>";

void AppendEscaped(std::string& out, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char* entity = c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : nullptr;
        if (!entity)
            continue;
        out.append(text, start, i - start);
        out.append(entity);
        start = i + 1;
    }
    out.append(text, start, std::string_view::npos);
}

} // namespace

std::string TextAsHtml(std::string_view text, std::string_view charset) {
    if (charset.empty())
        charset = kSjis;
    std::string out;
    out.reserve(text.size() + text.size() / 16 + kHeadOpen.size() + charset.size() +
                kHeadClose.size() + kTail.size());
    out.append(kHeadOpen);
    out.append(charset);
    out.append(kHeadClose);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.size();
        if (text.size() - pos > kTextBlockBytes) {
            const void* lf = std::memchr(text.data() + pos + kTextBlockBytes, '\n',
                                         text.size() - pos - kTextBlockBytes);
            if (lf)
                end = static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) + 1;
        }
        // Blocks out of sight are neither laid out nor painted until they come near; until
        // then each keeps the height of its lines (1.2 em each, the usual line height).
        const std::string_view block = text.substr(pos, end - pos);
        const auto lines = std::count(block.begin(), block.end(), '\n') + 1;
        out.append("<pre style=\"contain-intrinsic-size:auto ");
        out.append(std::to_string(lines * 12 / 10 + 1));
        out.append("em\">\n");
        AppendEscaped(out, block);
        out.append(kClose);
        pos = end;
    }
    out.append(kTail);
    return out;
}
