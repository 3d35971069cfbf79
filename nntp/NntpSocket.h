#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Error numbers are those of Windows Sockets, so every caller shows the same texts whatever the
// platform reported.
inline constexpr int kWsaEFault = 10014;
inline constexpr int kWsaEInval = 10022;
inline constexpr int kWsaEMFile = 10024;
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEInProgress = 10036;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEDestAddrReq = 10039;
inline constexpr int kWsaEAfNoSupport = 10047;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaEAddrNotAvail = 10049;
inline constexpr int kWsaENetDown = 10050;
inline constexpr int kWsaENetUnreach = 10051;
inline constexpr int kWsaEConnAborted = 10053;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaENoBufs = 10055;
inline constexpr int kWsaEIsConn = 10056;
inline constexpr int kWsaENotConn = 10057;
inline constexpr int kWsaEShutdown = 10058;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaEHostUnreach = 10065;
inline constexpr int kWsaNotInitialised = 10093;

// The Windows Sockets number for a platform errno. Numbers below 35 are shared by both numbering
// schemes; anything else without a counterpart becomes 20000 + errno, which has no text.
int WsaErrorFromErrno(int error);
// The Japanese message for a Windows Sockets error number; empty for a number without one.
std::string NntpErrorText(int error);

// The port every conversation connects to: 119 unless a test points it at its own server.
int DefaultNntpPort();
void SetDefaultNntpPort(int port);

// Called between the short slices in which connect, send, receive and the host lookup wait, so
// the window stays alive. The user interface sets it once at start-up; core code leaves it empty.
void SetNntpPumpHook(std::function<void()> hook);

// How long a connect attempt may take (each address on its own) and how long a receive may wait
// for data before it fails with WSAETIMEDOUT; sending waits as long for the server to take more.
// Both default to 60 s; tests shorten them.
void SetNntpTimeouts(int connectMs, int receiveMs);
int NntpConnectTimeoutMs();
int NntpReceiveTimeoutMs();

// Replaces the host-name lookup (numeric address texts, in the order they are tried). Tests use
// it for names that resolve to several addresses; an empty function restores the system lookup.
void SetNntpResolver(std::function<std::vector<std::string>(const std::string& host)> resolver);

class CTlsEngine;

// One conversation with a news server over TCP.
//
// Replies are read whole whatever the segmentation: a reply whose status code is one of 100
// 101 215 220 221 222 224 225 230 231 runs to its "." line, any other ends with its status line.
// Bytes that arrive after the end of a reply stay buffered for the next one, so commands may be
// pipelined. While SendCommand waits for the server to take more, it keeps reading what the
// server sends, so a pipelining caller cannot deadlock against a server that will not read on
// until its replies are taken.
class CNntpSocket {
public:
    // Longest status line handed out, line end included; the rest of a longer line is dropped.
    static constexpr std::size_t kMaxStatusLine = 10239;
    // Only this much of a text is looked at by SplitStatus.
    static constexpr std::size_t kMaxSplitText = 1023;
    // Only this much of a LIST line is looked at by ParseListLine.
    static constexpr std::size_t kMaxListLine = 1023;

    CNntpSocket();
    virtual ~CNntpSocket();
    CNntpSocket(const CNntpSocket&) = delete;
    CNntpSocket& operator=(const CNntpSocket&) = delete;

    void SetHost(const std::string& host);
    // False for an empty host or when no socket can be created.
    bool Open();
    // Tries each address of the host in turn; an unresolvable host fails with WSAEINVAL.
    bool Connect(const std::string& host, int port);
    // Bytes sent (the whole text), or -1; the caller includes the "\r\n".
    int SendCommand(std::string_view command);
    // One whole status line with its line end (cut at kMaxStatusLine). Returns its length in
    // bytes, 0 when the server closed first (text empty), -1 on failure (text unchanged). What
    // is left of a reply that ReadLine was handing out is skipped first. When the line opens a
    // multi-line reply, ReadLine goes on with that reply's lines.
    int ReadResponse(std::string& text);
    // The next line of the current reply without its line end; a new reply starts with its
    // status line. Data lines are dot-unstuffed and the "." line is not handed out. Returns
    // false (text empty) once at the end of each reply; after a receive failure or time-out the
    // lines received so far come first.
    bool ReadLine(std::string& text);
    // Splits at the first blank: code before it, rest after it (line end kept). False, with both
    // empty, when there is no blank within the first kMaxSplitText bytes.
    static bool SplitStatus(std::string_view text, std::string& code, std::string& rest);
    // Nothing to release on this platform; the socket closes with the object.
    void Cleanup();

    // Turns the connection into TLS (at once for implicit TLS, after "382" for STARTTLS). The
    // handshake waits as a receive does, pumping, under the receive time-out. False when it
    // fails; TlsEngine() then says why (a refused certificate among other things). From then on
    // commands and replies pass through TLS.
    bool StartTls(const std::string& host, const std::string& trustedFingerprint);
    bool IsTls() const;
    // Back to a new object's state, the connection closed, so the object can connect again.
    void Reset();
    // The session of StartTls, or null before it.
    const CTlsEngine* TlsEngine() const { return m_tls.get(); }
    int GetLastError() const { return m_lastError; }
    std::string GetErrorText() const { return NntpErrorText(m_lastError); }

    // LIST into the group table, which takes every group the server lists. False when the
    // command cannot be sent whole or the reply is not "215" (the reply is still read to its
    // end); the table is emptied first either way.
    bool ListGroups();
    // Splits a LIST line "name last first flag" at its first three blanks (the flag keeps any
    // further blanks). False, with all four empty, for a line of fewer than three blanks within
    // its first kMaxListLine bytes.
    static bool ParseListLine(std::string_view line, std::string& name, std::string& last,
                              std::string& first, std::string& flag);
    int GetGroupCount() const { return static_cast<int>(m_groups.size()); }
    // Name of entry index of the group table; empty for an index outside it.
    std::string GetGroupName(int index) const;
    // The status line of the last LIST reply (without its line end); empty when none came.
    const std::string& GetListStatus() const { return m_listStatus; }

private:
    // One line of a LIST reply, in the order of its fields.
    struct GroupEntry {
        std::string name;
        std::string last;  // highest article number
        std::string first; // lowest article number
        std::string flag;  // posting status
    };

    enum class LineResult { Line, Closed, Failed };
    enum class ReceiveResult { Data, WouldBlock, Closed, Failed };
    enum class ReplyState { None, Body, EndPending };
    using Clock = std::chrono::steady_clock;

    bool ConnectAddress(const struct sockaddr* address, unsigned length, int& error);
    int SendRaw(std::string_view bytes);
    ReceiveResult ReceiveRaw(std::string& bytes);
    bool CreateSocket(int family, int& error);
    void CloseSocket();
    LineResult ReadRawLine(std::string& line, std::size_t limit);
    bool Receive();
    ReceiveResult ReceiveAvailable();
    void CompactInput();
    bool WaitFor(short events, Clock::time_point deadline, short& revents);
    void PumpIfDue();
    void Fail(int error);

    std::string m_host;
    int m_fd = -1;
    bool m_connected = false;
    int m_lastError = 0;
    // Received bytes not yet handed out, from m_inPos on.
    std::string m_in;
    std::size_t m_inPos = 0;
    bool m_eof = false;
    bool m_receiveFailed = false;
    ReplyState m_reply = ReplyState::None;
    Clock::time_point m_lastPump;
    std::vector<GroupEntry> m_groups;
    std::string m_listStatus;
    std::unique_ptr<CTlsEngine> m_tls;
};
