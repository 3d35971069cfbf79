// Speed of the header download against a news server on 127.0.0.1 (normally the project's INN,
// loaded by tools/bench-header-download.sh), directly and through a proxy that delays every
// piece of data by a fixed time each way. For each group it measures a bare pipelined HEAD
// client (reads the replies, keeps nothing) and DownloadHeaders into an empty store and again
// into the full one.
//
//   bench_header_download [--port P] [--delay-ms D] [--depth N] [--loopback-only] GROUP...
//   bench_header_download --canned N [...]
//
// With --canned an in-process server answers from N headers held in memory instead, so that
// the client's own speed shows where the news server would be the limit.

#include "nntp/HeaderDownload.h"

#include "base/Progress.h"
#include "nntp/NntpSocket.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/DelayProxy.h"
#include "support/TestDir.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of the calling thread (the proxy's threads are not counted).
double ThreadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// ---- a server that answers from headers held in memory ----

std::string CannedHead(int n) {
    static const char* const kSubjects[] = {
        "Which editor do you use for long articles",
        "=?ISO-2022-JP?B?GyRCRnxLXDhsJE41LTt2JE5JPTwoJUYlOSVIGyhC?=",
        "Notes on folding long header lines in news articles"};
    const std::string id = "<" + std::to_string(n) + ".canned@bench.example.org>";
    const int poster = (n * 7919) % (n / 20 + 1);
    std::string head = "221 " + std::to_string(n) + " " + id + "\r\n";
    head += "Path: news.example.org!feeder.example.net!not-for-mail\r\n";
    head += poster % 3 == 0 ? "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <user" +
                                  std::to_string(poster) + "@example.jp>\r\n"
                            : "From: Poster " + std::to_string(poster) + " <user" +
                                  std::to_string(poster) + "@example.org>\r\n";
    head += "Newsgroups: quillo.canned\r\n";
    head +=
        std::string("Subject: ") + (n % 10 < 7 && n > 1 ? "Re: " : "") + kSubjects[n % 3] + "\r\n";
    head += "Date: Mon, 15 Jan 2024 09:12:00 +0900\r\nOrganization: Quillo benchmark\r\n";
    head += "Lines: 12\r\nMessage-ID: " + id + "\r\n";
    if (n % 10 < 7 && n > 1) {
        head += "References:";
        for (int r = std::max(1, n - 5); r < n; ++r)
            head +=
                (r == n - 2 ? "\r\n\t<" : " <") + std::to_string(r) + ".canned@bench.example.org>";
        head += "\r\n";
    }
    head += "NNTP-Posting-Host: host.example.org\r\nMIME-Version: 1.0\r\n";
    head += "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n";
    head +=
        "User-Agent: Quillo-bench/1.0\r\nXref: inn.quillo.test quillo.canned:" + std::to_string(n) +
        "\r\n.\r\n";
    return head;
}

class CannedServer {
public:
    explicit CannedServer(int count) : m_count(count) {
        m_heads.resize(static_cast<std::size_t>(count) + 1);
        for (int n = 1; n <= count; ++n)
            m_heads[static_cast<std::size_t>(n)] = CannedHead(n);
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 16);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            for (;;) {
                const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    return;
                Serve(fd);
                ::close(fd);
            }
        });
    }
    ~CannedServer() {
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_thread.join();
    }
    int Port() const { return m_port; }

