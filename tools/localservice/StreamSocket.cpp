#include "StreamSocket.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <list>
#include <map>
#include <mutex>
#include <thread>

namespace localservice {

namespace {

constexpr std::size_t kMaxHead = 16 * 1024;
constexpr std::size_t kMaxMessage = 64 * 1024;
constexpr const char* kWebSocketGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string acceptKey(const std::string& key)
{
    const std::string input = key + kWebSocketGuid;
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(input.data()), input.size(), digest);
    unsigned char encoded[4 * ((SHA_DIGEST_LENGTH + 2) / 3) + 1];
    const int length = EVP_EncodeBlock(encoded, digest, SHA_DIGEST_LENGTH);
    return std::string(reinterpret_cast<char*>(encoded), static_cast<std::size_t>(length));
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.pop_back();
    const std::size_t start = text.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : text.substr(start);
}

class Connection final : public WebSocketConnection {
public:
    explicit Connection(int fd) : m_fd(fd) {}
    ~Connection() override { ::close(m_fd); }

    const std::string& target() const override { return m_target; }
    std::string header(const std::string& name) const override
    {
        const auto it = m_headers.find(name);
        return it == m_headers.end() ? std::string() : it->second;
    }
    bool open() const override { return m_open; }

    // Reads the upgrade request; false when it is not one.
    bool readHead()
    {
        std::string head;
        char buffer[2048];
        while (head.find("\r\n\r\n") == std::string::npos) {
            if (head.size() > kMaxHead || !waitReadable(5000))
                return false;
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        m_pending = head.substr(head.find("\r\n\r\n") + 4);
        head.resize(head.find("\r\n\r\n"));
        std::size_t lineEnd = head.find("\r\n");
        const std::string requestLine = head.substr(0, lineEnd);
        if (requestLine.rfind("GET ", 0) != 0)
            return false;
        m_target = requestLine.substr(4, requestLine.rfind(' ') - 4);
        while (lineEnd != std::string::npos && lineEnd < head.size()) {
            const std::size_t start = lineEnd + 2;
            lineEnd = head.find("\r\n", start);
            const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            std::string name = line.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            m_headers[name] = trimmed(line.substr(colon + 1));
        }
        return !header("sec-websocket-key").empty();
    }

    void refuse()
    {
        writeAll("HTTP/1.1 401 Unauthorized\r\nContent-Type: application/json\r\nContent-Length: 39\r\nConnection: close\r\n\r\n"
                 "{\"error\":\"The access token is invalid\"}");
    }

    bool upgrade(const std::string& protocol)
    {
        std::string answer = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Accept: " + acceptKey(header("sec-websocket-key")) + "\r\n";
        if (protocol != "-")
            answer += "Sec-WebSocket-Protocol: " + protocol + "\r\n";
        m_open = writeAll(answer + "\r\n");
        return m_open;
    }

    bool sendText(const std::string& text) override { return sendFrame(0x1, text); }
    bool sendPing() override { return sendFrame(0x9, {}); }

    std::optional<std::string> receive(int timeoutMs) override
    {
        while (m_open) {
            if (auto message = takeFrame())
                return message;
            if (!m_open || !waitReadable(timeoutMs))
                return std::nullopt;
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_open = false;
                return std::nullopt;
            }
            m_pending.append(buffer, static_cast<std::size_t>(n));
            timeoutMs = 0;
        }
        return std::nullopt;
    }

    void shutDown() { ::shutdown(m_fd, SHUT_RDWR); }

private:
    bool waitReadable(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0;
    }

