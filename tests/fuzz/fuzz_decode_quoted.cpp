#include "FuzzCheck.h"

#include "mime/Codec.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);
    const std::string_view text = UpToZero(input);

    const std::string decoded = DecodeQuoted(input);
    Check(decoded.size() <= text.size());
    Check(decoded.find('\0') == std::string::npos);

    const std::string encoded = EncodeQuoted(input);
    Check(encoded.find_first_of(" \t\r\n") == std::string::npos);
    Check(DecodeQuoted(encoded) == text);
    return 0;
}
