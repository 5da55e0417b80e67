// What 1,000 statuses cost in memory and time to build, held as typed rows (a vector of a
// struct with the id, names, texts and flags in their own types) against the baseline of
// QTreeWidgetItems holding the same nine fields as strings, as a widget list keeps them.
// bytes_per_1000_rows is the heap growth (glibc's mallinfo2) while the rows are alive.
#include "BenchRatio.h"

#include <benchmark/benchmark.h>

#include <QString>
#include <QStringList>
#include <QTreeWidgetItem>

#include <malloc.h>
#include <memory>
#include <vector>

namespace {

constexpr int kRows = 1000;

struct TRow {
    qint64 id = 0;
    QString name, screenName, text, html;
    bool favourite = false, seen = false, offline = false;
    qint64 inReplyTo = 0;
};

// The fields of status i, each string made afresh as a parser would hand it over.
TRow MakeRow(int i)
{
    TRow row;
    row.id = 1000000000LL + i;
    row.name = QString::fromUtf8("\xE5\xB1\xB1\xE7\x94\xB0 user%1").arg(i % 37);
    row.screenName = QStringLiteral("user%1").arg(i % 37);
    row.text = QString::fromUtf8("\xE4\xBB\x8A\xE6\x97\xA5\xE3\x81\xAF\xE3\x81\x84\xE3\x81\x84\xE5\xA4\xA9\xE6\xB0\x97 "
                                 "status number %1, see http://example.com/%1 for more")
                   .arg(i);
    row.html = QStringLiteral("%1 <a href=\"http://example.com/%2\">http://example.com/%2</a>")
                   .arg(row.text.left(30))
                   .arg(i);
    row.favourite = i % 7 == 0;
    row.seen = i % 2 == 0;
    row.offline = false;
    row.inReplyTo = i % 5 == 0 ? 999999999LL - i : 0;
    return row;
}

QStringList AsStrings(const TRow& row)
{
    return {row.name, row.text, QString::number(row.id), row.screenName, row.html,
            row.favourite ? QStringLiteral("1") : QStringLiteral("0"), row.seen ? QStringLiteral("1") : QStringLiteral("0"),
            row.offline ? QStringLiteral("1") : QStringLiteral("0"), QString::number(row.inReplyTo)};
}

size_t HeapInUse() { return mallinfo2().uordblks; }

void BM_Rows(benchmark::State& state)
{
    double bytes = 0;
    for (auto _ : state) {
        const size_t before = HeapInUse();
        std::vector<TRow> rows;
        rows.reserve(kRows);
        for (int i = 0; i < kRows; ++i)
            rows.push_back(MakeRow(i));
        bytes = static_cast<double>(HeapInUse() - before);
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["bytes_per_1000_rows"] = bytes;
}

void BM_Rows_Baseline(benchmark::State& state)
{
    double bytes = 0;
    for (auto _ : state) {
        const size_t before = HeapInUse();
        std::vector<std::unique_ptr<QTreeWidgetItem>> items;
        items.reserve(kRows);
        for (int i = 0; i < kRows; ++i)
            items.push_back(std::make_unique<QTreeWidgetItem>(AsStrings(MakeRow(i))));
        bytes = static_cast<double>(HeapInUse() - before);
        benchmark::DoNotOptimize(items.data());
    }
    state.counters["bytes_per_1000_rows"] = bytes;
}

} // namespace

BENCHMARK(BM_Rows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Rows_Baseline)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) { return RunBenchmarksWithRatios(argc, argv); }
