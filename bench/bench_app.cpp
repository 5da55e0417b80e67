// Whole-program figures, each against a floor measured in the same run.
//
// Startup: from starting the program (--api on the local service, which serves 20
// statuses a page) to the first frame of its main window, against the floor program
// (bench/support/minimalqt.cpp) showing the same 20 rows in a bare QTreeWidget of the
// same font above a trace box in the window's fixed-width face holding the program's
// trace lines of that moment, in a window of the same size. Counters: the whole process's wall time of that run (it quits right
// after the first frame) and its peak resident memory. The program's moment of first
// frame comes from its first-paint hook when it has one (--first-paint-exit in --help,
// or BRIMLARK_EXIT_AFTER_FIRST_PAINT=1 honoured: "first-paint NS" on stdout, then a clean
// exit). Without one (first_paint_hook = 0) both figures are the --screenshot run's wall
// time less what --screenshot adds, as the floor measures it (its --screenshot run less
// its first-frame run, plus the difference in encoding the two pictures): an upper
// bound, since it keeps the program's teardown.
// StartupScreenshot: both programs with --screenshot, PNG encoding included; the time
// this machine takes to encode each picture is a counter.
// Reload50Pages: the mean of 50 reloads of 50 pages (1,000 rows) in a shown main window,
// against the sum of its floors: libcurl fetching the same 50 pages (a fresh connection
// each, as the window does), a bare libxml2 parse of them and inserting the 1,000 rows
// into the floor program's list. Resident memory (VmRSS, VmHWM) after start-up and after
// the reloads, against the floor program holding the same 20 and then 1,000 rows, and in
// its trace box the lines the program's trace box holds at each moment (the reload probe
// writes them out; the floor appends them over its own 50 rounds).
// ReloadFediverse: the same 1,000 rows reloaded 50 times by the program signed in to the
// service's fediverse face with a token (25 pages of 40), against its floors (below).
// IdleCpu: CPU share over 30 s of idling with both timers, against the floor program.
#include "BenchRatio.h"
#include "support/CurlGet.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <libxml/parser.h>

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
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

using Clock = std::chrono::steady_clock;

constexpr int kStartupRuns = 21;    // per side, alternating; the medians are reported
constexpr int kReloadPages = 50;
constexpr int kReloadRounds = 50;
constexpr int kFetchRounds = 5;
constexpr const char* kHookVariable = "BRIMLARK_EXIT_AFTER_FIRST_PAINT";
constexpr int kFediversePages = 25;   // of 40 statuses: the same 1,000 rows
constexpr const char* kToken = "bench-token-0123456789";

struct Child {
    pid_t pid = -1;
    int stdoutFd = -1;
};

Child spawn(const std::vector<std::string>& argv, bool captureStdout = false, const std::vector<std::string>& extraEnv = {})
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    for (const std::string& e : extraEnv)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
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
    if (posix_spawn(&child.pid, args[0], &actions, nullptr, args.data(), env.data()) != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    if (captureStdout) {
        ::close(pipeFds[1]);
        child.stdoutFd = pipeFds[0];
    }
    return child;
}

