#include "ScriptedServer.h"

#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

qint64 contentLength(const QByteArray& head)
{
    for (const QByteArray& line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            return line.mid(colon + 1).trimmed().toLongLong();
    }
    return 0;
}

bool sendAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

ScriptedServer::ScriptedServer(TFamily family)
    : m_family(family)
{
    m_listenFd = ListenOnLoopback(&m_port, 64, family == IPv6Only);
    if (m_listenFd < 0)
        throw std::runtime_error(family == IPv6Only ? "ScriptedServer: cannot listen on ::1" : "ScriptedServer: cannot listen on 127.0.0.1");
    m_default = {Step::readRequest(), Step::close()};
    m_thread = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer()
{
    m_stopping = true;
    m_cv.notify_all();
    ::shutdown(m_listenFd, SHUT_RDWR);
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
    }
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listenFd);
}

QByteArray ScriptedServer::baseUrl() const
{
    return (m_family == IPv6Only ? "http://[::1]:" : "http://127.0.0.1:") + QByteArray::number(m_port);
}

void ScriptedServer::addConnection(Script script)
{
    std::lock_guard lock(m_mutex);
    m_scripts.push_back(std::move(script));
}

void ScriptedServer::setDefaultScript(Script script)
{
    std::lock_guard lock(m_mutex);
    m_default = std::move(script);
}

ScriptedServer::Script ScriptedServer::reply(const QByteArray& response)
{
    return {Step::readRequest(), Step::send(response), Step::close()};
}

int ScriptedServer::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_received.size());
}

QByteArray ScriptedServer::request(int i) const
{
    std::lock_guard lock(m_mutex);
    if (i < 0 || i >= static_cast<int>(m_received.size()))
        return {};
    return m_received[static_cast<size_t>(i)];
}

std::vector<QByteArray> ScriptedServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

bool ScriptedServer::waitForFinished(int n, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_finished >= n; });
}

bool ScriptedServer::sleepFor(int ms) const
{
    std::unique_lock lock(m_mutex);
    return !m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_stopping.load(); });
}

void ScriptedServer::acceptLoop()
{
    // Connections are served one after another on this thread: the clients under test
    // make one request at a time, and this keeps the recorded order deterministic.
    while (!m_stopping) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        Script script;
        int index;
        {
            std::lock_guard lock(m_mutex);
            if (!m_scripts.empty()) {
                script = std::move(m_scripts.front());
                m_scripts.pop_front();
            } else {
                script = m_default;
            }
            index = static_cast<int>(m_received.size());
            m_received.emplace_back();
            m_openFds.push_back(fd);
        }
        serve(fd, index, script);
        {
            std::lock_guard lock(m_mutex);
            m_openFds.erase(std::remove(m_openFds.begin(), m_openFds.end(), fd), m_openFds.end());
            ++m_finished;
        }
        m_cv.notify_all();
    }
}

// Reads what is available (waiting up to timeoutMs, -1 without limit) and records it.
bool ScriptedServer::readSome(int fd, int index, int timeoutMs, bool* closed)
{
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0)
        return false;
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        *closed = true;
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_received[static_cast<size_t>(index)].append(buf, static_cast<qsizetype>(n));
    return true;
}

void ScriptedServer::serve(int fd, int index, const Script& script)
{
    bool closed = false;
    qint64 consumed = 0;  // bytes of the recording already taken by earlier read steps
    auto received = [&] {
        std::lock_guard lock(m_mutex);
        return m_received[static_cast<size_t>(index)];
    };
    auto finish = [&](bool reset) {
        if (reset) {
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        ::close(fd);
    };

    for (const Step& step : script) {
        if (m_stopping)
            break;
        switch (step.kind) {
        case Step::ReadRequest: {
            // Poll in slices so a stop request is noticed.
            while (!closed && !m_stopping) {
                const QByteArray all = received();
                const qsizetype headEnd = all.indexOf("\r\n\r\n", consumed);
                if (headEnd >= 0) {
                    const qint64 total = headEnd + 4 + contentLength(all.mid(consumed, headEnd - consumed));
                    if (all.size() >= total) {
                        consumed = total;
                        break;
                    }
                }
                readSome(fd, index, 100, &closed);
            }
            break;
        }
        case Step::ReadBytes: {
            const qint64 target = consumed + step.count;
            while (!closed && !m_stopping && received().size() < target)
                readSome(fd, index, 100, &closed);
            consumed = std::min<qint64>(target, received().size());
            break;
        }
        case Step::Send:
            if (!sendAll(fd, step.data.constData(), step.data.size())) {
                finish(false);
                return;
            }
            break;
        case Step::Trickle:
            for (char c : step.data) {
                if (!sendAll(fd, &c, 1) || !sleepFor(step.delayMs)) {
                    finish(false);
                    return;
                }
            }
            break;
        case Step::Delay:
            if (!sleepFor(step.delayMs)) {
                finish(false);
                return;
            }
            break;
        case Step::WaitForClose: {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.delayMs);
            while (!closed && !m_stopping
                   && (step.delayMs == 0 || std::chrono::steady_clock::now() < deadline))
                readSome(fd, index, 100, &closed);
            consumed = received().size();
            break;
        }
        case Step::Close:
            ::shutdown(fd, SHUT_WR);
            // Keep recording until the peer closes too (bounded), so nothing it sent is lost.
            for (int i = 0; i < 10 && !closed && !m_stopping; ++i)
                readSome(fd, index, 20, &closed);
            finish(false);
            return;
        case Step::Reset:
            finish(true);
            return;
        case Step::SendRepeated:
            for (qint64 i = 0; i < step.count && !m_stopping; ++i) {
                if (!sendAll(fd, step.data.constData(), step.data.size())) {
                    finish(false);
                    return;
                }
            }
            break;
        }
    }
    ::shutdown(fd, SHUT_WR);
    finish(false);
}
