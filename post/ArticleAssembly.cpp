#include "post/ArticleAssembly.h"

#include "base/AsciiCase.h"
#include "mime/Codec.h"
#include "post/BodyText.h"
#include "post/Katakana.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::array<std::string_view, 2> kClosingTags = {"</BODY>", "</HTML>"};

constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A header value on one line: a line break in it would begin a header line of its own.
std::string OneLine(std::string value) {
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    return value;
}

// A header line with Japanese text as the wire carries it.
std::string Encoded(const std::string& line) {
    return EncodeHeaderText(HalfToFullKatakana(line));
}

// Removes the closing tags of the HTML part from ISO-2022-JP text, looking only at the one-byte
// stretches, so the bytes of a double-byte character never count as a tag.
std::string WithoutClosingTags(std::string_view jis) {
    std::string out;
    out.reserve(jis.size());
    bool twoByte = false;
    std::size_t i = 0;
    while (i < jis.size()) {
        const char c = jis[i];
        if (c == '\x1B' && i + 2 < jis.size()) {
            const std::string_view escape = jis.substr(i, 3);
            if (escape == "\x1B$B" || escape == "\x1B$@")
                twoByte = true;
            else if (escape == "\x1B(B" || escape == "\x1B(J")
                twoByte = false;
            out.append(escape);
            i += 3;
            continue;
        }
        if (!twoByte && c == '<') {
            bool removed = false;
            for (std::string_view tag : kClosingTags) {
                if (StartsWithNoCase(jis.substr(i), tag)) {
                    i += tag.size();
                    removed = true;
                    break;
                }
            }
            if (removed)
                continue;
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

void AppendLines(std::string& out, const std::vector<std::string>& lines, WireLineKind kind) {
    for (const std::string& line : lines)
        out += WireLine(line, kind);
}

} // namespace

std::string MakeBoundary(std::uint32_t tick, const std::tm& local) {
    char text[64];
    std::snprintf(text, sizeof text, "----=_QUILLOMB_0101_0911_%.8x.%.2d%.2d%.2d",
                  static_cast<unsigned>(tick), local.tm_sec, local.tm_min, local.tm_hour);
    return text;
}

std::string DateLine(const std::tm& local) {
    const long offset = local.tm_gmtoff;
    const long minutes = std::labs(offset) / 60;
    const auto name = [](const auto& names, int index) {
        return index >= 0 && index < static_cast<int>(names.size()) ? names[index] : "???";
    };
    char text[96];
    std::snprintf(text, sizeof text, "Date: %s, %.2d %s %d %.2d:%.2d:%.2d %c%.2ld%.2ld",
                  name(kDayNames, local.tm_wday), local.tm_mday, name(kMonthNames, local.tm_mon),
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                  offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::vector<std::string> BuildHeaderLines(const CPostInput& input, const std::string& boundary,
                                          const std::tm& local) {
    const std::string contentType =
        input.html ? "Content-Type: multipart/alternative; boundary=\"" + boundary + "\""
                   : std::string("Content-Type: text/plain; charset=\"iso-2022-jp\"");
    std::vector<std::string> lines = {
        Encoded(contentType),
        "Content-Transfer-Encoding: 7bit",
        Encoded(DateLine(local)),
        Encoded("From: " + OneLine(input.name) + " <" + OneLine(input.email) + " >"),
        Encoded("Newsgroups: " + OneLine(input.newsgroups)),
        "MIME-Version: 1.0",
        Encoded("Path: " + OneLine(input.server)),
        Encoded("Subject: " + OneLine(input.subject)),
        kNewsreaderLine,
    };
    if (!input.references.empty())
        lines.push_back("References: " + OneLine(input.references));
    return lines;
}

std::string PartHeader(const std::string& boundary, bool html) {
    return "--" + boundary + "\r\n" +
           (html ? "Content-Type: text/html; \r\n" : "Content-Type: text/plain; \r\n") +
           "\tcharset=\"iso-2022-jp\"\r\n" + "Content-Transfer-Encoding: 7bit\r\n" + "\r\n";
}

std::string WireLine(std::string_view sjisLine, WireLineKind kind) {
    std::string line = SjisToJis(sjisLine);
    // The tags go before the dot is doubled: a line that starts with a dot only once its tags
    // are gone must be stuffed too, or a line "</BODY>." would end the article.
    if (kind == WireLineKind::HtmlBody)
        line = WithoutClosingTags(line);
    if (line.starts_with('.'))
        line.insert(0, 1, '.');
    if (kind == WireLineKind::HtmlSignature)
        line += "<BR>";
    line += kLineBreak;
    return line;
}

std::vector<CArticleStage> ArticleStages(const CPostInput& input, const std::string& boundary,
                                         const std::tm& local) {
    const std::string body = HalfToFullKatakana(input.body);
    const std::vector<std::string> signature = SplitTextLines(HalfToFullKatakana(input.signature));

    std::vector<CArticleStage> stages;
    std::string header;
    for (const std::string& line : BuildHeaderLines(input, boundary, local))
        header += line + "\r\n";
    header += kLineBreak;
    if (input.html)
        header += PartHeader(boundary, false);
    stages.push_back({kSendingHeaderStatus, std::move(header)});

    std::string plain;
    AppendLines(plain, SplitTextLines(input.html ? StripHtmlTags(body) : body),
                WireLineKind::Plain);
    stages.push_back({kSendingPlainStatus, std::move(plain)});

    std::string plainSignature;
    AppendLines(plainSignature, signature, WireLineKind::Plain);
    plainSignature += kLineBreak;
    if (input.html)
        plainSignature += PartHeader(boundary, true);
    stages.push_back({kSendingSignatureStatus, std::move(plainSignature)});

    if (input.html) {
        std::string html;
        AppendLines(html, SplitTextLines(body), WireLineKind::HtmlBody);
        stages.push_back({kSendingHtmlStatus, std::move(html)});

        std::string htmlSignature;
        AppendLines(htmlSignature, signature, WireLineKind::HtmlSignature);
        htmlSignature += "</BODY></HTML>\r\n";
        htmlSignature += kLineBreak;
        htmlSignature += "--" + boundary + "--\r\n";
        stages.push_back({kSendingSignatureStatus, std::move(htmlSignature)});
    }
    stages.push_back({kFinishingStatus, ".\r\n"});
    return stages;
}
