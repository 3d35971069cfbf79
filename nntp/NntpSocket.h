#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
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

// How long a connect attempt may take (each address on its own), and the time-out T of the
// deadlines below. Both default to 60 s; tests shorten them.
void SetNntpTimeouts(int connectMs, int receiveMs);
int NntpConnectTimeoutMs();
int NntpReceiveTimeoutMs();

// Replaces the host-name lookup (numeric address texts, in the order they are tried). Tests use
// it for names that resolve to several addresses; an empty function restores the system lookup.
void SetNntpResolver(std::function<std::vector<std::string>(const std::string& host)> resolver);

class CTlsEngine;

// Why a conversation ended before its time. Once it has, the connection is dead: nothing more is
// received or sent, and every reply asked for after it is cut.
enum class NntpFailure {
    None,
    Closed,      // the server closed the connection (or reset it)
    TimedOut,    // a deadline below passed
    LineTooLong, // a line longer than CNntpSocket::kMaxLineBytes
    TooLarge,    // a reply larger than its caller allows (see ListGroups)
    Failed,      // receiving or sending failed otherwise; GetLastError tells how
};

// One conversation with a news server over TCP.
//
// Replies are read whole whatever the segmentation: a reply whose status code is one of 100
// 101 215 220 221 222 224 225 230 231 runs to its "." line, any other ends with its status line.
// Bytes that arrive after the end of a reply stay buffered for the next one, so commands may be
// pipelined. While SendCommand waits for the server to take more, it keeps reading what the
// server sends (up to kMaxBufferedInput ahead), so a pipelining caller cannot deadlock against a
// server that will not read on until its replies are taken.
//
// A reply is whole when its status line and, for a multi-line reply, every line up to its "."
// line arrived, each with its line end. Anything else is a cut reply, and a cut always leaves
// the connection dead (GetFailure says why): a caller that finds a reply cut ends its work at
// once, keeps nothing of that reply, and tells the user.
//
// Deadlines, with T the receive time-out (SetNntpTimeouts):
// - A line, status line or data line, must arrive whole, line end included, within T of the
//   moment the reader starts to wait for it. Bytes trickling in do not extend it.
// - A whole reply may take T plus one second for every kMinBytesPerSecond bytes it has brought
//   so far, counted from when its status line was first asked for; so a server cannot hold a
//   call by trickling short lines either.
// - A command text must be taken by the server within T plus one second for every
//   kMinBytesPerSecond bytes of it.
// A passed deadline ends the conversation with NntpFailure::TimedOut (WSAETIMEDOUT).
//
// Bounds: a line longer than kMaxLineBytes ends the conversation (NntpFailure::LineTooLong), so
// a reader never holds more than about that much of one line. ListGroups bounds a LIST reply.
class CNntpSocket {
public:
    // Longest status line handed out, line end included; the rest of a longer line is dropped.
    static constexpr std::size_t kMaxStatusLine = 10239;
    // Only this much of a text is looked at by SplitStatus.
    static constexpr std::size_t kMaxSplitText = 1023;
    // Only this much of a LIST line is looked at by ParseListLine.
    static constexpr std::size_t kMaxListLine = 1023;
    // Longest line a server may send, line end included: far beyond any real header or article
    // line, small enough that a hostile line costs a few MiB.
    static constexpr std::size_t kMaxLineBytes = 4 * 1024 * 1024;
    // While sending, at most this much of the server's replies is taken in ahead of the reader.
    static constexpr std::size_t kMaxBufferedInput = 16 * 1024 * 1024;
    // The slowest a reply or a command may move once its first time-out has run.
    static constexpr std::size_t kMinBytesPerSecond = 1024;
    // A LIST reply may bring at most this much in all; a longer one is cut (TooLarge).
    static constexpr std::size_t kMaxListBytes = 256 * 1024 * 1024;
    // The group table keeps at most this many groups, and at most this many bytes of their
    // names; the lines after it is full are read and dropped (GroupTableFull). Twice the
    // largest real servers' lists.
    static constexpr int kMaxListGroups = 200000;
    static constexpr std::size_t kMaxGroupNameBytes = 16 * 1024 * 1024;

    CNntpSocket();
    virtual ~CNntpSocket();
    CNntpSocket(const CNntpSocket&) = delete;
    CNntpSocket& operator=(const CNntpSocket&) = delete;

