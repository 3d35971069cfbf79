#include "nntp/NntpSocket.h"

#include "nntp/TlsEngine.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kDefaultPort = 119;
constexpr int kDefaultTimeoutMs = 60000;
// Long enough not to spin, short enough that the window never feels stuck.
constexpr int kWaitSliceMs = 20;
constexpr std::size_t kReceiveBlock = 65536;
constexpr int kMaxConnectAttempts = 100;
// Once this much has been handed out from the front of the input, it is moved away.
constexpr std::size_t kCompactThreshold = 65536;

std::atomic<int> g_port{kDefaultPort};
std::atomic<int> g_connectTimeoutMs{kDefaultTimeoutMs};
std::atomic<int> g_receiveTimeoutMs{kDefaultTimeoutMs};
std::function<void()> g_pumpHook;
std::function<std::vector<std::string>(const std::string&)> g_resolver;

void CallPumpHook() {
    if (g_pumpHook)
        g_pumpHook();
}

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_UNSPEC;
};

std::vector<Address> GetAddresses(const std::string& host, int port, int flags) {
    std::vector<Address> found;
    if (host.empty() || port < 0 || port > 65535)
        return found;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0)
        return found;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Address address;
        std::memcpy(&address.storage, ai->ai_addr, ai->ai_addrlen);
        address.length = ai->ai_addrlen;
        address.family = ai->ai_family;
        found.push_back(address);
    }
    ::freeaddrinfo(list);
    return found;
}

// A name lookup can take seconds; it runs on a thread of its own while this one keeps pumping.
// The thread owns its share of the result, so giving up on a slow lookup is safe.
std::vector<Address> LookUpName(const std::string& host, int port) {
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::vector<Address> addresses;
    };
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, port] {
            std::vector<Address> addresses = GetAddresses(host, port, 0);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->addresses = std::move(addresses);
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return GetAddresses(host, port, 0);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(g_connectTimeoutMs.load());
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(lookup->mutex);
            if (lookup->done.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs),
                                      [&] { return lookup->finished; }))
                return std::move(lookup->addresses);
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return {};
        CallPumpHook();
    }
}

std::vector<Address> ResolveHost(const std::string& host, int port) {
    if (g_resolver) {
        std::vector<Address> addresses;
        for (const std::string& text : g_resolver(host)) {
            std::vector<Address> one = GetAddresses(text, port, AI_NUMERICHOST);
            addresses.insert(addresses.end(), one.begin(), one.end());
        }
        return addresses;
    }
    std::vector<Address> numeric = GetAddresses(host, port, AI_NUMERICHOST);
    if (!numeric.empty())
        return numeric;
    return LookUpName(host, port);
}

bool IsMultiLineCode(std::string_view line) {
    static constexpr std::string_view kCodes[] = {"100", "101", "215", "220", "221",
                                                  "222", "224", "225", "230", "231"};
    std::string_view code = line.substr(0, line.find_first_of(" \r\n"));
    return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

// A line loses one LF, then one CR, then one more LF and CR, so "\r\r\n" endings go as well.
void StripLineEnd(std::string& line) {
    for (char c : {'\n', '\r', '\n', '\r'}) {
        if (!line.empty() && line.back() == c)
            line.pop_back();
    }
}

std::chrono::milliseconds ReceiveTimeout() {
    return std::chrono::milliseconds(g_receiveTimeoutMs.load());
}

// The time a transfer of this many bytes may take beyond the time-out.
std::chrono::milliseconds TransferAllowance(std::size_t bytes) {
    return std::chrono::milliseconds(static_cast<long long>(bytes) * 1000 /
                                     static_cast<long long>(CNntpSocket::kMinBytesPerSecond));
}

// A peer that went away, as opposed to a local fault.
bool IsPeerGone(int error) {
    return error == ECONNRESET || error == EPIPE || error == ECONNABORTED;
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, kWaitSliceMs));
}

} // namespace

