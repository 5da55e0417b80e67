#include "http/BlockingConnection.h"

#include "http/ConnectionPlan.h"
#include "http/SocketErrors.h"
#include "http/SocketPlatform.h"
#include "http/TlsTransport.h"
#include "http/HostAddresses.h"

#include <QList>

#include <optional>
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

namespace {

void startSocketLibrary()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] { started = SocketPlatform::Startup(); });
    if (!started)
        throw EHttpClientError(QStringLiteral("Winsock Initialization Error."));
}

class TSocketTransport : public TByteTransport {
public:
    explicit TSocketTransport(SocketPlatform::Handle socket) : m_socket(socket) {}
    ~TSocketTransport() override { SocketPlatform::Close(m_socket); }

    void Write(const char* data, qint64 size) override
    {
        while (size > 0) {
            int error = 0;
            const qint64 n = SocketPlatform::Send(m_socket, data, size, &error);
            if (n < 0)
                throw ESocketError(error);
            data += n;
            size -= n;
        }
    }

    qint64 Receive(char* buffer, qint64 size, int timeoutMs) override
    {
        int error = 0;
        // Try first: most reads find data waiting, which saves the wait call.
        qint64 n = SocketPlatform::Receive(m_socket, buffer, size, &error);
        if (n == SocketPlatform::WouldBlock) {
            const int ready = SocketPlatform::WaitReadable(m_socket, timeoutMs, &error);
            if (ready == 0)
                return -1;
            if (ready > 0)
                n = SocketPlatform::Receive(m_socket, buffer, size, &error);
            else
                n = SocketPlatform::Failed;
            if (n == SocketPlatform::WouldBlock)
                return Receive(buffer, size, timeoutMs);
        }
        if (n < 0)
            throw ESocketError(error);
        return n;
    }

private:
    SocketPlatform::Handle m_socket;
};

} // namespace

TBlockingConnection::TBlockingConnection() = default;

TBlockingConnection::~TBlockingConnection() = default;

void TBlockingConnection::Connect(const QByteArray& host, quint16 port)
{
    Close();
    Open(ConnectSocket(host, port, [this] { return waitBudget(); }, Cancelled), host, port);
}

std::unique_ptr<TByteTransport> TBlockingConnection::ConnectSocket(const QByteArray& host, quint16 port,
                                                                   const std::function<int()>& budgetMs,
                                                                   const std::atomic<bool>* cancelled)
{
    startSocketLibrary();

    // The name look-up itself cannot be cut short; what follows it can.
    const QList<SocketPlatform::Address> found = ResolveHost(host);
    std::function<bool()> calledOff;
    if (cancelled)
        calledOff = [cancelled] { return cancelled->load(); };
    if (found.isEmpty())
        throw ESocketError(SocketErrors::HostNotFound);
    // Each address in turn, each connect bounded; the last failure is the one reported.
    TAddressTurns turns(found);
    std::optional<int> lastError;
    while (const std::optional<SocketPlatform::Address> next = turns.Next()) {
        const SocketPlatform::Address& address = *next;
        int error = 0;
        const SocketPlatform::Handle socket = SocketPlatform::OpenStream(address, true, &error);
        if (socket == SocketPlatform::InvalidHandle) {
            if (address.IsIPv6() && found.size() > 1) {
                lastError = error;  // no IPv6 here: the next address may be IPv4
                continue;
            }
            throw EHttpClientError(QStringLiteral("Cannot allocate socket."));
        }
        auto transport = std::make_unique<TSocketTransport>(socket);  // closes the socket on every failure below

        error = SocketPlatform::BindAny(socket, address);
        if (error == 10048)
            throw EHttpClientError(QStringLiteral("Could not bind socket. Address and port are already in use."));
        if (error)
            throw ESocketError(error);

        if (calledOff && calledOff())
            throw ECancelled();
        const int budget = budgetMs();
        if (budget == 0)
            throw EConnectTimeout();
        error = SocketPlatform::Connect(socket, address, port, budget < 0 ? 0 : budget, calledOff);
        if (error == 0)
            return transport;
        if (error == SocketPlatform::ConnectCalledOff)
            throw ECancelled();
        lastError = error;
    }
    if (*lastError == SocketPlatform::ConnectTimedOut)
        throw EConnectTimeout();
    throw ESocketError(*lastError);
}

