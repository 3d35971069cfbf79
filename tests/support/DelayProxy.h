#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A TCP proxy on 127.0.0.1 that holds every piece of data back for a fixed time in each
// direction, so a loopback server looks like one a round trip of twice that away. For
// benchmarks; it forwards to a loopback port.
class DelayProxy {
public:
    DelayProxy(int upstreamPort, int delayMs);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;
    int Port() const { return m_port; }

private:
    using Clock = std::chrono::steady_clock;
    struct Queue {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::pair<Clock::time_point, std::string>> pieces; // empty piece: end
    };

    void Accept();
    void Receive(int from, std::shared_ptr<Queue> queue);
    static void Forward(std::shared_ptr<Queue> queue, int to);

    int m_upstream;
    int m_delay;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    std::vector<std::thread> m_pipes;
};

// A TCP connection to 127.0.0.1:port with Nagle's delay off; -1 when it cannot be made.
int ConnectLoopback(int port);
