#include "BenchRatio.h"
#include "text/Utf8tosjis.h"

#include <benchmark/benchmark.h>

#include <QByteArray>

#include <cstring>

namespace {

// 1 MiB of status-like text: ASCII words, blanks, marks and Japanese (3-byte UTF-8).
QByteArray MixedText()
{
    const QByteArray piece = QByteArray("Hello world! a b&c=d ") + "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF"
                             + " (ok) ~100% \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n";
    QByteArray text;
    const qsizetype size = 1 << 20;
    text.reserve(size);
    while (text.size() < size)
        text += piece;
    text.truncate(size);
    return text;
}

void BM_FormEncode(benchmark::State& state)
{
    const QByteArray text = MixedText();
    for (auto _ : state) {
        QByteArray out = FormEncode(text);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

// The floor: one allocation and a copy of the same bytes.
void BM_FormEncode_Baseline(benchmark::State& state)
{
    const QByteArray text = MixedText();
    for (auto _ : state) {
        QByteArray out(text.size(), Qt::Uninitialized);
        std::memcpy(out.data(), text.constData(), size_t(text.size()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

} // namespace

BENCHMARK(BM_FormEncode);
BENCHMARK(BM_FormEncode_Baseline);
int main(int argc, char** argv)
{
    return RunBenchmarksWithRatios(argc, argv);
}
