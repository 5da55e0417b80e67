// The reply parser under both clients, read with either face: any bytes, in any split, end
// in a result, keep the body within its cap, and give the same result as the same bytes
// in one piece.

#include "http/HttpReplyParser.h"

#include <cstdint>
#include <cstdlib>

namespace {

struct Outcome {
    THttpReplyParser::TResult result;
    int status;
    QByteArray body;
    bool truncated;
};

Outcome parse(QByteArrayView data, size_t step, bool requestIs10, THttpReplyParser::TFace face)
{
    THttpReplyLimits limits;
    limits.MaxBodySize = 1024;      // small bounds so the fuzzer reaches them
    limits.MaxLineLength = 256;
    limits.MaxHeaderLines = 16;
    THttpReplyParser parser(limits, face);
    QByteArray body;
    parser.SetBodySink([&body](QByteArrayView part) { body.append(part.data(), part.size()); });
    parser.StartReply(requestIs10, true, false);
    auto result = THttpReplyParser::Incomplete;
    for (qsizetype i = 0; i < data.size() && result == THttpReplyParser::Incomplete; i += step)
        result = parser.Feed(data.sliced(i, std::min<qsizetype>(step, data.size() - i)));
    if (result == THttpReplyParser::Incomplete)
        result = parser.PeerClosed();
    if (result == THttpReplyParser::Incomplete || body.size() > limits.MaxBodySize
        || body.size() != parser.BodyReceived())
        std::abort();
    return {result, parser.StatusCode(), body, parser.Truncated()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t step = data[0] % 16 + 1;
    const bool requestIs10 = data[0] & 0x80;
    const auto face = data[0] & 0x40 ? THttpReplyParser::Blocking : THttpReplyParser::EventDriven;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const Outcome whole = parse(bytes, bytes.size() + 1, requestIs10, face);
    const Outcome split = parse(bytes, step, requestIs10, face);
    if (whole.result != split.result || whole.status != split.status || whole.body != split.body
        || whole.truncated != split.truncated)
        std::abort();
    return 0;
}
