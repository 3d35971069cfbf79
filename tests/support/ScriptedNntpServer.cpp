#include "ScriptedNntpServer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How often a waiting server thread looks whether it should stop.
constexpr int kSliceMs = 10;

// Waits for events on fd; false when the server stops first.
bool WaitFor(int fd, short events, const std::atomic<bool>& stop) {
    while (!stop.load()) {
        pollfd entry{fd, events, 0};
        int ready = ::poll(&entry, 1, kSliceMs);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
}

} // namespace

bool NntpServerConnection::Send(std::string_view bytes, std::size_t pieceSize, int pauseMs) {
    if (pieceSize == 0)
        pieceSize = std::max<std::size_t>(bytes.size(), 1);
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        if (offset > 0 && pauseMs > 0)
            Pause(pauseMs);
        std::string_view piece = bytes.substr(offset, pieceSize);
        std::size_t sent = 0;
        while (sent < piece.size()) {
            if (m_fd < 0 || !WaitFor(m_fd, POLLOUT, *m_stop))
                return false;
            ssize_t n =
                ::send(m_fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
        }
        offset += piece.size();
    }
    return true;
}

bool NntpServerConnection::Fill() {
    char block[65536];
    for (;;) {
        if (m_fd < 0 || !WaitFor(m_fd, POLLIN, *m_stop))
            return false;
        ssize_t n = ::recv(m_fd, block, sizeof block, MSG_DONTWAIT);
        if (n > 0) {
            {
                std::lock_guard<std::mutex> lock(*m_mutex);
                m_received->append(block, static_cast<std::size_t>(n));
            }
            m_pending.append(block, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
    }
}

bool NntpServerConnection::ReadCommand(std::string& line) {
    for (;;) {
        std::size_t lf = m_pending.find('\n');
        if (lf != std::string::npos) {
            line = m_pending.substr(0, lf + 1);
            m_pending.erase(0, lf + 1);
            return true;
        }
        if (!Fill())
            return false;
    }
}

void NntpServerConnection::Pause(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stop->load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, kSliceMs)));
}

void NntpServerConnection::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

NntpScript& NntpScript::Send(std::string bytes, std::size_t pieceSize, int pauseMs) {
    m_steps.push_back([bytes = std::move(bytes), pieceSize, pauseMs](NntpServerConnection& c) {
        c.Send(bytes, pieceSize, pauseMs);
    });
    return *this;
}

NntpScript& NntpScript::Await() {
    m_steps.push_back([](NntpServerConnection& c) {
        std::string line;
        c.ReadCommand(line);
    });
    return *this;
}

NntpScript& NntpScript::Reply(std::string bytes, std::size_t pieceSize, int pauseMs) {
    Await();
    return Send(std::move(bytes), pieceSize, pauseMs);
}

NntpScript& NntpScript::Pause(int ms) {
    m_steps.push_back([ms](NntpServerConnection& c) { c.Pause(ms); });
    return *this;
}

NntpScript& NntpScript::Close() {
    m_steps.push_back([](NntpServerConnection& c) { c.Close(); });
    return *this;
}

NntpScript& NntpScript::Do(Step step) {
    m_steps.push_back(std::move(step));
    return *this;
}

NntpScript& NntpScript::OnCommand(Handler handler) {
    m_handler = std::move(handler);
    return *this;
}

ScriptedNntpServer::ScriptedNntpServer() {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

ScriptedNntpServer::ScriptedNntpServer(NntpScript script) : ScriptedNntpServer() {
    AddConnection(std::move(script));
}

ScriptedNntpServer::~ScriptedNntpServer() {
    m_stop.store(true);
    m_thread.join();
    ::close(m_listenFd);
}

void ScriptedNntpServer::AddConnection(NntpScript script) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scripts.push_back(std::move(script));
}

std::string ScriptedNntpServer::Received(std::size_t index) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return index < m_received.size() ? *m_received[index] : std::string();
}

std::size_t ScriptedNntpServer::AcceptedConnections() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received.size();
}

bool ScriptedNntpServer::WaitForClosedConnections(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_closed >= count; });
}

void ScriptedNntpServer::Run() {
    while (WaitFor(m_listenFd, POLLIN, m_stop)) {
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        // Every piece of a scripted reply should leave as a segment of its own.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::size_t index;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            index = m_received.size();
            m_received.push_back(std::make_unique<std::string>());
        }
        Serve(fd, index);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_closed;
        }
        m_changed.notify_all();
    }
}

void ScriptedNntpServer::Serve(int fd, std::size_t index) {
    NntpScript script;
    std::string* received;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index < m_scripts.size())
            script = m_scripts[index];
        received = m_received[index].get();
    }
    NntpServerConnection connection(fd, received, &m_mutex, &m_stop);
    for (const NntpScript::Step& step : script.m_steps) {
        if (connection.IsClosed() || m_stop.load())
            break;
        step(connection);
    }
    std::string line;
    while (!connection.IsClosed() && connection.ReadCommand(line)) {
        if (script.m_handler)
            script.m_handler(connection, line);
    }
    connection.Close();
}
