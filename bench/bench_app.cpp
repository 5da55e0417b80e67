// Whole-program figures, each against a baseline in the same run: start-up to the shown
// window with 20 statuses from the local service (and the peak resident memory of that
// run) and the CPU share while idling 30 s with both timers, against a minimal Qt Widgets
// program; a reload of 50 pages (1,000 rows) against one of 5 pages, time and peak memory.
#include "BenchRatio.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Child {
    pid_t pid = -1;
    int stdoutFd = -1;
};

Child spawn(const std::vector<std::string>& argv, bool captureStdout = false)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (captureStdout) {
        if (::pipe(pipeFds) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Child child;
    if (posix_spawn(&child.pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    if (captureStdout) {
        ::close(pipeFds[1]);
        child.stdoutFd = pipeFds[0];
    }
    return child;
}

// Waits for the child and returns its peak resident memory in KiB.
long waitPeakRssKb(pid_t pid, int* status = nullptr)
{
    int st = 0;
    rusage usage{};
    ::wait4(pid, &st, 0, &usage);
    if (status)
        *status = st;
    return usage.ru_maxrss;
}

// CPU time (user + system) of a running process, in seconds.
double cpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Fields after the parenthesised command name; utime and stime are the 14th and 15th.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The local service with a seeded database and the demo account, for the whole run.
class Service {
public:
    Service()
    {
        m_child = spawn({BRIMLARK_LOCALSERVICE, "--port", "0", "--db",
                         (m_dir.path() + QStringLiteral("/bench.sqlite")).toStdString(), "--seed",
                         "--user", "demo:demo"},
                        true);
        std::string port;
        char c;
        while (::read(m_child.stdoutFd, &c, 1) == 1 && c != '\n')
            port += c;
        if (port.empty())
            throw std::runtime_error("the local service did not start");
        m_url = "http://127.0.0.1:" + port;
        // The seed has some hundreds of statuses; the 50-page reload wants 1,000.
        const Child fill = spawn({BRIMLARK_RELOADPROBE, "fill", m_url, "700"});
        int status = 0;
        waitPeakRssKb(fill.pid, &status);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("could not fill the timeline");
    }
    ~Service()
    {
        ::kill(m_child.pid, SIGTERM);
        waitPeakRssKb(m_child.pid);
        ::close(m_child.stdoutFd);
    }
    const std::string& url() const { return m_url; }

private:
    QTemporaryDir m_dir;
    Child m_child;
    std::string m_url;
};

Service& service()
{
    static Service s;
    return s;
}

// A copy of the program in its own folder, so its settings file (beside the executable)
// holds the demo account and never touches a real one.
class ProgramCopy {
public:
    ProgramCopy()
    {
        m_exe = m_dir.path() + QStringLiteral("/brimlark");
        QFile::copy(QStringLiteral(BRIMLARK_EXE), m_exe);
        QFile ini(m_dir.path() + QStringLiteral("/brimlark.ini"));
        ini.open(QIODevice::WriteOnly);
        // "demo" scrambled with the key 0x5A is ">?75".
        ini.write("[App]\nUSR=>?75\nPWD=>?75\n");
    }
    std::string exe() const { return m_exe.toStdString(); }
    std::string file(const char* name) const { return (m_dir.path() + QLatin1Char('/') + QLatin1String(name)).toStdString(); }

private:
    QTemporaryDir m_dir;
    QString m_exe;
};

void runStartup(benchmark::State& state, bool baseline)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ProgramCopy program;
    const std::string shot = program.file("shot.png");
    long peak = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const Child child = baseline ? spawn({BRIMLARK_MINIMALQT, "--screenshot", shot})
                                     : spawn({program.exe(), "--api", service().url(), "--screenshot", shot});
        int status = 0;
        peak = waitPeakRssKb(child.pid, &status);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program did not exit cleanly");
            return;
        }
        state.SetIterationTime(elapsed.count());
    }
    state.counters["peak_rss_kb"] = static_cast<double>(peak);
}

void BM_Startup(benchmark::State& state) { runStartup(state, false); }
void BM_Startup_Baseline(benchmark::State& state) { runStartup(state, true); }

void runIdle(benchmark::State& state, bool baseline)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ProgramCopy program;
    constexpr int kIdleSeconds = 30;
    double share = 0;
    for (auto _ : state) {
        const Child child = baseline ? spawn({BRIMLARK_MINIMALQT})
                                     : spawn({program.exe(), "--api", service().url()});
        std::this_thread::sleep_for(std::chrono::seconds(3));  // start-up and first read
        const double before = cpuSeconds(child.pid);
        std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
        const double after = cpuSeconds(child.pid);
        ::kill(child.pid, SIGTERM);
        waitPeakRssKb(child.pid);
        share = (after - before) / kIdleSeconds;
        state.SetIterationTime(kIdleSeconds);
    }
    state.counters["cpu_share_pct"] = share * 100.0;
}

void BM_IdleCpu(benchmark::State& state) { runIdle(state, false); }
void BM_IdleCpu_Baseline(benchmark::State& state) { runIdle(state, true); }

// One probe process per measurement, so its peak memory is the reload's own.
void runReload(benchmark::State& state, int pages)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    constexpr int kRounds = 3;
    double peak = 0, rows = 0;
    for (auto _ : state) {
        const Child child = spawn({BRIMLARK_RELOADPROBE, "reload", service().url(), std::to_string(pages),
                                   std::to_string(kRounds)},
                                  true);
        std::string out;
        char buf[256];
        ssize_t n;
        while ((n = ::read(child.stdoutFd, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        ::close(child.stdoutFd);
        int status = 0;
        waitPeakRssKb(child.pid, &status);
        double seconds = 0;
        long peakKb = 0;
        int shown = 0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0
            || std::sscanf(out.c_str(), "%lf %d %ld", &seconds, &shown, &peakKb) != 3) {
            state.SkipWithError("the reload probe failed");
            return;
        }
        state.SetIterationTime(seconds);
        peak = static_cast<double>(peakKb);
        rows = shown;
    }
    state.counters["peak_rss_kb"] = peak;
    state.counters["rows"] = rows;
}

void BM_Reload50Pages(benchmark::State& state) { runReload(state, 50); }
void BM_Reload50Pages_Baseline(benchmark::State& state) { runReload(state, 5); }

} // namespace

BENCHMARK(BM_Reload50Pages)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reload50Pages_Baseline)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Startup)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Startup_Baseline)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleCpu_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv)
{
    return RunBenchmarksWithRatios(argc, argv);
}
