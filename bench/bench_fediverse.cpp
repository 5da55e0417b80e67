// A 40-status page of the fediverse's home timeline turned into rows (JSON read, each
// status's HTML made text), against the JSON reader alone parsing the same bytes.
#include "BenchRatio.h"

#include "service/FediverseRead.h"

#include <QByteArray>
#include <QJsonDocument>

namespace {

// Shaped like a Mastodon reply: every field a status carries, HTML with a mention, a
// hashtag and a shortened link, some repeats and a content warning.
QByteArray HomePage()
{
    QByteArray page = "[";
    for (int i = 0; i < 40; ++i) {
        const QByteArray n = QByteArray::number(113000000000000000LL + i);
        const QByteArray account
            = "{\"id\":\"1090" + QByteArray::number(i % 7) + "\",\"username\":\"user" + QByteArray::number(i % 7)
            + "\",\"acct\":\"user" + QByteArray::number(i % 7) + "@social.example\",\"display_name\":\"\xE5\xB1\xB1\xE7\x94\xB0 :blobcat:\","
              "\"locked\":false,\"bot\":false,\"created_at\":\"2023-01-01T00:00:00.000Z\",\"note\":\"<p>a user</p>\","
              "\"url\":\"https://social.example/@user\",\"avatar\":\"https://social.example/a.png\","
              "\"avatar_static\":\"https://social.example/a.png\",\"header\":\"https://social.example/h.png\","
              "\"followers_count\":12,\"following_count\":34,\"statuses_count\":567,\"emojis\":[],\"fields\":[]}";
        QByteArray status
            = "{\"id\":\"" + n + "\",\"created_at\":\"2024-11-05T12:00:00.000Z\",\"in_reply_to_id\":null,"
              "\"in_reply_to_account_id\":null,\"sensitive\":" + QByteArray(i % 10 == 3 ? "true" : "false")
            + ",\"spoiler_text\":\"" + QByteArray(i % 10 == 3 ? "spoilers" : "") + "\",\"visibility\":\"public\","
              "\"language\":\"ja\",\"uri\":\"https://social.example/users/u/statuses/" + n + "\","
              "\"url\":\"https://social.example/@u/" + n + "\",\"replies_count\":0,\"reblogs_count\":1,"
              "\"favourites_count\":2,\"favourited\":" + QByteArray(i % 4 ? "false" : "true")
            + ",\"reblogged\":false,\"muted\":false,\"bookmarked\":false,"
              "\"content\":\"<p>\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF <span class=\\\"h-card\\\">"
              "<a href=\\\"https://social.example/@bob\\\" class=\\\"u-url mention\\\">@<span>bob</span></a></span> "
              "number " + n + " &amp; <a href=\\\"https://social.example/tags/cats\\\" class=\\\"mention hashtag\\\" "
              "rel=\\\"tag\\\">#<span>cats</span></a><br />see <a href=\\\"https://example.com/a/long/path?x=" + n
            + "\\\" rel=\\\"nofollow noopener\\\"><span class=\\\"invisible\\\">https://</span><span class=\\\"ellipsis\\\">"
              "example.com/a/long/pa</span><span class=\\\"invisible\\\">th?x=" + n + "</span></a></p><p>:blobcat:</p>\","
              "\"reblog\":null,\"application\":{\"name\":\"Web\",\"website\":null},\"account\":" + account
            + ",\"media_attachments\":[],\"mentions\":[{\"id\":\"1\",\"username\":\"bob\",\"url\":\"https://social.example/@bob\","
              "\"acct\":\"bob\"}],\"tags\":[{\"name\":\"cats\",\"url\":\"https://social.example/tags/cats\"}],"
              "\"emojis\":[{\"shortcode\":\"blobcat\",\"url\":\"https://social.example/e.png\","
              "\"static_url\":\"https://social.example/e.png\",\"visible_in_picker\":true}],\"card\":null,\"poll\":null}";
        if (i % 8 == 5)
            status = "{\"id\":\"" + n + "9\",\"created_at\":\"2024-11-05T12:00:00.000Z\",\"content\":\"\",\"spoiler_text\":\"\","
                   "\"account\":" + account + ",\"reblog\":" + status + ",\"media_attachments\":[],\"mentions\":[],"
                   "\"tags\":[],\"emojis\":[]}";
        page += (i ? "," : "") + status;
    }
    return page + "]";
}

void BM_FediversePage(benchmark::State& state)
{
    const QByteArray json = HomePage();
    for (auto _ : state) {
        TFediverseRows rows = FediversePageRows(json, TTimeline::Friends);
        if (rows.Rows.size() != 40)
            state.SkipWithError("not 40 rows");
        benchmark::DoNotOptimize(rows);
    }
    state.SetBytesProcessed(state.iterations() * json.size());
}

// The floor: the JSON reader alone turning the same bytes into its document.
void BM_FediversePage_Baseline(benchmark::State& state)
{
    const QByteArray json = HomePage();
    for (auto _ : state) {
        QJsonDocument document = QJsonDocument::fromJson(json);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(state.iterations() * json.size());
}

} // namespace

BENCHMARK(BM_FediversePage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FediversePage_Baseline)->Unit(benchmark::kMicrosecond);
int main(int argc, char** argv)
{
    return RunBenchmarksWithRatios(argc, argv);
}
