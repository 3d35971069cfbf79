#include "FuzzCheck.h"

#include "settings/ProfileFile.h"

#include <string>

// Reads any bytes as a settings file. What it writes back reads back to the same bytes, and a
// key set (section, key and value taken from the input) is found again, also after a write and
// a new read, while another key keeps its value unless it is the same key by another spelling.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = AsText(data, size);

    CProfileFile file;
    file.LoadBytes(input);
    const std::string written = file.ToBytes();
    CProfileFile again;
    again.LoadBytes(written);
    Check(again.ToBytes() == written);

    // The first two bytes say how long the section and key names are; the rest is the value.
    if (size < 2)
        return 0;
    std::string_view rest = input.substr(2);
    const std::string_view section = rest.substr(0, data[0] % 16);
    rest.remove_prefix(section.size());
    const std::string_view key = rest.substr(0, data[1] % 16);
    rest.remove_prefix(key.size());
    const std::string_view value = rest.substr(0, 64);

    Check(file.SetString("Mark", "Key", "marked"));
    if (!file.SetString(section, key, value))
        return 0;
    std::string found;
    Check(file.Find(section, key, found) && found == value);

    CProfileFile reread;
    reread.LoadBytes(file.ToBytes());
    Check(reread.Find(section, key, found) && found == value);
    Check(reread.Find("Mark", "Key", found));
    Check(found == "marked" || found == value);
    return 0;
}