    bool writeAll(const std::string& bytes)
    {
        std::lock_guard lock(m_writeMutex);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                m_open = false;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool sendFrame(unsigned char opcode, const std::string& payload)
    {
        if (!m_open)
            return false;
        std::string frame(1, static_cast<char>(0x80 | opcode));
        const std::size_t size = payload.size();
        if (size < 126) {
            frame += static_cast<char>(size);
        } else if (size < 65536) {
            frame += static_cast<char>(126);
            frame += static_cast<char>(size >> 8);
            frame += static_cast<char>(size & 0xFF);
        } else {
            frame += static_cast<char>(127);
            for (int shift = 56; shift >= 0; shift -= 8)
                frame += static_cast<char>((static_cast<std::uint64_t>(size) >> shift) & 0xFF);
        }
        return writeAll(frame + payload);
    }

    // A whole text message from what has arrived; answers pings and closes on the way.
    std::optional<std::string> takeFrame()
    {
        for (;;) {
            const auto* b = reinterpret_cast<const unsigned char*>(m_pending.data());
            if (m_pending.size() < 2)
                return std::nullopt;
            const unsigned opcode = b[0] & 0x0F;
            const bool masked = b[1] & 0x80;
            std::uint64_t length = b[1] & 0x7F;
            std::size_t at = 2;
            if (length == 126 || length == 127) {
                const std::size_t bytes = length == 126 ? 2 : 8;
                if (m_pending.size() < at + bytes)
                    return std::nullopt;
                length = 0;
                for (std::size_t i = 0; i < bytes; ++i)
                    length = (length << 8) | b[at + i];
                at += bytes;
            }
            if (!masked || length > kMaxMessage) {
                // A client must mask, and nothing it says here is large.
                m_open = false;
                return std::nullopt;
            }
            if (m_pending.size() < at + 4 + length)
                return std::nullopt;
            const unsigned char* mask = b + at;
            at += 4;
            std::string payload(m_pending, at, static_cast<std::size_t>(length));
            for (std::size_t i = 0; i < payload.size(); ++i)
                payload[i] = static_cast<char>(payload[i] ^ mask[i % 4]);
            m_pending.erase(0, at + static_cast<std::size_t>(length));
            if (opcode == 0x8) {
                sendFrame(0x8, payload.substr(0, 2));
                m_open = false;
                return std::nullopt;
            }
            if (opcode == 0x9)
                sendFrame(0xA, payload);
            else if (opcode == 0x1)
                return payload;
        }
    }

    int m_fd;
    std::atomic<bool> m_open{false};
    std::mutex m_writeMutex;
    std::string m_target;
    std::map<std::string, std::string> m_headers;
    std::string m_pending;
};

} // namespace

class StreamSocket::Impl {
public:
    Impl(Accept accept, Serve serve) : m_accept(std::move(accept)), m_serve(std::move(serve))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(m_listener, 16) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            if (m_listener >= 0)
                ::close(m_listener);
            m_listener = -1;
            return;
        }
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    void acceptLoop()
    {
        for (;;) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (m_stopping)
                    return;
                continue;
            }
            std::lock_guard lock(m_mutex);
            if (m_stopping) {
                ::close(fd);
                return;
            }
            auto connection = std::make_shared<Connection>(fd);
            m_connections.push_back(connection);
            m_threads.emplace_back([this, connection] {
                if (connection->readHead()) {
                    const auto protocol = m_accept(*connection);
                    if (!protocol || protocol->empty())
                        connection->refuse();
                    else if (connection->upgrade(*protocol))
                        m_serve(*connection);
                }
                std::lock_guard lock(m_mutex);
                m_connections.remove(connection);
            });
        }
    }

    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            m_stopping = true;
            for (const auto& connection : m_connections)
                connection->shutDown();
        }
        if (m_listener >= 0) {
            ::shutdown(m_listener, SHUT_RDWR);
            ::close(m_listener);
        }
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (std::thread& t : m_threads)
            t.join();
    }

    Accept m_accept;
    Serve m_serve;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::list<std::shared_ptr<Connection>> m_connections;
    std::list<std::thread> m_threads;
};

StreamSocket::StreamSocket(Accept accept, Serve serve) : m_impl(std::make_unique<Impl>(std::move(accept), std::move(serve))) {}

StreamSocket::~StreamSocket()
{
    stop();
}

int StreamSocket::port() const
{
    return m_impl->m_port;
}

void StreamSocket::stop()
{
    m_impl->stop();
}

} // namespace localservice
