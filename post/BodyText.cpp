#include "post/BodyText.h"

#include "base/AsciiCase.h"
#include "mime/Codec.h"

namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kBreakTag = "<BR>";
constexpr std::string_view kQuoteMark = " > ";

std::string_view UpToZero(std::string_view text) {
    const std::size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// Position of the first "<BR>" at or after from, any letter case; npos when there is none.
std::size_t FindBreakTag(std::string_view text, std::size_t from) {
    for (std::size_t lt = text.find('<', from); lt != std::string_view::npos;
         lt = text.find('<', lt + 1)) {
        if (StartsWithNoCase(text.substr(lt), kBreakTag))
            return lt;
    }
    return std::string_view::npos;
}

} // namespace

std::vector<std::string> SplitTextLines(std::string_view text) {
    text = UpToZero(text);
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            i += IsSjisLeadByte(static_cast<unsigned char>(c)) ? 2 : 1;
        }
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string WithFinalLineBreak(std::string text) {
    if (!text.empty() && text.back() != '\n' && text.back() != '\r')
        text += kLineBreak;
    return text;
}

std::string StripHtmlTags(std::string_view body) {
    body = UpToZero(body);
    std::string out;
    bool inTag = false;
    std::size_t start = 0;
    while (start < body.size()) {
        // A line as the editor holds it: up to and including its LF.
        const std::size_t lf = body.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? body.size() : lf + 1;
        std::string line(body.substr(start, end - start));
        start = end;

        if (inTag) {
            const std::size_t gt = line.find('>');
            if (gt == std::string::npos)
                continue;
            line.erase(0, gt + 1);
            inTag = false;
        }
        bool endsWithBreak = false;
        for (std::size_t lt = line.find('<'); lt != std::string::npos; lt = line.find('<')) {
            const std::size_t gt = line.find('>', lt);
            if (gt == std::string::npos) {
                line.resize(lt);
                inTag = true;
                break;
            }
            if (EqualsNoCase(std::string_view(line).substr(lt), "<BR>\r\n")) {
                line.erase(lt, kBreakTag.size());
                endsWithBreak = true;
            } else {
                line.erase(lt, gt - lt + 1);
            }
        }
        if (!endsWithBreak && line.size() >= 2 && line[line.size() - 2] == '\r')
            line.resize(line.size() - 2);
        out += line;
    }
    return out;
}

std::string LoadBodyText(std::string_view content, bool quote) {
    std::string body;
    body.reserve(content.size() + content.size() / 8);
    for (const std::string& line : SplitTextLines(content)) {
        if (quote)
            body += kQuoteMark;
        std::size_t from = 0;
        for (std::size_t br = FindBreakTag(line, 0); br != std::string::npos;
             br = FindBreakTag(line, from)) {
            body.append(line, from, br - from);
            body += kBreakTag;
            body += kLineBreak;
            from = br + kBreakTag.size();
        }
        body.append(line, from, std::string::npos);
        body += kLineBreak;
    }
    return body;
}
