#include "FuzzCheck.h"

#include "mime/Codec.h"

#include <cctype>
#include <string>

namespace {

bool SpellsWordOpening(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::string_view opening : {"=?iso-2022-jp?q?", "=?iso-2022-jp?b?", "=?iso-8859-1?q?",
                                     "=?iso-8859-1?b?", "=?us-ascii?q?", "=?us-ascii?b?"}) {
        if (lower.find(opening) != std::string::npos)
            return true;
    }
    return false;
}

// Longest run of pairs whose word text still fits when it is decoded.
bool RunsFitOneWord(std::string_view text) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsSjisLeadByte(static_cast<unsigned char>(text[i]))) {
            if (++run > 379)
                return false;
            ++i;
        } else {
            run = 0;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);
    const std::string_view text = UpToZero(input);

    const std::string decoded = DecodeHeaderText(input);
    Check(decoded.size() <= text.size());
    Check(decoded.find('\0') == std::string::npos);
    JisToSjis(decoded);

    // The same bytes as a Shift_JIS header value go out and come back.
    const std::string encoded = EncodeHeaderText(input);
    for (char c : encoded)
        Check(!IsSjisLeadByte(static_cast<unsigned char>(c)));
    if (IsWellFormedSjis(text) && RunsFitOneWord(text) && !SpellsWordOpening(text))
        Check(JisToSjis(DecodeHeaderText(encoded)) == text);
    const std::string wellFormed = MakeWellFormedSjis(input);
    Check(IsWellFormedSjis(wellFormed));
    if (RunsFitOneWord(wellFormed) && !SpellsWordOpening(wellFormed))
        Check(JisToSjis(DecodeHeaderText(EncodeHeaderText(wellFormed))) == wellFormed);
    return 0;
}