void TBlockingConnection::Open(std::unique_ptr<TByteTransport> transport, const QByteArray& host, quint16 port)
{
    Close();
    m_transport = std::move(transport);
    m_host = host;
    m_port = port;
    m_peerClosed = false;
    m_in.clear();
    m_pos = 0;
}

void TBlockingConnection::StartTls(const QByteArray& host, const QString& caFile)
{
    requireOpen();
    const QByteArray early = m_in.mid(m_pos);
    m_in.clear();
    m_pos = 0;
    try {
        m_transport = StartTlsTransport(std::move(m_transport), host, caFile, early, [this] { return waitBudget(); });
    } catch (...) {
        Close();
        throw;
    }
}

void TBlockingConnection::Close()
{
    m_transport.reset();
}

// Milliseconds a single wait may take: -1 without limit, 0 when the deadline has passed.
int TBlockingConnection::waitBudget() const
{
    int budget = ReadTimeout > 0 ? ReadTimeout : -1;
    if (Deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*Deadline - Clock::now()).count();
        const int leftMs = left > 0 ? static_cast<int>(std::min<qint64>(left, INT_MAX)) : 0;
        budget = budget < 0 ? leftMs : std::min(budget, leftMs);
    }
    return budget;
}

void TBlockingConnection::requireOpen() const
{
    if (m_transport)
        return;
    if (m_peerClosed)
        throw EConnectionClosed();
    throw ENotConnected();
}

void TBlockingConnection::Write(const QByteArray& bytes)
{
    requireOpen();
    try {
        m_transport->Write(bytes.constData(), bytes.size());
    } catch (const ESocketError&) {
        Close();
        throw;
    }
}

qint64 TBlockingConnection::sliced(char* dest, qint64 size, int budget)
{
    if (!Cancelled)
        return m_transport->Receive(dest, size, budget);
    // Short waits, so a call-off from another thread is seen within one of them.
    constexpr int kSliceMs = 50;
    const auto start = Clock::now();
    for (;;) {
        if (Cancelled->load()) {
            Close();
            throw ECancelled();
        }
        int slice = kSliceMs;
        if (budget >= 0) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            if (spent >= budget)
                return -1;
            slice = static_cast<int>(std::min<qint64>(kSliceMs, budget - spent));
        }
        const qint64 n = m_transport->Receive(dest, size, slice);
        if (n >= 0)
            return n;
    }
}

qint64 TBlockingConnection::receive(char* dest, qint64 size, qint64 pending)
{
    requireOpen();
    const int budget = waitBudget();
    if (budget == 0)
        throw EReadTimeout();
    qint64 n;
    try {
        n = sliced(dest, size, budget);
    } catch (const ESocketError& e) {
        Close();
        // An aborted connection still hands over what had already arrived.
        if ((e.LastError() == 10053 || e.LastError() == 10058) && pending > 0) {
            m_peerClosed = true;
            return 0;
        }
        throw;
    } catch (const EConnectionClosed&) {
        Close();
        m_peerClosed = true;
        throw;
    }
    if (n < 0)
        throw EReadTimeout();
    if (n == 0) {
        m_peerClosed = true;
        Close();
    }
    return n;
}

qint64 TBlockingConnection::ReadSome(QByteArray& out, qint64 pending, qint64 maxSize)
{
    const qint64 most = maxSize < 0 ? RecvBufferSize : std::min<qint64>(maxSize, RecvBufferSize);
    const qsizetype held = std::min<qint64>(buffered(), most);
    if (held > 0) {
        out.append(m_in.constData() + m_pos, held);
        m_pos += held;
        return held;
    }
    if (!m_transport && m_peerClosed)
        return 0;
    const qsizetype size = out.size();
    // Grow geometrically: a body received in many pieces must not copy itself per piece.
    if (out.capacity() < size + most)
        out.reserve(std::max<qsizetype>(size + most, 2 * out.capacity()));
    out.resize(size + most);
    qint64 n = 0;
    try {
        n = receive(out.data() + size, most, pending);
    } catch (...) {
        out.resize(size);
        throw;
    }
    out.resize(size + n);
    return n;
}

void TBlockingConnection::Unread(const QByteArray& bytes)
{
    m_in = bytes + m_in.mid(m_pos);
    m_pos = 0;
}