// Everything the child writes on stdout, until it closes it (mostly: until it exits).
std::string readAll(int fd)
{
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return out;
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

bool exitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

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

double seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// The local service with a seeded database and the demo account, for the whole run.
class Service {
public:
    Service()
    {
        // The fediverse's JSON face beside the XML one, on the same data.
        m_child = spawn({BRIMLARK_LOCALSERVICE, "--port", "0", "--db",
                         (m_dir.path() + QStringLiteral("/bench.sqlite")).toStdString(), "--seed",
                         "--user", "demo:demo", "--flavour", "mastodon", "--token", std::string("demo:") + kToken},
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
        if (!exitedCleanly(status))
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

// ---- the timeline through libcurl and libxml2 ------------------------------------------

// The address the window reads for a page.
std::string pageUrl(int page)
{
    const std::string address = service().url() + "/statuses/friends_timeline.xml";
    return page <= 1 ? address : address + "?page=" + std::to_string(page) + "&twtr=true";
}

// One GET on a fresh connection, as the window's one client per page.
std::string curlFetch(const std::string& url)
{
    std::string body;
    if (!CurlGet200(url, "demo:demo", &body))
        throw std::runtime_error("libcurl could not fetch " + url);
    return body;
}

xmlDocPtr parse(const std::string& body)
{
    return xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS);
}

const xmlNode* child(const xmlNode* node, const char* name)
{
    for (const xmlNode* c = node ? node->children : nullptr; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(c->name), name) == 0)
            return c;
    }
    return nullptr;
}

// One line per status: the user's name, a tab, the text; on one line each.
std::string rowLines(const std::string& body)
{
    std::string lines;
    xmlDocPtr doc = parse(body);
    const auto text = [](const xmlNode* node) {
        std::string s;
        if (xmlChar* content = node ? xmlNodeGetContent(node) : nullptr) {
            s = reinterpret_cast<const char*>(content);
            xmlFree(content);
        }
        std::replace_if(s.begin(), s.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
        return s;
    };
    for (const xmlNode* s = doc ? xmlDocGetRootElement(doc)->children : nullptr; s; s = s->next) {
        if (s->type == XML_ELEMENT_NODE)
            lines += text(child(child(s, "user"), "name")) + '\t' + text(child(s, "text")) + '\n';
    }
    xmlFreeDoc(doc);
    return lines;
}

// The 50 pages as the service serves them to the demo account, and their rows in the
// floor program's files: the first page's 20 and all 1,000.
class Timeline {
public:
    Timeline()
    {
        std::string rows;
        for (int page = 1; page <= kReloadPages; ++page) {
            m_pages.push_back(curlFetch(pageUrl(page)));
            rows += rowLines(m_pages.back());
            if (page == 1)
                write(m_rows20, rows);
        }
        write(m_rows1000, rows);
        m_rowCount = static_cast<int>(std::count(rows.begin(), rows.end(), '\n'));
    }
    const std::vector<std::string>& pages() const { return m_pages; }
    int rowCount() const { return m_rowCount; }
    std::string rows20() const { return m_dir.filePath(m_rows20).toStdString(); }
    std::string rows1000() const { return m_dir.filePath(m_rows1000).toStdString(); }

private:
    void write(const QString& name, const std::string& text)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) < 0)
            throw std::runtime_error("cannot write the rows");
    }

    QTemporaryDir m_dir;
    const QString m_rows20 = QStringLiteral("rows20.tsv");
    const QString m_rows1000 = QStringLiteral("rows1000.tsv");
    std::vector<std::string> m_pages;
    int m_rowCount = 0;
};

Timeline& timeline()
{
    static Timeline t;
    return t;
}

// ---- start-up ----------------------------------------------------------------------------
// The reload probe's copies of the program's trace box: startup-trace.txt, reload-trace.txt.
std::string traceFile(const char* name)
{
    static QTemporaryDir dir;
    return name ? dir.filePath(QLatin1String(name)).toStdString() : dir.path().toStdString();
}

// Measured once, first of all: the start-up's floor shows the trace lines that run saw.
struct Reload;
const Reload& reload();

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

struct ProcessRun {
    bool ok = false;
    double firstPaint = 0;  // seconds from the start of the process
    double wall = 0;        // seconds from the start to the end of the process
    long peakRssKb = 0;
};

// Starts the command and waits for it; firstPaint from a "first-paint NS" line on stdout.
ProcessRun timedRun(const std::vector<std::string>& argv, const std::vector<std::string>& env = {})
{
    ProcessRun run;
    const Clock::time_point start = Clock::now();
    const Child child = spawn(argv, true, env);
    const std::string out = readAll(child.stdoutFd);
    int status = 0;
    run.peakRssKb = waitPeakRssKb(child.pid, &status);
    run.wall = seconds(start, Clock::now());
    run.ok = exitedCleanly(status);
    const size_t at = out.find("first-paint ");
    if (at != std::string::npos) {
        // The steady clock is CLOCK_MONOTONIC, the clock of the line.
        const long long ns = std::atoll(out.c_str() + at + 12);
        run.firstPaint = seconds(start, Clock::time_point(std::chrono::nanoseconds(ns)));
    }
    return run;
}