int WsaErrorFromErrno(int error) {
    switch (error) {
    case EAGAIN:
        return kWsaEWouldBlock;
    case EINPROGRESS:
    case EALREADY:
        return kWsaEInProgress;
    case ENOTSOCK:
    case EBADF:
        return kWsaENotSock;
    case EDESTADDRREQ:
        return kWsaEDestAddrReq;
    case EAFNOSUPPORT:
    case EPFNOSUPPORT:
        return kWsaEAfNoSupport;
    case EADDRINUSE:
        return kWsaEAddrInUse;
    case EADDRNOTAVAIL:
        return kWsaEAddrNotAvail;
    case ENETDOWN:
        return kWsaENetDown;
    case ENETUNREACH:
        return kWsaENetUnreach;
    case ECONNABORTED:
        return kWsaEConnAborted;
    case ECONNRESET:
        return kWsaEConnReset;
    case ENOBUFS:
    case ENOMEM:
        return kWsaENoBufs;
    case EISCONN:
        return kWsaEIsConn;
    case ENOTCONN:
        return kWsaENotConn;
    case EPIPE:
    case ESHUTDOWN:
        return kWsaEShutdown;
    case ETIMEDOUT:
        return kWsaETimedOut;
    case ECONNREFUSED:
        return kWsaEConnRefused;
    case EHOSTUNREACH:
        return kWsaEHostUnreach;
    case ENFILE:
        return kWsaEMFile;
    default:
        return error < 35 ? 10000 + error : 20000 + error;
    }
}

std::string NntpErrorText(int error) {
    switch (error) {
    case kWsaEFault:
        return "引数 nSockAddrLen が不正です。";
    case kWsaEInval:
        return "ホスト アドレスが無効です。";
    case kWsaEMFile:
        return "利用できるファイル ディスクリプタがありません。";
    case kWsaEWouldBlock:
        return "ソケットが非ブロッキングになっていて、接続が完了できません。 ";
    case kWsaEInProgress:
        return "実行中の Windows ソケット操作がブロッキングされています。";
    case kWsaENotSock:
        return "ディスクリプタがソケットではありません。";
    case kWsaEDestAddrReq:
        return "宛先アドレスが必要です。";
    case kWsaEAfNoSupport:
        return "指定したアドレス ファミリは、このソケットではサポートしていません。";
    case kWsaEAddrInUse:
        return "指定したアドレスは使用中です。";
    case kWsaEAddrNotAvail:
        return "指定したアドレスは、ローカル マシンからは利用できません。";
    case kWsaENetDown:
        return "Windows ソケットのインプリメントが、ネットワーク "
               "サブシステムの異常を検出しました。";
    case kWsaENetUnreach:
        return "現時点で、ホストからネットワークに到達できません。";
    case kWsaENoBufs:
        return "利用できるバッファ領域がありません。ソケットは接続できません。";
    case kWsaEIsConn:
        return "ソケットは既に接続されています。";
    case kWsaETimedOut:
        return "接続を試みましたが、タイムアウトで接続を確立できませんでした。";
    case kWsaEConnRefused:
        return "接続を試みましたが、リジェクトされました。";
    case kWsaNotInitialised:
        return "この API を使う前に AfxSocketInit の呼び出しが正常終了していることが必要です。";
    default:
        return std::string();
    }
}

int DefaultNntpPort() {
    return g_port.load();
}
void SetDefaultNntpPort(int port) {
    g_port.store(port);
}

void SetNntpPumpHook(std::function<void()> hook) {
    g_pumpHook = std::move(hook);
}

void SetNntpTimeouts(int connectMs, int receiveMs) {
    g_connectTimeoutMs.store(connectMs);
    g_receiveTimeoutMs.store(receiveMs);
}
int NntpConnectTimeoutMs() {
    return g_connectTimeoutMs.load();
}
int NntpReceiveTimeoutMs() {
    return g_receiveTimeoutMs.load();
}

void SetNntpResolver(std::function<std::vector<std::string>(const std::string& host)> resolver) {
    g_resolver = std::move(resolver);
}

CNntpSocket::CNntpSocket() : m_lastPump(Clock::now()) {}

CNntpSocket::~CNntpSocket() {
    CloseSocket();
}

void CNntpSocket::SetHost(const std::string& host) {
    m_host = host;
}

bool CNntpSocket::Open() {
    if (m_host.empty())
        return false;
    if (m_fd >= 0)
        return true;
    int error = 0;
    if (!CreateSocket(AF_INET, error)) {
        m_lastError = error;
        return false;
    }
    return true;
}

bool CNntpSocket::CreateSocket(int family, int& error) {
    CloseSocket();
    m_fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = WsaErrorFromErrno(errno);
        return false;
    }
    return true;
}

void CNntpSocket::CloseSocket() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_connected = false;
}

void CNntpSocket::Cleanup() {}

