#pragma once

#include "http/HttpErrors.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// What the connection reads from and writes to: a socket, or memory when a test or a
// fuzzer stands in for the peer.
class TByteTransport {
public:
    virtual ~TByteTransport() = default;
    // Sends every byte; raises ESocketError.
    virtual void Write(const char* data, qint64 size) = 0;
    // Receives what is there, waiting up to timeoutMs (< 0: without limit): the number
    // of bytes, 0 when the peer closed, -1 on time-out. Raises ESocketError, and
    // EConnectionClosed when the peer closed in a way that may have cut the data short.
    virtual qint64 Receive(char* buffer, qint64 size, int timeoutMs) = 0;
};

// Opens a transport to host:port. Empty: a real socket connection.
using TTransportFactory = std::function<std::unique_ptr<TByteTransport>(const QByteArray& host, quint16 port)>;

// A blocking TCP connection on the calling thread: connect, write whole buffers, hand on
// what arrives. Lines, lengths and chunks are the reply parser's (HttpReplyParser.h),
// the same one the event-driven client feeds.
class TBlockingConnection {
public:
    using Clock = std::chrono::steady_clock;

    TBlockingConnection();
    ~TBlockingConnection();
    TBlockingConnection(const TBlockingConnection&) = delete;
    TBlockingConnection& operator=(const TBlockingConnection&) = delete;

    int ReadTimeout = 0;            // ms for each wait for data and for the connect; 0 without limit
    int RecvBufferSize = 32768;
    // Optional end of every wait, whatever ReadTimeout says; passing it is a read time-out.
    std::optional<Clock::time_point> Deadline;
    // Set from another thread to call the connection off: every wait is cut into short
    // slices and ends with ECancelled soon after. Null: waits are not sliced.
    const std::atomic<bool>* Cancelled = nullptr;

    // Resolves the host and connects (raises ESocketError, EConnectTimeout, EHttpClientError).
    void Connect(const QByteArray& host, quint16 port);
    // Takes an already open transport instead of a socket.
    void Open(std::unique_ptr<TByteTransport> transport, const QByteArray& host, quint16 port);
    // Goes on over TLS to host (see TlsTransport.h); bytes already buffered belong to the
    // handshake. The connection is closed when this fails.
    void StartTls(const QByteArray& host, const QString& caFile);

    // A socket connection to host:port as a transport. budgetMs, asked once the address is
    // known, gives the connect's wait (-1 without limit, 0: spent, a connect time-out).
    // Set, cancelled ends a connect that waits with ECancelled soon after it is set.
    static std::unique_ptr<TByteTransport> ConnectSocket(const QByteArray& host, quint16 port,
                                                         const std::function<int()>& budgetMs,
                                                         const std::atomic<bool>* cancelled = nullptr);

    void Write(const QByteArray& bytes);
    // Appends what the input buffer holds, or else what the next receive brings (at most
    // maxSize, and RecvBufferSize, bytes), waiting within ReadTimeout and Deadline.
    // Returns the count; 0 when the peer has closed. pending: bytes the caller already
    // holds of this read, which an aborted connection still yields.
    qint64 ReadSome(QByteArray& out, qint64 pending, qint64 maxSize = -1);
    // Puts bytes back in front of the input: what a reader took beyond what it wanted.
    void Unread(const QByteArray& bytes);

    bool Connected() const { return m_transport != nullptr; }
    QByteArray Host() const { return m_host; }
    quint16 Port() const { return m_port; }
    void Close();

private:
    qsizetype buffered() const { return m_in.size() - m_pos; }
    int waitBudget() const;
    // Receives into dest (at most size bytes): count, or 0 when the peer closed.
    // pending: bytes this read already holds, which an aborted connection still yields.
    qint64 receive(char* dest, qint64 size, qint64 pending);
    // One wait for data within budget ms (< 0: without limit), sliced when it can be called off.
    qint64 sliced(char* dest, qint64 size, int budget);
    void requireOpen() const;

    std::unique_ptr<TByteTransport> m_transport;
    QByteArray m_host;
    quint16 m_port = 0;
    bool m_peerClosed = false;
    QByteArray m_in;       // input buffer; bytes before m_pos are taken
    qsizetype m_pos = 0;
};
