// A reply from the network read as a page of the fediverse's client API, both as a home
// timeline and as notifications, through the function the timeline read uses.
#include "service/FediverseRead.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (TTimeline timeline : {TTimeline::Friends, TTimeline::Mentions}) {
        const TFediverseRows rows = FediversePageRows(json, timeline);
        if (rows.Ok() && rows.Rows.size() != rows.PagingIds.size())
            __builtin_trap();
    }
    // The Link header's parser takes the same untrusted bytes.
    NextMaxIdOfLink(json);
    return 0;
}
