#include "http/BlockingHttpClient.h"
#include "http/MemoryTransport.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

// Any bytes as the server's reply to a FetchText. The first byte picks how the reply is
// cut into receives and whether the connection ends in an abort; the reply must end in a
// body or an EHttpClientError, never a crash, hang or a body past the cap.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int piece = 1 + (data[0] & 0x3f) * 7;
    const bool aborted = data[0] & 0x80;
    const QByteArray reply(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    std::deque<MemoryTransport::Piece> pieces;
    for (qsizetype at = 0; at < reply.size(); at += piece)
        pieces.push_back({reply.mid(at, piece)});
    if (aborted)
        pieces.push_back({{}, 10053});

    TBlockingHttpClient client;
    client.MaxBodySize = 1 << 20;
    client.MaxLineLength = 4096;
    client.Request().Username = "user";
    client.Request().BasicAuthentication = true;
    QByteArray written;
    client.TransportFactory = MemoryTransport::Factory(pieces, &written);
    try {
        const QByteArray body = client.FetchText("http://peer.example/statuses/friends_timeline.xml");
        if (body.size() > client.MaxBodySize || body.size() > reply.size())
            std::abort();
    } catch (const EHttpProtocolError& e) {
        if (e.ReplyBody().size() > client.MaxBodySize)
            std::abort();
    } catch (const EHttpClientError&) {
    }
    if (!written.startsWith("GET /statuses/friends_timeline.xml HTTP/1.1\r\n"))
        std::abort();
    return 0;
}
