#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace localservice {

// One accepted WebSocket connection, after its handshake: text frames out, text frames
// in, pings; every call returns false (or nothing) once the peer is gone.
class WebSocketConnection {
public:
    virtual ~WebSocketConnection() = default;
    // The request target ("/api/v1/streaming?stream=user") and a header of the upgrade.
    virtual const std::string& target() const = 0;
    virtual std::string header(const std::string& lowerCaseName) const = 0;
    virtual bool sendText(const std::string& text) = 0;
    virtual bool sendPing() = 0;
    // A text message when one arrives within timeoutMs; nullopt otherwise (see open()).
    virtual std::optional<std::string> receive(int timeoutMs) = 0;
    virtual bool open() const = 0;
};

// A plain WebSocket listener on 127.0.0.1 (a port of its own: the HTTP server library
// cannot hand a connection over). Each connection runs on its own thread: `accept`
// decides on the upgrade from its head (an empty protocol to refuse with 401, else the
// protocol to echo, "-" for none) and `serve` then has it until it returns.
class StreamSocket {
public:
    using Accept = std::function<std::optional<std::string>(const WebSocketConnection&)>;
    using Serve = std::function<void(WebSocketConnection&)>;

    StreamSocket(Accept accept, Serve serve);
    ~StreamSocket();
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    // The port it listens on, or 0 when it could not.
    int port() const;
    // Ends the listener and every connection; waits for their threads.
    void stop();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace localservice
