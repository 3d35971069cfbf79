#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A news server for protocol tests. It listens on 127.0.0.1 at a port of the system's choice,
// serves the connections one after another on a thread of its own, each from the next script
// given to it, and records every byte it received on each connection.
//
//   ScriptedNntpServer server;
//   server.AddConnection(NntpScript()
//                            .Send("200 ready\r\n")
//                            .Reply("211 3 1 3 local.test\r\n")
//                            .OnCommand([](NntpServerConnection& c, const std::string& line) {
//                                if (line.starts_with("HEAD "))
//                                    c.Send("423 no such article\r\n");
//                            }));
//   SetDefaultNntpPort(server.Port());
//   ... run the client ...
//   server.WaitForClosedConnections(1);
//   EXPECT_EQ(server.Received(0), "GROUP local.test\r\nHEAD 1\r\n...QUIT\r\nEXIT\r\n");

// The server's side of one accepted connection; script steps and command handlers use it on
// the server's thread.
class NntpServerConnection {
public:
    // Writes the bytes; with pieceSize > 0 in pieces of that many bytes, pauseMs apart. False
    // once the client has gone or the server stops.
    bool Send(std::string_view bytes, std::size_t pieceSize = 0, int pauseMs = 0);
    // The next line the client sent, LF included; false at the client's close (a last line
    // without LF is still recorded, but not returned), at Close, or when the server stops.
    bool ReadCommand(std::string& line);
    // Waits, returning early when the server stops.
    void Pause(int ms);
    // Closes the connection; nothing more is read or sent.
    void Close();
    bool IsClosed() const { return m_fd < 0; }

private:
    friend class ScriptedNntpServer;
    NntpServerConnection(int fd, std::string* received, std::mutex* mutex,
                         const std::atomic<bool>* stop)
        : m_fd(fd), m_received(received), m_mutex(mutex), m_stop(stop) {}
    bool Fill();

    int m_fd;
    std::string* m_received;
    std::mutex* m_mutex;
    const std::atomic<bool>* m_stop;
    std::string m_pending;
};

// What the server does on one connection: its steps in order, then, until the client closes,
// each further command line goes to the handler (without one, the server reads on in silence).
class NntpScript {
public:
    using Step = std::function<void(NntpServerConnection&)>;
    using Handler = std::function<void(NntpServerConnection&, const std::string& line)>;

    // Sends bytes (see NntpServerConnection::Send for the pieces).
    NntpScript& Send(std::string bytes, std::size_t pieceSize = 0, int pauseMs = 0);
    // Waits for one command line, whatever it says.
    NntpScript& Await();
    // Waits for one command line, then sends the reply.
    NntpScript& Reply(std::string bytes, std::size_t pieceSize = 0, int pauseMs = 0);
    NntpScript& Pause(int ms);
    NntpScript& Close();
    NntpScript& Do(Step step);
    NntpScript& OnCommand(Handler handler);

private:
    friend class ScriptedNntpServer;
    std::vector<Step> m_steps;
    Handler m_handler;
};

class ScriptedNntpServer {
public:
    ScriptedNntpServer();
    explicit ScriptedNntpServer(NntpScript script);
    ~ScriptedNntpServer();
    ScriptedNntpServer(const ScriptedNntpServer&) = delete;
    ScriptedNntpServer& operator=(const ScriptedNntpServer&) = delete;

    int Port() const { return m_port; }
    // The script of the next connection not yet given one. A connection without a script is
    // read in silence.
    void AddConnection(NntpScript script);
    // Every byte received on connection index (in the order accepted) so far.
    std::string Received(std::size_t index = 0) const;
    std::size_t AcceptedConnections() const;
    // Waits until count connections have ended (the client closed, or the script closed);
    // false after timeoutMs.
    bool WaitForClosedConnections(std::size_t count, int timeoutMs = 5000) const;

private:
    void Run();
    void Serve(int fd, std::size_t index);

    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<NntpScript> m_scripts;
    std::vector<std::unique_ptr<std::string>> m_received;
    std::size_t m_closed = 0;
    std::thread m_thread;
};
