#include "nntp/NntpSocket.h"

// The LIST exchange: the server's whole group list into the group table.

namespace {

constexpr std::string_view kListCommand = "LIST\r\n";
constexpr std::string_view kListOk = "215";

} // namespace

bool CNntpSocket::ListGroups() {
    m_groups.clear();
    m_listStatus.clear();
    if (SendCommand(kListCommand) != static_cast<int>(kListCommand.size()))
        return false;

    std::string line;
    std::string code;
    std::string rest;
    // Without a status line (the server closed or did not answer) there is no reply to drain.
    if (!ReadLine(line))
        return false;
    SplitStatus(line, code, rest);
    m_listStatus = line;
    if (code != kListOk) {
        // Whatever else came belongs to this reply, not to the next command's.
        while (ReadLine(line)) {
        }
        return false;
    }

    GroupEntry entry;
    while (ReadLine(line)) {
        if (ParseListLine(line, entry.name, entry.last, entry.first, entry.flag))
            m_groups.push_back(std::move(entry));
    }
    return true;
}

bool CNntpSocket::ParseListLine(std::string_view line, std::string& name, std::string& last,
                                std::string& first, std::string& flag) {
    name.clear();
    last.clear();
    first.clear();
    flag.clear();
    const std::string_view text = line.substr(0, kMaxListLine);

    const std::size_t nameEnd = text.find(' ');
    if (nameEnd == std::string_view::npos)
        return false;
    const std::size_t lastEnd = text.find(' ', nameEnd + 1);
    if (lastEnd == std::string_view::npos)
        return false;
    const std::size_t firstEnd = text.find(' ', lastEnd + 1);
    if (firstEnd == std::string_view::npos)
        return false;

    name = text.substr(0, nameEnd);
    last = text.substr(nameEnd + 1, lastEnd - nameEnd - 1);
    first = text.substr(lastEnd + 1, firstEnd - lastEnd - 1);
    flag = text.substr(firstEnd + 1);
    return true;
}

std::string CNntpSocket::GetGroupName(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_groups.size())
        return {};
    return m_groups[static_cast<std::size_t>(index)].name;
}
