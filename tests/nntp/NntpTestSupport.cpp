#include "NntpTestSupport.h"

#include "nntp/NntpSocket.h"

#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

NntpSettingsGuard::NntpSettingsGuard(int connectMs, int receiveMs) {
    SetNntpTimeouts(connectMs, receiveMs);
}

NntpSettingsGuard::~NntpSettingsGuard() {
    SetNntpTimeouts(60000, 60000);
    SetNntpPumpHook({});
    SetNntpResolver({});
    SetDefaultNntpPort(119);
}

bool ConnectTo(CNntpSocket& socket, const std::string& host, int port) {
    socket.SetHost(host);
    socket.Open();
    return socket.Connect(host, port);
}

std::vector<std::string> ReadReply(CNntpSocket& socket) {
    std::vector<std::string> lines;
    std::string line;
    while (socket.ReadLine(line))
        lines.push_back(line);
    return lines;
}

RefusingPort::RefusingPort() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot reserve a loopback port");
    m_port = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FullListener::FullListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_fd, 0) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on a loopback port");
    m_port = ntohs(address.sin_port);
    // A queue of length 0 still takes one connection; the second makes sure it is full.
    for (int& filler : m_fillers) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ::usleep(50000);
}

FullListener::~FullListener() {
    for (int filler : m_fillers) {
        if (filler >= 0)
            ::close(filler);
    }
    ::close(m_fd);
}
