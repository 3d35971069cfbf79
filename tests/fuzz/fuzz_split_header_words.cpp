#include "FuzzCheck.h"

#include "mime/Charset.h"
#include "mime/HeaderWords.h"
#include "mime/SjisConvert.h"

#include <string>

// Stored header values with encoded words of any charset: the runs put back the value's stored
// text in order, each word run names a charset of the table, and the conversion to Shift_JIS
// of what the screen shows never fails.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);
    const std::vector<CHeaderRun> runs = SplitHeaderWords(input);
    if (!HasEncodedWord(input)) {
        Check(input.empty() ? runs.empty() : runs.size() == 1 && runs[0].m_bytes == input);
        return 0;
    }
    std::size_t searchFrom = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const CHeaderRun& run = runs[i];
        if (run.m_charset.empty()) {
            // Stored text comes from the value as it is, never twice in a row.
            Check(!run.m_bytes.empty());
            Check(i == 0 || !runs[i - 1].m_charset.empty());
            const std::size_t at = input.find(run.m_bytes, searchFrom);
            Check(at != std::string_view::npos);
            searchFrom = at + run.m_bytes.size();
        } else {
            Check(CanonicalCharset(run.m_charset) == run.m_charset);
            // Words decode to no more bytes than their text held.
            Check(run.m_bytes.size() <= input.size());
        }
    }
    const CSjisText sjis = HeaderTextToSjis(input);
    Check(sjis.m_replaced >= 0);
    Check(DecodeBase64Text(input).size() <= input.size() * 3 / 4 + 1);
    return 0;
}