private:
    void Serve(int fd) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string in = "";
        std::string out = "200 canned server ready (posting ok)\r\n";
        char block[65536];
        for (;;) {
            if (!out.empty() && ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) < 0)
                return;
            out.clear();
            const ssize_t n = ::recv(fd, block, sizeof block, 0);
            if (n <= 0)
                return;
            in.append(block, static_cast<std::size_t>(n));
            std::size_t lf;
            while ((lf = in.find('\n')) != std::string::npos) {
                const std::string line = in.substr(0, lf + 1);
                in.erase(0, lf + 1);
                if (line.starts_with("GROUP ")) {
                    out += "211 " + std::to_string(m_count) + " 1 " + std::to_string(m_count) +
                           " quillo.canned\r\n";
                } else if (line.starts_with("HEAD ")) {
                    const int number = std::atoi(line.c_str() + 5);
                    out += number >= 1 && number <= m_count
                               ? m_heads[static_cast<std::size_t>(number)]
                               : "423 No such article number\r\n";
                } else if (line.starts_with("QUIT")) {
                    out += "205 Bye!\r\n";
                    ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
                    return;
                } else {
                    out += "500 What?\r\n";
                }
            }
        }
    }

    int m_count;
    std::vector<std::string> m_heads;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
};

// ---- the bare client: pipelined HEAD, replies read and dropped ----

struct BareResult {
    long long headers = 0;
    long long bytes = 0;
    double seconds = 0;
    double cpu = 0;
};

bool ReadLineFrom(int fd, std::string& buffer, std::size_t& pos, std::string& line) {
    for (;;) {
        const std::size_t lf = buffer.find('\n', pos);
        if (lf != std::string::npos) {
            line.assign(buffer, pos, lf + 1 - pos);
            pos = lf + 1;
            if (pos > (1 << 20)) {
                buffer.erase(0, pos);
                pos = 0;
            }
            return true;
        }
        char block[65536];
        const ssize_t n = ::recv(fd, block, sizeof block, 0);
        if (n <= 0)
            return false;
#ifdef TCP_QUICKACK
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
        buffer.append(block, static_cast<std::size_t>(n));
    }
}

BareResult BareHeadClient(int port, const std::string& group, int depth) {
    BareResult result;
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return result;
    std::string buffer, line;
    std::size_t pos = 0;
    ReadLineFrom(fd, buffer, pos, line); // greeting
    const std::string groupCommand = "GROUP " + group + "\r\n";
    ::send(fd, groupCommand.data(), groupCommand.size(), MSG_NOSIGNAL);
    ReadLineFrom(fd, buffer, pos, line);
    long long count = 0, first = 0, last = -1;
    std::sscanf(line.c_str(), "211 %lld %lld %lld", &count, &first, &last);
    long long next = first;
    // Sends are small and never block here: the window keeps the outstanding replies within
    // what the server may write ahead.
    auto topUp = [&](long long answered) {
        std::string commands;
        for (; next <= last && next - answered < depth; ++next)
            commands += "HEAD " + std::to_string(next) + "\r\n";
        if (!commands.empty())
            ::send(fd, commands.data(), commands.size(), MSG_NOSIGNAL);
    };
    for (long long n = first; n <= last; ++n) {
        if (next - n < depth - depth / 4)
            topUp(n);
        if (!ReadLineFrom(fd, buffer, pos, line))
            break;
        result.bytes += static_cast<long long>(line.size());
        if (line.starts_with("221")) {
            ++result.headers;
            while (ReadLineFrom(fd, buffer, pos, line)) {
                result.bytes += static_cast<long long>(line.size());
                if (line == ".\r\n")
                    break;
            }
        }
    }
    ::send(fd, "QUIT\r\n", 6, MSG_NOSIGNAL);
    ::close(fd);
    result.seconds = SecondsSince(start);
    result.cpu = ThreadCpuSeconds() - cpuStart;
    return result;
}

// ---- the download itself ----

class QuietWindow : public IProgress, public IHeaderDownloadView {
public:
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void PumpMessages() override {}
    void ShowMessage(const std::string& utf8) override {
        std::fprintf(stderr, "message: %s\n", utf8.c_str());
    }
};

struct DownloadResult {
    int stored = 0;
    double seconds = 0;
    double cpu = 0;
};

int g_commitBatch = kHeaderCommitBatch;

