#include "InnTestSupport.h"

#include "base/AsciiCase.h"
#include "support/TestDir.h"

#include <QProcess>
#include <QString>

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr int kInnPort = 119;
constexpr int kTimeoutSeconds = 30;

class BareNntp {
public:
    ~BareNntp() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Connect() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return false;
        timeval timeout{kTimeoutSeconds, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kInnPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    bool Send(const std::string& bytes) {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    std::optional<std::string> ReadLine() {
        for (;;) {
            const std::size_t end = m_buffer.find("\r\n");
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 2);
                return line;
            }
            char chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return std::nullopt;
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int m_fd = -1;
    std::string m_buffer;
};

} // namespace

bool InnGreets() {
    BareNntp nntp;
    if (!nntp.Connect())
        return false;
    const std::optional<std::string> greeting = nntp.ReadLine();
    nntp.Send("QUIT\r\n");
    return greeting && greeting->starts_with("200");
}

std::vector<std::string> ServedArticle(const std::string& group, int n) {
    BareNntp nntp;
    std::vector<std::string> lines;
    if (!nntp.Connect() || !nntp.ReadLine() || !nntp.Send("GROUP " + group + "\r\n"))
        return lines;
    const std::optional<std::string> groupReply = nntp.ReadLine();
    if (!groupReply || !groupReply->starts_with("211 ") ||
        !nntp.Send("ARTICLE " + std::to_string(n) + "\r\n"))
        return lines;
    const std::optional<std::string> status = nntp.ReadLine();
    if (!status || !status->starts_with("220 "))
        return lines;
    while (std::optional<std::string> line = nntp.ReadLine()) {
        if (*line == ".")
            break;
        lines.push_back(line->starts_with("..") ? line->substr(1) : *line);
    }
    nntp.Send("QUIT\r\n");
    return lines;
}

std::optional<std::string> ServedField(const std::vector<std::string>& lines,
                                       const std::string& name) {
    std::optional<std::string> value;
    bool inField = false;
    for (const std::string& line : lines) {
        if (line.empty())
            break;
        if (line.front() == '\t' || line.front() == ' ') {
            const std::size_t text = line.find_first_not_of(" \t");
            if (inField && text != std::string::npos) {
                value->erase(value->find_last_not_of(" \t") + 1);
                *value += " " + line.substr(text);
            }
            continue;
        }
        inField = !value && StartsWithNoCase(line, name);
        if (inField)
            value = line.size() > name.size() + 1 ? line.substr(name.size() + 1) : std::string();
    }
    return value;
}

bool LoadIntoGroup(const std::string& group, const std::string& path, std::string& output) {
    const QString data = QString::fromStdString(TestDataDir());
    QProcess load;
    load.setProcessChannelMode(QProcess::MergedChannels);
    load.start(data + QStringLiteral("/../../tools/inn.sh"),
               {QStringLiteral("load"), QStringLiteral("--group"), QString::fromStdString(group),
                QString::fromStdString(path)});
    const bool finished = load.waitForFinished(120000);
    output = QString::fromLocal8Bit(load.readAll()).toStdString();
    return finished && load.exitStatus() == QProcess::NormalExit && load.exitCode() == 0;
}
