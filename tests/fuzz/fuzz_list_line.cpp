#include "FuzzCheck.h"

#include "nntp/NntpSocket.h"

#include <string>

// A LIST line splits at its first three blanks within the part looked at, and the four fields
// put back together with blanks give that part again.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line = AsText(data, size);
    const std::string_view looked = line.substr(0, CNntpSocket::kMaxListLine);
    std::string name = "x", last = "x", first = "x", flag = "x";
    const bool split = CNntpSocket::ParseListLine(line, name, last, first, flag);

    std::size_t blanks = 0;
    for (char c : looked)
        blanks += c == ' ';
    Check(split == (blanks >= 3));
    if (!split) {
        Check(name.empty() && last.empty() && first.empty() && flag.empty());
        return 0;
    }
    Check(name.find(' ') == std::string::npos);
    Check(last.find(' ') == std::string::npos);
    Check(first.find(' ') == std::string::npos);
    Check(name + " " + last + " " + first + " " + flag == looked);
    return 0;
}
