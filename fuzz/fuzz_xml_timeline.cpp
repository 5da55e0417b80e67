// A reply from the network, loaded and walked the way the timeline read walks it,
// then every node of the tree visited. Only the error family may escape a call.
#include "service/TimelineData.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace {

template <class F>
void Try(F&& f)
{
    try {
        f();
    } catch (const EBrimlarkError&) {
    }
}

void WalkTimeline(TXMLDocument& doc)
{
    TXMLStatusesType* statuses = TimelineStatuses(doc);
    Try([&] { statuses->Get_type(); });
    for (int i = 0; i < statuses->Count(); ++i) {
        TXMLStatusType* s = statuses->Get_status(i);
        const std::function<QString()> fields[] = {
            [&] { return s->Get_created_at(); }, [&] { return s->Get_id(); }, [&] { return s->Get_text(); },
            [&] { return s->Get_source(); }, [&] { return s->Get_truncated(); },
            [&] { return s->Get_in_reply_to_status_id(); }, [&] { return s->Get_in_reply_to_user_id(); },
            [&] { return s->Get_favorited(); }, [&] { return s->Get_in_reply_to_screen_name(); },
        };
        for (const auto& f : fields)
            Try(f);
        Try([&] {
            TXMLUserType* u = s->Get_user();
            Try([&] { u->Get_name(); });
            Try([&] { u->Get_screen_name(); });
            Try([&] { u->Get_followers_count(); });
        });
    }
}

// Every node once, without recursion: depth comes from the input.
void WalkTree(TXMLDocument& doc)
{
    std::vector<TXMLNode*> pending{doc.DocumentNode()};
    while (!pending.empty()) {
        TXMLNode* node = pending.back();
        pending.pop_back();
        Try([&] { node->NodeValue(); });
        node->NodeName();
        TXMLNodeList* attributes = node->AttributeList();
        for (int i = 0; i < attributes->Count(); ++i)
            attributes->NodeAt(i)->NodeValue();
        TXMLNodeList* children = node->ChildList();
        for (int i = 0; i < children->Count(); ++i)
            pending.push_back(children->NodeAt(i));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TXMLDocument doc;
    try {
        doc.LoadFromText(text);
    } catch (const EDOMParseError&) {
        return 0;
    }
    Try([&] { WalkTimeline(doc); });
    WalkTree(doc);
    Try([&] { doc.SaveToText(); });
    return 0;
}
