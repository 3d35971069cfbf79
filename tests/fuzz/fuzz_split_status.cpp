#include "FuzzCheck.h"

#include "nntp/NntpSocket.h"

#include <string>

// A status line splits at its first blank within the part looked at, or is a bare code ending at
// its line end: the code holds no blank, CR or LF, and code, separator and rest give that part
// again.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = AsText(data, size);
    const std::string_view looked = text.substr(0, CNntpSocket::kMaxSplitText);
    std::string code = "x", rest = "x";
    const bool split = CNntpSocket::SplitStatus(text, code, rest);

    const bool hasBlank = looked.find(' ') != std::string_view::npos;
    const bool endsInside = looked.find_first_of("\r\n") != std::string_view::npos;
    if (!split) {
        Check(code.empty() && rest.empty());
        Check(!hasBlank);
        Check(looked.empty() || looked[0] == '\r' || looked[0] == '\n' ||
              (!endsInside && text.size() > looked.size()));
        return 0;
    }
    Check(!code.empty() || hasBlank);
    Check(code.find(' ') == std::string::npos);
    if (hasBlank) {
        Check(code + " " + rest == looked);
    } else {
        Check(code.find_first_of("\r\n") == std::string::npos);
        Check(code + rest == looked);
    }
    return 0;
}