bool CNntpSocket::Connect(const std::string& host, int port) {
    if (m_connected)
        return true;
    std::vector<Address> addresses = ResolveHost(host, port);
    if (addresses.empty()) {
        m_lastError = kWsaEInval;
        return false;
    }
    // Without the socket of a successful Open there is nothing to connect.
    if (m_fd < 0) {
        if (m_lastError == 0)
            m_lastError = kWsaENotSock;
        return false;
    }
    int family = AF_INET;
    bool unused = true;
    int attempts = 0;
    for (const Address& address : addresses) {
        for (;;) {
            ++attempts;
            int error = 0;
            // A socket whose connect failed is in no defined state, so each attempt gets a new one.
            bool ready = true;
            if (!unused || family != address.family) {
                ready = CreateSocket(address.family, error);
                family = address.family;
            }
            unused = false;
            if (ready && ConnectAddress(reinterpret_cast<const sockaddr*>(&address.storage),
                                        address.length, error)) {
                m_connected = true;
                return true;
            }
            m_lastError = error;
            if (attempts >= kMaxConnectAttempts)
                return false;
            if (error == kWsaEIsConn) {
                m_connected = true;
                return true;
            }
            if (error != kWsaEAddrInUse)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return false;
}

bool CNntpSocket::ConnectAddress(const sockaddr* address, unsigned length, int& error) {
    if (::connect(m_fd, address, length) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            error = WsaErrorFromErrno(errno);
            return false;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(g_connectTimeoutMs.load());
        short revents = 0;
        if (!WaitFor(POLLOUT, deadline, revents)) {
            error = kWsaETimedOut;
            return false;
        }
        int pending = 0;
        socklen_t size = sizeof pending;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0)
            pending = errno;
        if (pending != 0) {
            error = WsaErrorFromErrno(pending);
            return false;
        }
    }
    // Commands are small writes that must leave at once, and each reply is waited for.
    int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

int CNntpSocket::SendCommand(std::string_view command) {
    if (!m_connected) {
        m_lastError = kWsaENotConn;
        return -1;
    }
    if (IsDead())
        return -1;
    if (!m_tls)
        return SendRaw(command);
    if (!m_tls->HandshakeDone() || !m_tls->Write(command)) {
        Fail(NntpFailure::Failed, kWsaEConnAborted);
        return -1;
    }
    if (SendRaw(m_tls->TakeNetworkBytes()) < 0)
        return -1;
    return static_cast<int>(command.size());
}

int CNntpSocket::SendRaw(std::string_view command) {
    const auto deadline = Clock::now() + ReceiveTimeout() + TransferAllowance(command.size());
    std::size_t sent = 0;
    while (sent < command.size()) {
        ssize_t n = ::send(m_fd, command.data() + sent, command.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Take in what the server sends meanwhile, or it may stop reading our commands; but
            // only so much, or a server that never reads could fill our memory.
            const bool reading = !IsDead() && m_in.size() - m_inPos < kMaxBufferedInput;
            short revents = 0;
            if (!WaitFor(static_cast<short>(POLLOUT | (reading ? POLLIN : 0)), deadline, revents)) {
                Fail(NntpFailure::TimedOut, kWsaETimedOut);
                return -1;
            }
            if (reading && (revents & POLLIN))
                ReceiveAvailable();
            continue;
        }
        const int error = n < 0 ? errno : EPIPE;
        Fail(IsPeerGone(error) ? NntpFailure::Closed : NntpFailure::Failed,
             WsaErrorFromErrno(error));
        return -1;
    }
    return static_cast<int>(sent);
}

CNntpSocket::ReceiveResult CNntpSocket::ReceiveAvailable() {
    if (!m_tls)
        return ReceiveRaw(m_in);
    for (;;) {
        std::string cipher;
        const ReceiveResult raw = ReceiveRaw(cipher);
        if (raw != ReceiveResult::Data) {
            // A close without TLS's own close_notify still ends the reply as a close does.
            return raw;
        }
        m_tls->PutNetworkBytes(cipher);
        if (!m_tls->HandshakeDone())
            return ReceiveResult::Data;
        switch (m_tls->ReadAvailable(m_in)) {
        case CTlsEngine::Read::Data:
            return ReceiveResult::Data;
        case CTlsEngine::Read::WantRead:
            continue; // a record only part of which has come
        case CTlsEngine::Read::Closed:
            m_eof = true;
            return ReceiveResult::Closed;
        case CTlsEngine::Read::Failed:
            Fail(NntpFailure::Failed, kWsaEConnAborted);
            return ReceiveResult::Failed;
        }
    }
}

CNntpSocket::ReceiveResult CNntpSocket::ReceiveRaw(std::string& bytes) {
    char block[kReceiveBlock];
    for (;;) {
        ssize_t n = ::recv(m_fd, block, sizeof block, 0);
        if (n > 0) {
#ifdef TCP_QUICKACK
            // The kernel drops quick-ack mode again and again; without it the server's next small
            // reply waits for our delayed ACK.
            if (m_quickAck) {
                int one = 1;
                ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            }
#endif
            bytes.append(block, static_cast<std::size_t>(n));
            return ReceiveResult::Data;
        }
        if (n == 0) {
            m_eof = true;
            return ReceiveResult::Closed;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return ReceiveResult::WouldBlock;
        Fail(IsPeerGone(errno) ? NntpFailure::Closed : NntpFailure::Failed,
             WsaErrorFromErrno(errno));
        return ReceiveResult::Failed;
    }
}

bool CNntpSocket::Receive(Clock::time_point deadline) {
    if (IsDead())
        return false;
    if (!m_connected) {
        Fail(NntpFailure::Failed, kWsaENotConn);
        return false;
    }
    for (;;) {
        switch (ReceiveAvailable()) {
        case ReceiveResult::Data:
            return true;
        case ReceiveResult::Closed:
        case ReceiveResult::Failed:
            return false;
        case ReceiveResult::WouldBlock:
            break;
        }
        short revents = 0;
        if (!WaitFor(POLLIN, deadline, revents)) {
            // The reply's framing is lost now: a late answer would be taken for the next one.
            Fail(NntpFailure::TimedOut, kWsaETimedOut);
            return false;
        }
    }
}

bool CNntpSocket::StartTls(const std::string& host, const std::string& trustedFingerprint) {
    if (!m_connected || IsDead() || m_tls) {
        if (m_lastError == 0)
            m_lastError = kWsaENotConn;
        return false;
    }
    m_tls = std::make_unique<CTlsEngine>();
    if (!m_tls->Start(host, trustedFingerprint))
        return false;
    // A server sends nothing after "382" until the client's hello; anything it did is TLS.
    m_tls->PutNetworkBytes(std::string_view(m_in).substr(m_inPos));
    m_in.clear();
    m_inPos = 0;
    const auto deadline = Clock::now() + ReceiveTimeout();
    for (;;) {
        const CTlsEngine::Progress progress = m_tls->Handshake();
        const std::string out = m_tls->TakeNetworkBytes();
        if (!out.empty() && SendRaw(out) < 0)
            return false;
        if (progress == CTlsEngine::Progress::Done) {
            // Application data that came with the last handshake bytes.
            m_tls->ReadAvailable(m_in);
            return true;
        }
        if (progress == CTlsEngine::Progress::Failed) {
            Fail(NntpFailure::Failed, kWsaEConnAborted);
            return false;
        }
        std::string in;
        switch (ReceiveRaw(in)) {
        case ReceiveResult::Data:
            m_tls->PutNetworkBytes(in);
            continue;
        case ReceiveResult::WouldBlock:
            break;
        case ReceiveResult::Closed:
            Fail(NntpFailure::Closed, kWsaEConnReset);
            m_tls->Handshake();
            return false;
        case ReceiveResult::Failed:
            return false;
        }
        short revents = 0;
        if (!WaitFor(POLLIN, deadline, revents)) {
            Fail(NntpFailure::TimedOut, kWsaETimedOut);
            return false;
        }
    }
}

void CNntpSocket::Reset() {
    CloseSocket();
    m_tls.reset();
    m_lastError = 0;
    m_in.clear();
    m_inPos = 0;
    m_eof = false;
    m_failure = NntpFailure::None;
    m_reply = ReplyState::None;
    m_lastReplyWhole = false;
    m_replyBytes = 0;
    ClearGroupTable();
    m_listStatus.clear();
}

bool CNntpSocket::IsTls() const {
    return m_tls && m_tls->HandshakeDone();
}

void CNntpSocket::Fail(NntpFailure failure, int error) {
    if (m_failure != NntpFailure::None)
        return;
    m_failure = failure;
    if (error != 0)
        m_lastError = error;
}

NntpFailure CNntpSocket::GetFailure() const {
    if (m_failure != NntpFailure::None)
        return m_failure;
    return m_eof ? NntpFailure::Closed : NntpFailure::None;
}

CNntpSocket::Clock::time_point CNntpSocket::ReplyDeadline() const {
    return m_replyStart + ReceiveTimeout() + TransferAllowance(m_replyBytes);
}

void CNntpSocket::EndReply(bool whole) {
    m_reply = ReplyState::None;
    m_lastReplyWhole = whole;
}

bool CNntpSocket::WaitFor(short events, Clock::time_point deadline, short& revents) {
    for (;;) {
        PumpIfDue();
        pollfd entry{m_fd, events, 0};
        int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
        if (ready > 0) {
            revents = entry.revents;
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            // Let the socket call that follows report what went wrong.
            revents = POLLERR;
            return true;
        }
        if (Clock::now() >= deadline)
            return false;
    }
}

void CNntpSocket::PumpIfDue() {
    if (!g_pumpHook)
        return;
    const auto now = Clock::now();
    if (now - m_lastPump < std::chrono::milliseconds(kWaitSliceMs))
        return;
    m_lastPump = now;
    g_pumpHook();
}

void CNntpSocket::CompactInput() {
    if (m_inPos == m_in.size()) {
        m_in.clear();
        m_inPos = 0;
    } else if (m_inPos >= kCompactThreshold && m_inPos * 2 >= m_in.size()) {
        m_in.erase(0, m_inPos);
        m_inPos = 0;
    }
}

CNntpSocket::LineResult CNntpSocket::ReadRawLine(std::string& line, std::size_t keep) {
    line.clear();
    const Clock::time_point lineDeadline = Clock::now() + ReceiveTimeout();
    std::size_t length = 0;
    for (;;) {
        const char* begin = m_in.data() + m_inPos;
        const std::size_t available = m_in.size() - m_inPos;
        const char* lf = static_cast<const char*>(std::memchr(begin, '\n', available));
        const std::size_t take = lf ? static_cast<std::size_t>(lf - begin) + 1 : available;
        if (length + take > kMaxLineBytes) {
            Fail(NntpFailure::LineTooLong, 0);
            return LineResult::Failed;
        }
        if (line.size() < keep)
            line.append(begin, std::min(take, keep - line.size()));
        length += take;
        m_replyBytes += take;
        m_inPos += take;
        CompactInput();
        if (lf)
            return LineResult::Line;
        if (!Receive(std::min(lineDeadline, ReplyDeadline())))
            return m_failure == NntpFailure::None ? LineResult::Closed : LineResult::Failed;
    }
}

CNntpSocket::LineResult CNntpSocket::ReadStatusLine(std::string& line) {
    m_replyStart = Clock::now();
    m_replyBytes = 0;
    return ReadRawLine(line, kMaxStatusLine);
}

int CNntpSocket::ReadResponse(std::string& text) {
    std::string line;
    while (m_reply != ReplyState::None)
        ReadLine(line);
    const LineResult result = ReadStatusLine(line);
    if (result == LineResult::Failed)
        return -1;
    if (result == LineResult::Closed) {
        // A status line without its line end is no reply.
        text.clear();
        return 0;
    }
    if (IsMultiLineCode(line))
        m_reply = ReplyState::Body;
    text = std::move(line);
    return static_cast<int>(text.size());
}

bool CNntpSocket::ReadLine(std::string& text) {
    text.clear();
    if (m_reply == ReplyState::EndPending) {
        EndReply(true);
        return false;
    }
    std::string line;
    if (m_reply == ReplyState::None) {
        if (ReadStatusLine(line) != LineResult::Line) {
            EndReply(false);
            return false;
        }
        m_reply = IsMultiLineCode(line) ? ReplyState::Body : ReplyState::EndPending;
        StripLineEnd(line);
        text = std::move(line);
        return true;
    }
    // Read into the caller's buffer: a reply's lines then reuse one allocation.
    if (ReadRawLine(text, std::string::npos) != LineResult::Line) {
        // Whatever part of a line came is not handed out: the reply is cut.
        text.clear();
        EndReply(false);
        return false;
    }
    StripLineEnd(text);
    if (text == ".") {
        text.clear();
        EndReply(true);
        return false;
    }
    if (text.starts_with(".."))
        text.erase(0, 1);
    return true;
}

bool CNntpSocket::SplitStatus(std::string_view text, std::string& code, std::string& rest) {
    code.clear();
    rest.clear();
    const std::string_view copy = text.substr(0, kMaxSplitText);
    std::size_t end = copy.find(' ');
    std::size_t restStart = end + 1;
    if (end == std::string_view::npos) {
        // A bare code ("200", "215\r\n"): RFC 3977 lets the text after it out. Only a line that
        // ends within what is looked at is one.
        end = copy.find_first_of("\r\n");
        if (end == std::string_view::npos && text.size() > copy.size())
            return false;
        end = std::min(end, copy.size());
        if (end == 0)
            return false;
        restStart = end;
    }
    code.assign(copy.substr(0, end));
    rest.assign(copy.substr(restStart));
    return true;
}
