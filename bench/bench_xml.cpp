// Loading and walking a friends timeline through the binding, against a bare parse of
// the same bytes by the parser underneath. The ratio and the growth from 1,000 to
// 10,000 statuses are printed to stderr at the end (stdout may carry JSON).
#include "service/TimelineData.h"

#include <QByteArray>
#include <QString>

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

QByteArray Timeline(int count)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<statuses type=\"array\">\n";
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "<status>\n  <created_at>Tue Mar 10 12:00:00 +0000 2009</created_at>\n  <id>" + QByteArray::number(1300000000 + i)
            + "</id>\n  <text>\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF number " + n
            + " &amp; a link http://example.com/a?b=1&amp;c=" + n + " \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E</text>\n"
              "  <source>&lt;a href=\"http://example.com/\"&gt;client&lt;/a&gt;</source>\n  <truncated>false</truncated>\n"
              "  <in_reply_to_status_id></in_reply_to_status_id>\n  <in_reply_to_user_id></in_reply_to_user_id>\n"
              "  <favorited>" + QByteArray(i % 3 ? "false" : "true") + "</favorited>\n  <in_reply_to_screen_name></in_reply_to_screen_name>\n"
              "  <user>\n    <id>" + QByteArray::number(i % 97) + "</id>\n    <name>\xE5\xB1\xB1\xE7\x94\xB0 " + n + "</name>\n"
              "    <screen_name>user" + n + "</screen_name>\n    <location>Tokyo</location>\n    <description>a user</description>\n"
              "    <profile_image_url>http://example.com/p/" + n + ".png</profile_image_url>\n    <url>http://example.com/</url>\n"
              "    <protected>false</protected>\n    <followers_count>" + n + "</followers_count>\n  </user>\n</status>\n";
    }
    return text + "</statuses>\n";
}

void BM_TimelineWalk(benchmark::State& state)
{
    const QByteArray text = Timeline(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TXMLDocument doc;
        doc.LoadFromText(text);
        TXMLStatusesType* statuses = TimelineStatuses(doc);
        qsizetype total = 0;
        for (int i = 0; i < statuses->Count(); ++i) {
            TXMLStatusType* status = statuses->Get_status(i);
            total += status->Get_user()->Get_name().size() + status->Get_text().size()
                + status->Get_favorited().size() + status->Get_id().size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

// The floor: the parser alone turning the same bytes into its tree, with the same
// white-space handling as the layer, and freeing it.
void BM_TimelineWalk_Baseline(benchmark::State& state)
{
    const QByteArray text = Timeline(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        xmlDocPtr doc = xmlReadMemory(text.constData(), static_cast<int>(text.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOBLANKS);
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

BENCHMARK(BM_TimelineWalk)->Arg(20)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimelineWalk_Baseline)->Arg(20)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Passes every report to the usual reporter and keeps the times for the summary. The
// summary uses CPU time: wall time on a shared machine mostly measures the neighbours.
class SummaryReporter : public benchmark::BenchmarkReporter {
public:
    explicit SummaryReporter(std::unique_ptr<benchmark::BenchmarkReporter> inner) : m_inner(std::move(inner)) {}

    bool ReportContext(const Context& context) override { return m_inner->ReportContext(context); }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                m_seconds[run.benchmark_name()] = run.cpu_accumulated_time / static_cast<double>(run.iterations);
        }
        m_inner->ReportRuns(runs);
    }

    void Finalize() override
    {
        m_inner->Finalize();
        for (const char* n : {"20", "1000", "10000"}) {
            const double figure = Seconds(std::string("BM_TimelineWalk/") + n);
            const double base = Seconds(std::string("BM_TimelineWalk_Baseline/") + n);
            if (figure > 0 && base > 0)
                std::fprintf(stderr, "timeline walk, %6s statuses: %.2f x the bare parse\n", n, figure / base);
        }
        const double small = Seconds("BM_TimelineWalk/1000");
        const double large = Seconds("BM_TimelineWalk/10000");
        const double baseSmall = Seconds("BM_TimelineWalk_Baseline/1000");
        const double baseLarge = Seconds("BM_TimelineWalk_Baseline/10000");
        if (small > 0 && large > 0 && baseSmall > 0 && baseLarge > 0)
            std::fprintf(stderr, "growth 1,000 -> 10,000 statuses: %.2f x the time, bare parse %.2f x (10 is linear)\n",
                         large / small, baseLarge / baseSmall);
    }

private:
    double Seconds(const std::string& name) const
    {
        const auto it = m_seconds.find(name);
        return it == m_seconds.end() ? 0.0 : it->second;
    }

    std::unique_ptr<benchmark::BenchmarkReporter> m_inner;
    std::map<std::string, double> m_seconds;
};

} // namespace

int main(int argc, char** argv)
{
    bool json = false;
    for (int i = 1; i < argc; ++i)
        json = json || std::strcmp(argv[i], "--benchmark_format=json") == 0;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::unique_ptr<benchmark::BenchmarkReporter> inner;
    if (json)
        inner = std::make_unique<benchmark::JSONReporter>();
    else
        inner = std::make_unique<benchmark::ConsoleReporter>(benchmark::ConsoleReporter::OO_Tabular);
    SummaryReporter reporter(std::move(inner));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
