#include "nntp/NntpSocket.h"

// The LIST exchange: the server's whole group list into the group table, within its bounds.

namespace {

constexpr std::string_view kListCommand = "LIST\r\n";
constexpr std::string_view kListOk = "215";

} // namespace

void CNntpSocket::ClearGroupTable() {
    m_groupNames.clear();
    m_groupNames.shrink_to_fit();
    m_groupEnds.clear();
    m_groupEnds.shrink_to_fit();
    m_groupTableFull = false;
}

bool CNntpSocket::ListGroups() {
    ClearGroupTable();
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

    std::string name;
    std::string last;
    std::string first;
    std::string flag;
    while (ReadLine(line)) {
        if (m_replyBytes > kMaxListBytes) {
            Fail(NntpFailure::TooLarge, 0);
            EndReply(false);
            break;
        }
        if (m_groupTableFull || !ParseListLine(line, name, last, first, flag))
            continue;
        if (m_groupEnds.size() >= static_cast<std::size_t>(kMaxListGroups) ||
            m_groupNames.size() + name.size() > kMaxGroupNameBytes) {
            m_groupTableFull = true;
            continue;
        }
        m_groupNames += name;
        m_groupEnds.push_back(static_cast<std::uint32_t>(m_groupNames.size()));
    }
    if (!m_lastReplyWhole) {
        // A cut list is not the server's list: nothing of it is offered.
        ClearGroupTable();
        return false;
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
    if (index < 0 || static_cast<std::size_t>(index) >= m_groupEnds.size())
        return {};
    const std::size_t i = static_cast<std::size_t>(index);
    const std::size_t begin = i == 0 ? 0 : m_groupEnds[i - 1];
    return m_groupNames.substr(begin, m_groupEnds[i] - begin);
}
