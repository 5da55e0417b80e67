// Post of a form body and of a 1 MB body to a loopback server, against libcurl doing the
// same requests in the same run; the form post over https too, on a kept connection and
// on a fresh one each time (the handshake's cost); and the CPU the wait costs while a
// slow server thinks.

#include "BenchRatio.h"
#include "HttpWait.h"
#include "http/HttpCli.h"
#include "service/ServicePost.h"
#include "LoopbackListener.h"
#include "TestCertificates.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Answers each connection with a small 200 after reading the whole request, optionally
// after a pause. Keeps nothing of what it reads.
class BenchServer {
public:
    explicit BenchServer(int delayMs = 0) : m_delayMs(delayMs)
    {
        m_fd = ListenOnLoopback(&m_port);
        m_thread = std::thread([this] { run(); });
    }
    ~BenchServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    std::string url(const char* path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    void run()
    {
        std::vector<char> buf(256 * 1024);
        while (!m_stop) {
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                return;
            std::string head;
            long long bodyLeft = -1;
            for (;;) {
                const ssize_t n = ::recv(c, buf.data(), buf.size(), 0);
                if (n <= 0)
                    break;
                if (bodyLeft < 0) {
                    head.append(buf.data(), static_cast<size_t>(n));
                    const size_t end = head.find("\r\n\r\n");
                    if (end == std::string::npos)
                        continue;
                    long long length = 0;
                    const size_t cl = head.find("Content-Length: ");
                    if (cl != std::string::npos && cl < end)
                        length = std::stoll(head.substr(cl + 16));
                    bodyLeft = length - static_cast<long long>(head.size() - end - 4);
                } else {
                    bodyLeft -= n;
                }
                if (bodyLeft <= 0)
                    break;
            }
            if (m_delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
            static const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
            ::send(c, reply, sizeof reply - 1, MSG_NOSIGNAL);
            ::shutdown(c, SHUT_WR);
            // Let the client close first so its side sees the whole reply.
            pollfd p{c, POLLIN, 0};
            ::poll(&p, 1, 1000);
            ::close(c);
        }
    }

    int m_fd = -1;
    quint16 m_port = 0;
    int m_delayMs = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

QByteArray bodyOfSize(qint64 n)
{
    QByteArray b = "status=";
    while (b.size() < n)
        b += "abcdefghij%20";
    b.truncate(n);
    return b;
}

double processCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void BM_Post(benchmark::State& state)
{
    BenchServer server;
    const QByteArray body = bodyOfSize(state.range(0));
    // A status post as the program configures it.
    const THttpCliRequest request = ServicePostRequest(
        TServiceAccount{QString(), QStringLiteral("alice"), QStringLiteral("secret"), {}},
        QByteArray::fromStdString(server.url("/statuses/update.xml")), body, "application/x-www-form-urlencoded");
    THttpCli cli;
    for (auto _ : state) {
        if (PostAndWait(cli, request).StatusCode != 200)
            state.SkipWithError("post failed");
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

size_t dropReply(char*, size_t size, size_t count, void*)
{
    return size * count;
}

void BM_Post_Baseline(benchmark::State& state)
{
    BenchServer server;
    const QByteArray body = bodyOfSize(state.range(0));
    const std::string url = server.url("/statuses/update.xml");
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Connection: close");
    headers = curl_slist_append(headers, "Accept-Language: ja,en,fr");
    headers = curl_slist_append(headers, "Expect:");  // no 100-continue round trip
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERPWD, "alice:secret");
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, dropReply);
    for (auto _ : state) {
        if (curl_easy_perform(curl) != CURLE_OK)
            state.SkipWithError("curl failed");
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_Post)->Arg(200)->Arg(1024 * 1024)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Post_Baseline)->Arg(200)->Arg(1024 * 1024)->Unit(benchmark::kMicrosecond)->UseRealTime();

// ---- https ----------------------------------------------------------------------------

const TestCertificates& certificates()
{
    static const TestCertificates made;
    return made;
}

// Answers posts over TLS with a small 200, on a thread of its own with the socket's
// blocking calls. A connection stays for as long as the client keeps it, unless the
// request asked for "Connection: close".
class TlsBenchServer {
public:
    TlsBenchServer()
    {
        m_context = SSL_CTX_new(TLS_server_method());
        if (m_context) {
            SSL_CTX_use_certificate_chain_file(m_context, QFile::encodeName(certificates().serverCert()).constData());
            SSL_CTX_use_PrivateKey_file(m_context, QFile::encodeName(certificates().serverKey()).constData(), SSL_FILETYPE_PEM);
        }
        m_fd = ListenOnLoopback(&m_port);
        m_thread = std::thread([this] { run(); });
    }
    ~TlsBenchServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
        SSL_CTX_free(m_context);
    }
    std::string url(const char* path) const
    {
        return "https://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    void run()
    {
        while (!m_stop) {
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                return;
            // Tickets, reply and close notice are small writes in a row: none waits for an ACK.
            const int one = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            SSL* s = SSL_new(m_context);
            SSL_set_fd(s, c);
            if (SSL_accept(s) == 1)
                serve(s, c);
            SSL_free(s);
            ::close(c);
        }
    }
    void serve(SSL* s, int fd)
    {
        QByteArray buf;
        char chunk[16 * 1024];
        while (!m_stop) {
            const qsizetype end = buf.indexOf("\r\n\r\n");
            qsizetype size = -1;
            if (end >= 0) {
                const qsizetype cl = buf.left(end).indexOf("Content-Length: ");
                size = end + 4 + (cl < 0 ? 0 : buf.mid(cl + 16, buf.indexOf('\r', cl) - cl - 16).toLongLong());
            }
            if (size < 0 || buf.size() < size) {
                // Wait a little at a time, so that the destructor is not held up.
                pollfd p{fd, POLLIN, 0};
                if (SSL_pending(s) == 0 && ::poll(&p, 1, 100) == 0)
                    continue;
                const int n = SSL_read(s, chunk, sizeof chunk);
                if (n <= 0)
                    return;
                buf.append(chunk, n);
                continue;
            }
            const bool close = buf.left(end).contains("\r\nConnection: close\r\n");
            buf.remove(0, size);
            const QByteArray reply = close ? "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"
                                           : "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
            if (SSL_write(s, reply.constData(), static_cast<int>(reply.size())) <= 0)
                return;
            if (close) {
                SSL_shutdown(s);
                // Let the client close first so its side sees the whole reply.
                pollfd p{fd, POLLIN, 0};
                ::poll(&p, 1, 1000);
                return;
            }
        }
    }

    SSL_CTX* m_context = nullptr;
    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The 200-byte status post over https: on a fresh connection each time ("Connection: close",
// as the program posts: handshake included), or on one kept connection (the post alone).
void postHttps(benchmark::State& state, bool fresh)
{
    if (!certificates().isValid()) {
        state.SkipWithError(certificates().errorString().toStdString().c_str());
        return;
    }
    TlsBenchServer server;
    THttpCliRequest request = ServicePostRequest(
        TServiceAccount{QString(), QStringLiteral("alice"), QStringLiteral("secret"), {}},
        QByteArray::fromStdString(server.url("/statuses/update.xml")), bodyOfSize(200), "application/x-www-form-urlencoded");
    request.Network.CaFile = certificates().caFile();
    if (!fresh)
        request.Connection.clear();
    THttpCli cli;
    for (auto _ : state) {
        const THttpCliResult result = PostAndWait(cli, request);
        if (result.StatusCode != 200)
            state.SkipWithError(("post failed: " + result.ReasonPhrase.toStdString()).c_str());
    }
    state.SetBytesProcessed(state.iterations() * 200);
}

void curlHttps(benchmark::State& state, bool fresh)
{
    if (!certificates().isValid()) {
        state.SkipWithError(certificates().errorString().toStdString().c_str());
        return;
    }
    TlsBenchServer server;
    const QByteArray body = bodyOfSize(200);
    const std::string url = server.url("/statuses/update.xml");
    const std::string ca = certificates().caFile().toStdString();
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    if (fresh)
        headers = curl_slist_append(headers, "Connection: close");
    headers = curl_slist_append(headers, "Accept-Language: ja,en,fr");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2);
    // The client under test resumes no TLS session either: each fresh connection does a
    // whole handshake.
    curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(curl, CURLOPT_USERPWD, "alice:secret");
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, dropReply);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
    for (auto _ : state) {
        const CURLcode rc = curl_easy_perform(curl);
        if (rc != CURLE_OK)
            state.SkipWithError((std::string("curl failed: ") + curl_easy_strerror(rc)).c_str());
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(state.iterations() * 200);
}

void BM_PostHttps(benchmark::State& state) { postHttps(state, false); }
void BM_PostHttps_Baseline(benchmark::State& state) { curlHttps(state, false); }
void BM_PostHttpsHandshake(benchmark::State& state) { postHttps(state, true); }
void BM_PostHttpsHandshake_Baseline(benchmark::State& state) { curlHttps(state, true); }

BENCHMARK(BM_PostHttps)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PostHttps_Baseline)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PostHttpsHandshake)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PostHttpsHandshake_Baseline)->Unit(benchmark::kMicrosecond)->UseRealTime();

constexpr int kSlowMs = 2000;

// Process CPU time while Post waits for a server that answers after 2 s, as a share of
// the wall time: the wait must sleep in the event loop, not spin.
void BM_PostWaitCpu(benchmark::State& state)
{
    BenchServer server(kSlowMs);
    THttpCliRequest request;
    request.URL = QByteArray::fromStdString(server.url("/favorites/create/1.xml"));
    request.Body = "id=1";
    request.Connection = "close";
    request.RequestVer = "1.1";
    THttpCli cli;
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const auto w0 = std::chrono::steady_clock::now();
        const double c0 = processCpuSeconds();
        PostAndWait(cli, request);
        cpu += processCpuSeconds() - c0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    }
    state.counters["cpu_share"] = wall > 0 ? cpu / wall : 0;
}

void BM_PostWaitCpu_Baseline(benchmark::State& state)
{
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const auto w0 = std::chrono::steady_clock::now();
        const double c0 = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::milliseconds(kSlowMs));
        cpu += processCpuSeconds() - c0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    }
    state.counters["cpu_share"] = wall > 0 ? cpu / wall : 0;
}

BENCHMARK(BM_PostWaitCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PostWaitCpu_Baseline)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int status = RunBenchmarksWithRatios(argc, argv);
    curl_global_cleanup();
    return status;
}