// Median seconds to encode the picture in FILE as PNG, as the program saves its grab.
double pngEncodeSeconds(const std::string& file)
{
    const QImage image(QString::fromStdString(file));
    if (image.isNull())
        return 0;
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        const Clock::time_point start = Clock::now();
        image.save(&buffer, "PNG");
        times.push_back(seconds(start, Clock::now()));
    }
    return median(times);
}

enum class Hook { None, Option, Environment };

// Whether the program quits by itself at its first frame, and how to ask it.
Hook detectHook(const ProgramCopy& program)
{
    const Child help = spawn({program.exe(), "--help"}, true);
    const std::string usage = readAll(help.stdoutFd);
    waitPeakRssKb(help.pid);
    if (usage.find("--first-paint-exit") != std::string::npos)
        return Hook::Option;
    const Child child = spawn({program.exe(), "--api", service().url()}, true, {std::string(kHookVariable) + "=1"});
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(3);
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(child.pid, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        ::kill(child.pid, SIGTERM);
        ::waitpid(child.pid, &status, 0);
    }
    const std::string out = readAll(child.stdoutFd);
    return done != 0 && exitedCleanly(status) && out.find("first-paint ") != std::string::npos ? Hook::Environment
                                                                                                 : Hook::None;
}

// The program's window size, WxH, from a --screenshot run; the floor copies it.
const std::string& windowSize()
{
    static const std::string size = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ProgramCopy program;
        const std::string shot = program.file("shot.png");
        const ProcessRun run = timedRun({program.exe(), "--api", service().url(), "--screenshot", shot});
        const QSize picture = QImageReader(QString::fromStdString(shot)).size();
        if (!run.ok || picture.isEmpty())
            throw std::runtime_error("the program's --screenshot run failed");
        return std::to_string(picture.width()) + "x" + std::to_string(picture.height());
    }();
    return size;
}

struct Side {
    double firstPaint = 0, wall = 0, peakRssKb = 0;     // first-frame runs
    double shotWall = 0, shotPeakRssKb = 0, pngEncode = 0;  // --screenshot runs
};

struct Startup {
    bool ok = false;
    Hook hook = Hook::None;
    double screenshotOverhead = 0;  // subtracted from the --screenshot run without a hook
    Side program, floor;
};

