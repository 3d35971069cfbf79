#include "FuzzCheck.h"

#include "mime/Codec.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);
    const std::string_view text = UpToZero(input);

    const std::string sjis = JisToSjis(input);
    Check(sjis.size() <= text.size());
    if (text.find('\x1b') == std::string_view::npos)
        Check(sjis == text);

    // The same bytes read as Shift_JIS go out and come back.
    const std::string jis = SjisToJis(input);
    if (IsWellFormedSjis(text))
        Check(JisToSjis(jis) == text);
    const std::string wellFormed = MakeWellFormedSjis(input);
    Check(IsWellFormedSjis(wellFormed));
    Check(JisToSjis(SjisToJis(wellFormed)) == wellFormed);
    return 0;
}