    void SetHost(const std::string& host);
    // False for an empty host or when no socket can be created.
    bool Open();
    // Tries each address of the host in turn; an unresolvable host fails with WSAEINVAL.
    bool Connect(const std::string& host, int port);
    // Bytes sent (the whole text), or -1; the caller includes the "\r\n". Nothing is sent on a
    // dead connection.
    int SendCommand(std::string_view command);
    // One whole status line with its line end (cut at kMaxStatusLine). Returns its length in
    // bytes; 0 when the server closed before the line was whole (text empty); -1 on any other
    // failure (text unchanged). What is left of a reply that ReadLine was handing out is skipped
    // first. When the line opens a multi-line reply, ReadLine goes on with that reply's lines.
    int ReadResponse(std::string& text);
    // The next line of the current reply without its line end; a new reply starts with its
    // status line. Data lines are dot-unstuffed and the "." line is not handed out. Returns
    // false (text empty) once at the end of each reply; LastReplyWhole then tells whether the
    // reply was whole. A line that did not arrive whole is never handed out.
    bool ReadLine(std::string& text);
    // After ReadLine reported the end of a reply: true when that reply was whole, false when it
    // was cut (the connection is dead then).
    bool LastReplyWhole() const { return m_lastReplyWhole; }
    // None while the connection lives; otherwise why it died.
    NntpFailure GetFailure() const;
    // Splits at the first blank: code before it, rest after it (line end kept). A line without
    // a blank is a bare code: code is the text before its line end, rest the line end. Only the
    // first kMaxSplitText bytes are looked at; false, with both empty, for an empty code or a
    // longer text without a blank there.
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

    // LIST into the group table. False when the command cannot be sent whole, the reply is not
    // "215" (the reply is still read to its end) or the reply is cut, also by passing
    // kMaxListBytes (GetFailure tells); the table is empty then. The table is emptied first.
    bool ListGroups();
    // True when the last ListGroups filled the table to its bounds and dropped later groups.
    bool GroupTableFull() const { return m_groupTableFull; }
    // Splits a LIST line "name last first flag" at its first three blanks (the flag keeps any
    // further blanks). False, with all four empty, for a line of fewer than three blanks within
    // its first kMaxListLine bytes.
    static bool ParseListLine(std::string_view line, std::string& name, std::string& last,
                              std::string& first, std::string& flag);
    int GetGroupCount() const { return static_cast<int>(m_groupEnds.size()); }
    // Name of entry index of the group table; empty for an index outside it.
    std::string GetGroupName(int index) const;
    // The status line of the last LIST reply (without its line end); empty when none came.
    const std::string& GetListStatus() const { return m_listStatus; }

private:
    enum class LineResult { Line, Closed, Failed };
    enum class ReceiveResult { Data, WouldBlock, Closed, Failed };
    enum class ReplyState { None, Body, EndPending };
    using Clock = std::chrono::steady_clock;

    bool ConnectAddress(const struct sockaddr* address, unsigned length, int& error);
    int SendRaw(std::string_view bytes);
    ReceiveResult ReceiveRaw(std::string& bytes);
    bool CreateSocket(int family, int& error);
    void CloseSocket();
    LineResult ReadRawLine(std::string& line, std::size_t keep);
    LineResult ReadStatusLine(std::string& line);
    bool Receive(Clock::time_point deadline);
    ReceiveResult ReceiveAvailable();
    void CompactInput();
    bool WaitFor(short events, Clock::time_point deadline, short& revents);
    void PumpIfDue();
    void Fail(NntpFailure failure, int error);
    bool IsDead() const { return m_eof || m_failure != NntpFailure::None; }
    Clock::time_point ReplyDeadline() const;
    void EndReply(bool whole);
    void ClearGroupTable();

    std::string m_host;
    int m_fd = -1;
    bool m_connected = false;
    int m_lastError = 0;
    // Received bytes not yet handed out, from m_inPos on.
    std::string m_in;
    std::size_t m_inPos = 0;
    bool m_eof = false;
    NntpFailure m_failure = NntpFailure::None;
    ReplyState m_reply = ReplyState::None;
    bool m_lastReplyWhole = false;
    // When the reply being read was first asked for, and how many of its bytes have come.
    Clock::time_point m_replyStart;
    std::size_t m_replyBytes = 0;
    Clock::time_point m_lastPump;
    // The group table: every name, one after another, and where each ends. Only the names are
    // used, so the other fields of a LIST line are not kept.
    std::string m_groupNames;
    std::vector<std::uint32_t> m_groupEnds;
    bool m_groupTableFull = false;
    std::string m_listStatus;
    std::unique_ptr<CTlsEngine> m_tls;
};
