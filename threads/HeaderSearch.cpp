#include "threads/HeaderSearch.h"

#include "base/AsciiCase.h"
#include "base/Progress.h"
#include "mime/Charset.h"
#include "mime/Codec.h"
#include "mime/SjisConvert.h"
#include "store/HeaderStore.h"
#include "threads/MessageIdIndex.h"

#include <cstdio>
#include <memory>
#include <optional>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Appends as much of line as the gathered text has room for; false once it is full.
bool Append(std::string& gathered, std::string_view line) {
    gathered.append(line.substr(0, kSearchGatherMax - gathered.size()));
    return gathered.size() < kSearchGatherMax;
}

// Raw body text kept for conversion: whatever the charset and transfer encoding, this much of it
// gives more than kSearchGatherMax bytes of Shift_JIS.
constexpr std::size_t kRawBodyMax = 4 * kSearchGatherMax;

constexpr std::string_view kContentTypeField = "Content-Type:";
constexpr std::string_view kTransferField = "Content-Transfer-Encoding:";

// The main header's Content-Type and Content-Transfer-Encoding values, which say how the body
// is read; a Content-Type folded onto lines beginning with a tab or blank is followed.
class BodyFormat {
public:
    void Take(std::string_view line) {
        if (!line.empty() && (line.front() == '\t' || line.front() == ' ')) {
            if (m_inContentType)
                m_contentType.append(line.substr(1));
            return;
        }
        m_inContentType = StartsWithNoCase(line, kContentTypeField);
        if (m_inContentType)
            m_contentType.assign(line.substr(kContentTypeField.size()));
        if (StartsWithNoCase(line, kTransferField))
            m_transfer.assign(line.substr(kTransferField.size()));
    }

    // True when the body is the program's own text, compared as it stands.
    bool IsSjis() const {
        return PartTextCharset(m_contentType, m_transfer).empty() &&
               PartTransfer(m_transfer) == CTransfer::None;
    }

    // The paragraph's lines (each with CR LF) as Shift_JIS, read as the view reads the body, then
    // joined with nothing between. They are converted with their line ends, so that soft line
    // breaks and base64 lines come together as in the view; Shift_JIS never has CR LF inside a
    // character.
    std::string ToSjis(const std::string& lines) const {
        const std::string text = BodyTextToSjis(lines, m_contentType, m_transfer).m_text;
        std::string joined;
        joined.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "\r\n") == 0)
                ++i;
            else
                joined.push_back(text[i]);
        }
        return joined;
    }

private:
    std::string m_contentType;
    std::string m_transfer;
    bool m_inContentType = false;
};

} // namespace

std::string GatherSearchText(const std::string& cachePath, bool header, bool body) {
    std::string gathered;
    if (!header && !body)
        return gathered;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(cachePath.c_str(), "rb"));
    if (!file)
        return gathered;
    // The header runs to the first empty line; encoded words of other charsets in it are
    // compared decoded, as the screen shows them.
    BodyFormat format;
    bool full = false;
    for (;;) {
        const std::optional<std::string> line = ReadFileLine(file.get());
        if (!line)
            return gathered;
        if (line->empty())
            break;
        format.Take(*line);
        if (header && !full)
            full = !Append(gathered, HeaderTextToSjis(*line).m_text);
    }
    if (!body || full)
        return gathered;
    // The first paragraph runs to the next empty line, and is compared in Shift_JIS whatever its
    // charset.
    const bool sjis = format.IsSjis();
    std::string paragraph;
    for (;;) {
        const std::optional<std::string> line = ReadFileLine(file.get());
        if (!line || line->empty())
            break;
        if (sjis) {
            if (!Append(gathered, *line))
                return gathered;
            continue;
        }
        if (paragraph.size() >= kRawBodyMax)
            break;
        paragraph += *line;
        paragraph += "\r\n";
    }
    if (!sjis)
        Append(gathered, format.ToSjis(paragraph));
    return gathered;
}

CSearchResult SearchArticles(const std::vector<std::string>& entries, int startRow,
                             const CSearchParams& params, IProgress& progress) {
    if (params.text.empty())
        return CSearchResult{};
    const int count = static_cast<int>(entries.size());
    progress.SetProgressRange(0, count);
    for (int row = startRow < 0 ? 0 : startRow; row < count; ++row) {
        progress.SetProgressPos(row);
        progress.PumpMessages();
        if (progress.StopRequested())
            break;
        const std::optional<CIndexEntry> entry = ParseIndexEntry(entries[row]);
        if (!entry)
            continue;
        const std::string gathered = GatherSearchText(
            CacheFilePath(params.groupDir, entry->m_messageId), params.header, params.body);
        // An article without a tree item cannot be shown: the search goes on past it.
        if (entry->m_itemId != 0 && gathered.find(params.text) != std::string::npos)
            return CSearchResult{row, entry->m_itemId};
    }
    return CSearchResult{};
}