DownloadResult Download(const std::string& baseDir, const std::string& group, int depth) {
    HeaderDownloadParams params;
    params.server = "127.0.0.1";
    params.group = group;
    params.baseDir = baseDir;
    params.mainDbPath = baseDir + "/quillo.mdb";
    params.pipelineDepth = depth;
    params.commitBatch = g_commitBatch;
    CreateGroupDirectory(baseDir, params.server, group);
    CreateDatabaseTable("127001", {"GROUP"}, params.mainDbPath);
    QuietWindow window;
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    DownloadResult result;
    result.stored = DownloadHeaders(params, window, window);
    result.seconds = SecondsSince(start);
    result.cpu = ThreadCpuSeconds() - cpuStart;
    return result;
}

void Report(const std::string& group, const char* network, const char* what, long long headers,
            double seconds, double cpu, double bare) {
    const double rate = seconds > 0 ? headers / seconds : 0;
    std::printf("%-34s %-8s %-22s %7lld %8.3f s %7.0f headers/s  cpu %5.1f us/header",
                group.c_str(), network, what, headers, seconds, rate,
                headers ? 1e6 * cpu / headers : 0.0);
    if (bare > 0)
        std::printf("  %5.1f%% of bare loopback", 100.0 * rate / bare);
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    int port = 119;
    int delayMs = 10;
    int depth = kHeadPipelineDepth;
    bool loopbackOnly = false;
    int canned = 0;
    std::vector<std::string> groups;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (arg == "--delay-ms" && i + 1 < argc)
            delayMs = std::atoi(argv[++i]);
        else if (arg == "--depth" && i + 1 < argc)
            depth = std::atoi(argv[++i]);
        else if (arg == "--loopback-only")
            loopbackOnly = true;
        else if (arg == "--commit-batch" && i + 1 < argc)
            g_commitBatch = std::atoi(argv[++i]);
        else if (arg == "--canned" && i + 1 < argc)
            canned = std::atoi(argv[++i]);
        else
            groups.push_back(arg);
    }
    std::unique_ptr<CannedServer> cannedServer;
    if (canned > 0) {
        cannedServer = std::make_unique<CannedServer>(canned);
        port = cannedServer->Port();
        groups = {"quillo.canned"};
    }
    if (groups.empty()) {
        std::fprintf(stderr,
                     "usage: %s [--port P] [--delay-ms D] [--depth N] [--loopback-only] "
                     "GROUP...\n",
                     argv[0]);
        return 2;
    }
    SetNntpTimeouts(10000, 60000);

    for (const std::string& group : groups) {
        SetDefaultNntpPort(port);
        const BareResult bare = BareHeadClient(port, group, depth);
        const double bareRate = bare.seconds > 0 ? bare.headers / bare.seconds : 0;
        Report(group, "loopback", "bare pipelined HEAD", bare.headers, bare.seconds, bare.cpu, 0);
        {
            TestDir base;
            const DownloadResult empty = Download(base.Path(), group, depth);
            Report(group, "loopback", "download, empty group", empty.stored, empty.seconds,
                   empty.cpu, bareRate);
            const DownloadResult full = Download(base.Path(), group, depth);
            Report(group, "loopback", "download, full group", full.stored, full.seconds, full.cpu,
                   bareRate);
        }
        if (loopbackOnly)
            continue;

        DelayProxy proxy(port, delayMs);
        SetDefaultNntpPort(proxy.Port());
        const std::string network = "+" + std::to_string(2 * delayMs) + " ms";
        const BareResult slowBare = BareHeadClient(proxy.Port(), group, depth);
        Report(group, network.c_str(), "bare pipelined HEAD", slowBare.headers, slowBare.seconds,
               slowBare.cpu, 0);
        TestDir base;
        const DownloadResult empty = Download(base.Path(), group, depth);
        Report(group, network.c_str(), "download, empty group", empty.stored, empty.seconds,
               empty.cpu, 0);
        const DownloadResult full = Download(base.Path(), group, depth);
        Report(group, network.c_str(), "download, full group", full.stored, full.seconds, full.cpu,
               0);
    }
    return 0;
}
