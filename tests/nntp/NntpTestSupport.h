#pragma once

#include <chrono>
#include <string>
#include <vector>

class CNntpSocket;

// Shortens the connection's waits for a test and puts every process-wide connection setting
// back afterwards.
class NntpSettingsGuard {
public:
    explicit NntpSettingsGuard(int connectMs = 3000, int receiveMs = 3000);
    ~NntpSettingsGuard();
    NntpSettingsGuard(const NntpSettingsGuard&) = delete;
    NntpSettingsGuard& operator=(const NntpSettingsGuard&) = delete;
};

// SetHost, Open and Connect, as a conversation begins.
bool ConnectTo(CNntpSocket& socket, const std::string& host, int port);
// ReadLine until it reports the end.
std::vector<std::string> ReadReply(CNntpSocket& socket);

// A loopback port bound by a socket that does not listen, so connecting to it is refused; the
// port stays reserved while the object lives.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A loopback listener whose queue is full, so a further connect is never answered.
class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
    int m_fillers[2] = {-1, -1};
};

// Milliseconds since start.
inline long long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}
