#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// In the console view, more lines per pair BM_X[/args] and BM_X_Baseline[/args]: the
// figure's real time over its baseline's, and the same for every counter both report.
// JSON output (read by tools/benchtable.py) is left untouched.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
                for (const auto& [key, counter] : run.counters)
                    m_counters[run.benchmark_name()][key] = counter.value;
            }
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const auto& [name, time] : m_times) {
            if (name.find("_Baseline") != std::string::npos)
                continue;
            std::string baseline = name;
            const size_t slash = baseline.find('/');
            baseline.insert(slash == std::string::npos ? baseline.size() : slash, "_Baseline");
            const auto it = m_times.find(baseline);
            if (it != m_times.end() && it->second > 0)
                std::printf("ratio %-44s %.2fx the baseline's time\n", name.c_str(), time / it->second);
            const auto& baselineCounters = m_counters[baseline];
            for (const auto& [key, value] : m_counters[name]) {
                const auto other = baselineCounters.find(key);
                if (other != baselineCounters.end() && other->second != 0)
                    std::printf("ratio %-44s %.2fx the baseline's %s\n", name.c_str(), value / other->second, key.c_str());
            }
        }
    }

private:
    std::map<std::string, double> m_times;
    std::map<std::string, std::map<std::string, double>> m_counters;
};

// The body of a benchmark program's main: the ratio lines in console mode only.
inline int RunBenchmarksWithRatios(int argc, char** argv)
{
    bool console = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--benchmark_format", 18) == 0)
            console = false;
    }
    benchmark::Initialize(&argc, argv);
    if (console) {
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}
