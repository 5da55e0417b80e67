#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A loopback HTTP peer that a test owns. It listens on 127.0.0.1 on a free port, plays
// one script per accepted connection (in the order the scripts were added; the default
// script once they run out) and records every byte each connection received.
//
//   ScriptedServer server;
//   server.addConnection({Step::readRequest(), Step::send("HTTP/1.1 200 OK\r\n...")});
//   ... client talks to 127.0.0.1:server.port() ...
//   EXPECT_EQ(server.request(0), "GET / HTTP/1.1\r\n...");
//
// The destructor stops the server and joins its thread; delays end early then.
class ScriptedServer {
public:
    struct Step {
        enum Kind {
            ReadRequest,   // read one request: the head up to the empty line, then Content-Length bytes
            ReadBytes,     // read exactly count bytes (or until the peer closes)
            Send,          // write data
            Trickle,       // write data one byte at a time, delayMs between bytes
            Delay,         // wait delayMs
            WaitForClose,  // read (and record) until the peer closes, at most delayMs (0: until stop)
            Close,         // orderly close (FIN)
            Reset,         // abortive close (RST)
            SendRepeated,  // write data count times (a large body without holding it whole)
        };
        Kind kind = Send;
        QByteArray data;
        int delayMs = 0;
        qint64 count = 0;

        static Step readRequest() { return {ReadRequest, {}, 0, 0}; }
        static Step readBytes(qint64 n) { return {ReadBytes, {}, 0, n}; }
        static Step send(const QByteArray& bytes) { return {Send, bytes, 0, 0}; }
        static Step trickle(const QByteArray& bytes, int msPerByte) { return {Trickle, bytes, msPerByte, 0}; }
        static Step delay(int ms) { return {Delay, {}, ms, 0}; }
        static Step waitForClose(int maxMs = 0) { return {WaitForClose, {}, maxMs, 0}; }
        static Step close() { return {Close, {}, 0, 0}; }
        static Step reset() { return {Reset, {}, 0, 0}; }
        static Step sendRepeated(const QByteArray& bytes, qint64 times) { return {SendRepeated, bytes, 0, times}; }
    };
    using Script = std::vector<Step>;

    enum TFamily { IPv4, IPv6Only };
    // IPv6Only: listens on ::1 alone (throws where the system has no IPv6).
    explicit ScriptedServer(TFamily family = IPv4);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    quint16 port() const { return m_port; }
    QByteArray baseUrl() const;  // "http://127.0.0.1:PORT", or "http://[::1]:PORT"

    // Script for the next connection not yet scripted. A script that does not end with
    // Close or Reset closes the connection when it ends.
    void addConnection(Script script);
    // Script for every connection once the added ones are used up (default: read a
    // request and close without answering).
    void setDefaultScript(Script script);
    // Convenience: a script that reads a request and sends the reply, then closes.
    static Script reply(const QByteArray& response);

    int connectionCount() const;
    // Bytes received on connection i (0-based, in accept order); empty when none.
    QByteArray request(int i) const;
    std::vector<QByteArray> requests() const;
    // Waits until at least n connections have finished their scripts.
    bool waitForFinished(int n, int timeoutMs = 10000) const;

private:
    void acceptLoop();
    void serve(int fd, int index, const Script& script);
    bool readSome(int fd, int index, int timeoutMs, bool* closed);
    bool sleepFor(int ms) const;  // false when the server is stopping

    int m_listenFd = -1;
    TFamily m_family = IPv4;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::deque<Script> m_scripts;
    Script m_default;
    std::vector<QByteArray> m_received;
    int m_finished = 0;
    std::vector<int> m_openFds;
};
