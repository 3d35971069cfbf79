#include "FuzzCheck.h"

#include "nntp/HeaderDownload.h"

#include <string>

namespace {

bool HoldsFoldBlank(std::string_view text) {
    return text.find_first_of(" \t") != std::string_view::npos;
}

} // namespace

// The lines of a HEAD reply (the input split at LF) through the header field reader: every value
// stays within its bound, References keeps its last Message-ID, and REF is one word.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);
    CHeaderFieldReader reader;
    reader.Begin();
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos)
            end = input.size();
        reader.AddLine(input.substr(start, end - start));
        start = end + 1;
    }
    const HeaderFields& fields = reader.Fields();
    for (const std::string* value :
         {&fields.from, &fields.subject, &fields.date, &fields.contentType, &fields.messageId}) {
        Check(value->size() <= kHeaderValueMax);
    }
    Check(fields.references.size() <= kHeaderValueMax);
    if (fields.references.size() > kReferencesMax)
        Check(!HoldsFoldBlank(fields.references));
    const std::string ref = LastReference(fields.references);
    Check(!HoldsFoldBlank(ref));
    Check(fields.references.find(ref) != std::string::npos);

    const Poster poster = SplitPoster(fields.from);
    Check(poster.name.size() <= kPosterFromMax && poster.address.size() <= kPosterFromMax);
    return 0;
}