// Both programs measured in turns, so a busy neighbour weighs on both alike.
Startup measureStartup()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Startup s;
    reload();
    ProgramCopy program;
    const std::string shot = program.file("shot.png");
    const std::string floorShot = program.file("floor.png");
    const std::vector<std::string> programShot = {program.exe(), "--api", service().url(), "--screenshot", shot};
    // One run of each warms the caches.
    if (!timedRun(programShot).ok)
        return s;
    const std::vector<std::string> floorBase = {BRIMLARK_MINIMALQT, timeline().rows20(), "--size", windowSize(),
                                                "--trace", traceFile("startup-trace.txt")};
    std::vector<std::string> floorFirst = floorBase, floorShotArgs = floorBase;
    floorFirst.push_back("--first-paint-exit");
    floorShotArgs.insert(floorShotArgs.end(), {"--screenshot", floorShot});
    if (!timedRun(floorShotArgs).ok)
        return s;

    s.hook = detectHook(program);
    std::vector<std::string> programFirst = {program.exe(), "--api", service().url()};
    std::vector<std::string> hookEnv;
    if (s.hook == Hook::Option)
        programFirst.push_back("--first-paint-exit");
    else if (s.hook == Hook::Environment)
        hookEnv.push_back(std::string(kHookVariable) + "=1");

    struct Samples {
        std::vector<double> firstPaint, wall, peak, shotWall, shotPeak;
        void add(const ProcessRun& first, const ProcessRun& screenshot)
        {
            firstPaint.push_back(first.firstPaint);
            wall.push_back(first.wall);
            peak.push_back(static_cast<double>(first.peakRssKb));
            shotWall.push_back(screenshot.wall);
            shotPeak.push_back(static_cast<double>(screenshot.peakRssKb));
        }
        void into(Side& side) const
        {
            side.firstPaint = median(firstPaint);
            side.wall = median(wall);
            side.peakRssKb = median(peak);
            side.shotWall = median(shotWall);
            side.shotPeakRssKb = median(shotPeak);
        }
    } programSamples, floorSamples;
    for (int i = 0; i < kStartupRuns; ++i) {
        const ProcessRun programRun = s.hook == Hook::None ? ProcessRun{true} : timedRun(programFirst, hookEnv);
        const ProcessRun floorRun = timedRun(floorFirst);
        const ProcessRun programShotRun = timedRun(programShot);
        const ProcessRun floorShotRun = timedRun(floorShotArgs);
        if (!programRun.ok || !floorRun.ok || !programShotRun.ok || !floorShotRun.ok)
            return s;
        if (s.hook != Hook::None && programRun.firstPaint <= 0)
            return s;
        programSamples.add(programRun, programShotRun);
        floorSamples.add(floorRun, floorShotRun);
    }
    programSamples.into(s.program);
    floorSamples.into(s.floor);
    s.program.pngEncode = pngEncodeSeconds(shot);
    s.floor.pngEncode = pngEncodeSeconds(floorShot);
    if (s.hook == Hook::None) {
        // What --screenshot adds to a run that quits at its first frame, as the floor shows
        // it: the grab, the image plugins looked up for saving and the encoding; the
        // program's own picture may take a little longer to encode than the floor's.
        s.screenshotOverhead = s.floor.shotWall - s.floor.wall + s.program.pngEncode - s.floor.pngEncode;
        s.program.firstPaint = s.program.wall = s.program.shotWall - s.screenshotOverhead;
        s.program.peakRssKb = s.program.shotPeakRssKb;
    }
    s.ok = true;
    return s;
}

const Startup& startup()
{
    static const Startup s = measureStartup();
    return s;
}

void reportStartup(benchmark::State& state, bool floor)
{
    const Startup& s = startup();
    if (!s.ok) {
        state.SkipWithError("a start-up run failed");
        return;
    }
    const Side& side = floor ? s.floor : s.program;
    for (auto _ : state)
        state.SetIterationTime(side.firstPaint);
    state.counters["wall_ms"] = side.wall * 1e3;
    state.counters["peak_rss_kb"] = side.peakRssKb;
    if (!floor) {
        state.counters["first_paint_hook"] = s.hook == Hook::None ? 0 : 1;
        if (s.hook == Hook::None)
            state.counters["screenshot_overhead_ms"] = s.screenshotOverhead * 1e3;
    }
}

void reportScreenshot(benchmark::State& state, bool floor)
{
    const Startup& s = startup();
    if (!s.ok) {
        state.SkipWithError("a start-up run failed");
        return;
    }
    const Side& side = floor ? s.floor : s.program;
    for (auto _ : state)
        state.SetIterationTime(side.shotWall);
    state.counters["png_encode_ms"] = side.pngEncode * 1e3;
    state.counters["peak_rss_kb"] = side.shotPeakRssKb;
}

void BM_Startup(benchmark::State& state) { reportStartup(state, false); }
void BM_Startup_Baseline(benchmark::State& state) { reportStartup(state, true); }
void BM_StartupScreenshot(benchmark::State& state) { reportScreenshot(state, false); }
void BM_StartupScreenshot_Baseline(benchmark::State& state) { reportScreenshot(state, true); }

