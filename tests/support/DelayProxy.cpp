#include "DelayProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

DelayProxy::DelayProxy(int upstreamPort, int delayMs) : m_upstream(upstreamPort), m_delay(delayMs) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listen, 16);
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Accept(); });
}

DelayProxy::~DelayProxy() {
    ::shutdown(m_listen, SHUT_RDWR);
    ::close(m_listen);
    m_thread.join();
    for (std::thread& t : m_pipes)
        t.join();
}

void DelayProxy::Accept() {
    for (;;) {
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const int server = ConnectLoopback(m_upstream);
        if (server < 0) {
            ::close(client);
            continue;
        }
        // Each direction: one thread receives and stamps, one sends when the time is due.
        auto up = std::make_shared<Queue>();
        auto down = std::make_shared<Queue>();
        m_pipes.emplace_back([=, this] { Receive(client, up); });
        m_pipes.emplace_back([=, this] { Forward(up, server); });
        m_pipes.emplace_back([=, this] { Receive(server, down); });
        m_pipes.emplace_back([=] {
            Forward(down, client);
            ::close(client);
            ::close(server);
        });
    }
}

void DelayProxy::Receive(int from, std::shared_ptr<Queue> queue) {
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t n = ::recv(from, buffer.data(), buffer.size(), 0);
#ifdef TCP_QUICKACK
        // As the program's own connection does: a delayed acknowledgement would hold back a
        // sender that waits for it (Nagle) and add its own 40 ms to the delay asked for.
        int one = 1;
        ::setsockopt(from, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->pieces.emplace_back(Clock::now() + std::chrono::milliseconds(m_delay),
                                   n > 0 ? std::string(buffer.data(), n) : std::string());
        queue->changed.notify_one();
        if (n <= 0)
            return;
    }
}

void DelayProxy::Forward(std::shared_ptr<Queue> queue, int to) {
    for (;;) {
        std::pair<Clock::time_point, std::string> piece;
        {
            std::unique_lock<std::mutex> lock(queue->mutex);
            queue->changed.wait(lock, [&] { return !queue->pieces.empty(); });
            piece = std::move(queue->pieces.front());
            queue->pieces.pop_front();
        }
        std::this_thread::sleep_until(piece.first);
        if (piece.second.empty()) {
            ::shutdown(to, SHUT_WR);
            return;
        }
        std::size_t sent = 0;
        while (sent < piece.second.size()) {
            const ssize_t n =
                ::send(to, piece.second.data() + sent, piece.second.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }
}
