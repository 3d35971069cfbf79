#include "FuzzCheck.h"

#include "mime/Codec.h"

#include <algorithm>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);
    const std::string_view text = UpToZero(input);

    const std::string bytes = DecodeBase64(input);
    Check(bytes.size() <= kBase64DecodeMaxResult);
    Check(bytes.size() <= (text.size() + 3) / 4 * 3);
    Check(bytes.find('\0') == std::string::npos);

    // Any bytes come back through base64 as long as the result fits.
    const std::string encoded = EncodeBase64(input);
    Check(encoded.size() == (std::min(text.size(), kBase64EncodeMaxInput) + 2) / 3 * 4);
    if (text.size() <= kBase64DecodeMaxResult)
        Check(DecodeBase64(encoded) == text);
    return 0;
}