// ---- reload and memory -----------------------------------------------------------------

struct Memory {
    double startupRss = 0, startupHwm = 0, reloadRss = 0, reloadHwm = 0;
};

struct Reload {
    bool ok = false;
    double programSeconds = 0;
    int programRows = 0;
    Memory program, floor;
    double fetch = 0, parse = 0, insert = 0;  // the floor's parts
    int floorRows = 0;
};


// "startup RSS HWM" and "reload SECONDS ROWS RSS HWM" from the probe or the floor program.
bool readReloadOutput(const std::string& out, double* seconds, int* rows, Memory* memory)
{
    const size_t at = out.find("reload ");
    return std::sscanf(out.c_str(), "startup %lf %lf", &memory->startupRss, &memory->startupHwm) == 2
        && at != std::string::npos
        && std::sscanf(out.c_str() + at, "reload %lf %d %lf %lf", seconds, rows, &memory->reloadRss, &memory->reloadHwm) == 4;
}

bool runReloader(const std::vector<std::string>& argv, double* seconds, int* rows, Memory* memory)
{
    const Child child = spawn(argv, true);
    const std::string out = readAll(child.stdoutFd);
    int status = 0;
    waitPeakRssKb(child.pid, &status);
    return exitedCleanly(status) && readReloadOutput(out, seconds, rows, memory);
}

Reload measureReload()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Reload r;
    const Timeline& t = timeline();
    if (t.rowCount() != kReloadPages * 20)
        return r;
    if (!runReloader({BRIMLARK_RELOADPROBE, "reload", service().url(), std::to_string(kReloadPages),
                      std::to_string(kReloadRounds), traceFile(nullptr)},
                     &r.programSeconds, &r.programRows, &r.program))
        return r;
    std::vector<double> fetches, parses;
    for (int round = 0; round < kFetchRounds; ++round) {
        Clock::time_point start = Clock::now();
        size_t bytes = 0;
        for (int page = 1; page <= kReloadPages; ++page)
            bytes += curlFetch(pageUrl(page)).size();
        fetches.push_back(seconds(start, Clock::now()));
        benchmark::DoNotOptimize(bytes);
        start = Clock::now();
        for (const std::string& body : t.pages()) {
            xmlDocPtr doc = parse(body);
            benchmark::DoNotOptimize(doc);
            xmlFreeDoc(doc);
        }
        parses.push_back(seconds(start, Clock::now()));
    }
    r.fetch = median(fetches);
    r.parse = median(parses);
    if (!runReloader({BRIMLARK_MINIMALQT, t.rows20(), "--size", windowSize(), "--trace", traceFile("startup-trace.txt"),
                      "--reload", t.rows1000(), std::to_string(kReloadRounds), traceFile("reload-trace.txt")},
                     &r.insert, &r.floorRows, &r.floor))
        return r;
    r.ok = true;
    return r;
}

const Reload& reload()
{
    static const Reload r = measureReload();
    return r;
}

// A reload run's time and its rows and memory at start-up and after the reloads.
void reportRun(benchmark::State& state, const Reload& r, bool floor, double seconds)
{
    for (auto _ : state)
        state.SetIterationTime(seconds);
    const Memory& m = floor ? r.floor : r.program;
    state.counters["rows"] = floor ? r.floorRows : r.programRows;
    state.counters["rss_kb_startup"] = m.startupRss;
    state.counters["hwm_kb_startup"] = m.startupHwm;
    state.counters["rss_kb_after_reloads"] = m.reloadRss;
    state.counters["hwm_kb_after_reloads"] = m.reloadHwm;
}

void reportReload(benchmark::State& state, bool floor)
{
    const Reload& r = reload();
    if (!r.ok) {
        state.SkipWithError("a reload run failed");
        return;
    }
    reportRun(state, r, floor, floor ? r.fetch + r.parse + r.insert : r.programSeconds);
    if (floor) {
        state.counters["fetch_ms"] = r.fetch * 1e3;
        state.counters["parse_ms"] = r.parse * 1e3;
        state.counters["insert_ms"] = r.insert * 1e3;
    }
}

