// FetchText against libcurl doing the same GET, both on a fresh connection per fetch,
// from a loopback server with a canned reply; over plain http and over https (where the
// handshake gets a figure of its own: a fresh connection and a small GET). And a read of
// five pages over one kept https connection, against a new connection per page.
#include "BenchRatio.h"
#include "http/BlockingHttpClient.h"
#include "LoopbackListener.h"
#include "TestCertificates.h"
#include "TlsServer.h"
#include "support/CurlGet.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace {

// Answers every connection with the same reply: reads the request head, sends, closes.
class CannedServer {
public:
    explicit CannedServer(qint64 bodySize)
    {
        const QByteArray body(bodySize, 'x');
        m_reply = "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: "
                  + QByteArray::number(bodySize) + "\r\n\r\n" + body;
        quint16 port = 0;
        m_fd = ListenOnLoopback(&port, 128);
        m_url = "http://127.0.0.1:" + QByteArray::number(port) + "/statuses/friends_timeline.xml";
        m_thread = std::thread([this] { serve(); });
    }
    ~CannedServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    const QByteArray& url() const { return m_url; }

private:
    void serve()
    {
        while (!m_stop) {
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                return;
            std::string head;
            char buf[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                head.append(buf, static_cast<size_t>(n));
            }
            const char* p = m_reply.constData();
            qint64 left = m_reply.size();
            while (left > 0) {
                const ssize_t n = ::send(c, p, static_cast<size_t>(left), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                p += n;
                left -= n;
            }
            ::close(c);
        }
    }

    QByteArray m_reply;
    QByteArray m_url;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

CannedServer& serverFor(qint64 bodySize)
{
    static std::map<qint64, std::unique_ptr<CannedServer>> servers;
    auto& s = servers[bodySize];
    if (!s)
        s = std::make_unique<CannedServer>(bodySize);
    return *s;
}

void BM_FetchText(benchmark::State& state)
{
    const qint64 size = state.range(0);
    const QByteArray url = serverFor(size).url();
    for (auto _ : state) {
        TBlockingHttpClient client;
        client.Request().Username = "bench";
        client.Request().Password = "secret";
        client.Request().BasicAuthentication = true;
        const QByteArray body = client.FetchText(url);
        if (body.size() != size)
            state.SkipWithError("short body");
        benchmark::DoNotOptimize(body.constData());
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_FetchText_Baseline(benchmark::State& state)
{
    const qint64 size = state.range(0);
    const std::string url = serverFor(size).url().toStdString();
    for (auto _ : state) {
        std::string body;
        CURL* curl = NewCurlGet(url, "bench:secret", &body);
        const CURLcode rc = curl_easy_perform(curl);
        curl_easy_cleanup(curl);
        if (rc != CURLE_OK || static_cast<qint64>(body.size()) != size)
            state.SkipWithError("curl failed");
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(state.iterations() * size);
}

BENCHMARK(BM_FetchText)->Arg(20 * 1024)->Arg(5 * 1024 * 1024)->UseRealTime();
BENCHMARK(BM_FetchText_Baseline)->Arg(20 * 1024)->Arg(5 * 1024 * 1024)->UseRealTime();

// ---- https --------------------------------------------------------------------------

const TestCertificates& certificates()
{
    static TestCertificates made;
    return made;
}

// A TLS server per body size, answering every connection with the same reply.
const TlsServer* tlsServerFor(qint64 bodySize)
{
    static std::map<qint64, std::unique_ptr<TlsServer>> servers;
    auto& s = servers[bodySize];
    if (!s && certificates().isValid()) {
        s = std::make_unique<TlsServer>(certificates().serverCert(), certificates().serverKey());
        s->setDefaultScript({{"HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: "
                              + QByteArray::number(bodySize) + "\r\n\r\n" + QByteArray(bodySize, 'x')}});
    }
    return s && s->isValid() ? s.get() : nullptr;
}

void fetchHttps(benchmark::State& state, qint64 size)
{
    const TlsServer* server = tlsServerFor(size);
    if (!server) {
        state.SkipWithError(("no TLS server: " + certificates().errorString().toStdString()).c_str());
        return;
    }
    const QByteArray url = server->baseUrl() + "/statuses/friends_timeline.xml";
    for (auto _ : state) {
        TBlockingHttpClient client;
        client.Network.CaFile = certificates().caFile();
        client.Request().Username = "bench";
        client.Request().Password = "secret";
        client.Request().BasicAuthentication = true;
        const QByteArray body = client.FetchText(url);
        if (body.size() != size)
            state.SkipWithError("short body");
        benchmark::DoNotOptimize(body.constData());
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void curlHttps(benchmark::State& state, qint64 size)
{
    const TlsServer* server = tlsServerFor(size);
    if (!server) {
        state.SkipWithError(("no TLS server: " + certificates().errorString().toStdString()).c_str());
        return;
    }
    const std::string url = (server->baseUrl() + "/statuses/friends_timeline.xml").toStdString();
    const std::string ca = certificates().caFile().toStdString();
    for (auto _ : state) {
        std::string body;
        CURL* curl = NewCurlGet(url, "bench:secret", &body, ca);
        const CURLcode rc = curl_easy_perform(curl);
        curl_easy_cleanup(curl);
        if (rc != CURLE_OK || static_cast<qint64>(body.size()) != size)
            state.SkipWithError((std::string("curl failed: ") + curl_easy_strerror(rc)).c_str());
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_FetchTextHttps(benchmark::State& state) { fetchHttps(state, state.range(0)); }
void BM_FetchTextHttps_Baseline(benchmark::State& state) { curlHttps(state, state.range(0)); }
// The handshake's cost: a fresh connection whose GET brings back next to nothing.
void BM_HttpsHandshake(benchmark::State& state) { fetchHttps(state, 16); }
void BM_HttpsHandshake_Baseline(benchmark::State& state) { curlHttps(state, 16); }

BENCHMARK(BM_FetchTextHttps)->Arg(20 * 1024)->Arg(5 * 1024 * 1024)->UseRealTime();
BENCHMARK(BM_FetchTextHttps_Baseline)->Arg(20 * 1024)->Arg(5 * 1024 * 1024)->UseRealTime();
BENCHMARK(BM_HttpsHandshake)->UseRealTime();
BENCHMARK(BM_HttpsHandshake_Baseline)->UseRealTime();

// ---- a read of five pages over https ---------------------------------------------------

// A server whose every connection answers up to five requests, each with a page-sized body.
const TlsServer* pageServer()
{
    static std::unique_ptr<TlsServer> server;
    if (!server && certificates().isValid()) {
        server = std::make_unique<TlsServer>(certificates().serverCert(), certificates().serverKey());
        const QByteArray page = "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: 20480\r\n\r\n"
                                + QByteArray(20480, 'x');
        server->setDefaultScript({QList<QByteArray>(5, page)});
    }
    return server && server->isValid() ? server.get() : nullptr;
}

// Five pages, one after the other: over one client and its kept connection (one
// handshake), or, as the baseline, with a new client and so a new connection per page.
void readFivePages(benchmark::State& state, bool keepConnection)
{
    const TlsServer* server = pageServer();
    if (!server) {
        state.SkipWithError(("no TLS server: " + certificates().errorString().toStdString()).c_str());
        return;
    }
    const QByteArray url = server->baseUrl() + "/statuses/friends_timeline.xml?page=";
    const int handshakesBefore = server->handshakes();
    for (auto _ : state) {
        std::unique_ptr<TBlockingHttpClient> client;
        for (int page = 1; page <= 5; ++page) {
            if (!client || !keepConnection) {
                client = std::make_unique<TBlockingHttpClient>();
                client->Network.CaFile = certificates().caFile();
                client->Request().Username = "bench";
                client->Request().Password = "secret";
                client->Request().BasicAuthentication = true;
            }
            const QByteArray body = client->FetchText(url + QByteArray::number(page));
            if (body.size() != 20480)
                state.SkipWithError("short body");
        }
    }
    state.counters["handshakes_per_read"]
        = static_cast<double>(server->handshakes() - handshakesBefore) / static_cast<double>(state.iterations());
}

void BM_HttpsFivePageRead(benchmark::State& state) { readFivePages(state, true); }
void BM_HttpsFivePageRead_Baseline(benchmark::State& state) { readFivePages(state, false); }

BENCHMARK(BM_HttpsFivePageRead)->UseRealTime();
BENCHMARK(BM_HttpsFivePageRead_Baseline)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int status = RunBenchmarksWithRatios(argc, argv);
    curl_global_cleanup();
    return status;
}