void BM_Reload50Pages(benchmark::State& state) { reportReload(state, false); }
void BM_Reload50Pages_Baseline(benchmark::State& state) { reportReload(state, true); }

// The same for the fediverse: the program signed in to the service's JSON face with a
// token reads 25 pages of 40 (1,000 rows) and reloads them 50 times. Its time against
// the floor doing the same reload in one process (reload_floor --fediverse: libcurl,
// QJsonDocument, libxml2's HTML parser for the texts, the floor's list), the mean of
// kFetchRounds. Its memory against the same floor program as the XML family's, holding
// the rows and trace lines the program's window shows (the probe writes them out): the
// libcurl floor's own memory would not do, since loading libcurl and the libraries it
// links takes some 5 MB more than the program takes in all.
Reload measureFediverseReload()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Reload r;
    static QTemporaryDir dir;
    const auto file = [](const char* name) { return dir.filePath(QLatin1String(name)).toStdString(); };
    if (!runReloader({BRIMLARK_RELOADPROBE, "reload", service().url(), std::to_string(kFediversePages),
                      std::to_string(kReloadRounds), dir.path().toStdString(), kToken},
                     &r.programSeconds, &r.programRows, &r.program))
        return r;
    QFile sizeFile(dir.filePath(QStringLiteral("size.txt")));
    const std::string size = sizeFile.open(QIODevice::ReadOnly) ? sizeFile.readAll().toStdString() : windowSize();
    Memory floorProcess;
    int floorRows = 0;
    if (!runReloader({BRIMLARK_RELOADFLOOR, service().url(), std::to_string(kFediversePages), file("startup-rows.tsv"),
                      "--size", size, "--trace", file("startup-trace.txt"), "--reload-trace", file("reload-trace.txt"),
                      "--fediverse", kToken, "--rounds", std::to_string(kFetchRounds)},
                     &r.fetch, &floorRows, &floorProcess)
        || floorRows != r.programRows)
        return r;
    if (!runReloader({BRIMLARK_MINIMALQT, file("startup-rows.tsv"), "--size", size, "--trace", file("startup-trace.txt"),
                      "--reload", file("reload-rows.tsv"), std::to_string(kReloadRounds), file("reload-trace.txt")},
                     &r.insert, &r.floorRows, &r.floor))
        return r;
    r.ok = true;
    return r;
}

const Reload& fediverseReload()
{
    static const Reload r = measureFediverseReload();
    return r;
}

void reportFediverseReload(benchmark::State& state, bool floor)
{
    const Reload& r = fediverseReload();
    if (!r.ok) {
        state.SkipWithError("a fediverse reload run failed");
        return;
    }
    reportRun(state, r, floor, floor ? r.fetch : r.programSeconds);
}

void BM_ReloadFediverse(benchmark::State& state) { reportFediverseReload(state, false); }
void BM_ReloadFediverse_Baseline(benchmark::State& state) { reportFediverseReload(state, true); }

// ---- idle ------------------------------------------------------------------------------

void runIdle(benchmark::State& state, bool floor)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ProgramCopy program;
    constexpr int kIdleSeconds = 30;
    double share = 0;
    for (auto _ : state) {
        const Child child = floor ? spawn({BRIMLARK_MINIMALQT, timeline().rows20(), "--size", windowSize(), "--trace", traceFile("startup-trace.txt")})
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

} // namespace

// Each start-up and reload pair is measured once, on first use, and both sides report
// from that measurement: one iteration each.
BENCHMARK(BM_Startup)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Startup_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupScreenshot)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupScreenshot_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reload50Pages)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reload50Pages_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReloadFediverse)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReloadFediverse_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleCpu_Baseline)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int result = RunBenchmarksWithRatios(argc, argv);
    curl_global_cleanup();
    return result;
}
