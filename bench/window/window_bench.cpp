// Window benchmarks: start-up to first paint next to a bare Qt window, the
// memory of the program with its announcement page next to a bare window and
// to the web engine's own floor, and the longest event-loop stall during a
// slow lookup. Each runs the probe programs as separate processes.
#include "home_site.h"
#include "process_tree.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <string>

namespace {

QString probePath(const char* name)
{
    return QStringLiteral(MIZONG_PROBE_DIR "/") + QString::fromLatin1(name);
}

// Seconds from starting the probe to its report of the first paint.
double timeToFirstPaint(const QString& program, const QStringList& arguments)
{
    QProcess probe;
    QElapsedTimer clock;
    clock.start();
    probe.start(program, arguments);
    QByteArray out;
    while (!out.contains("painted") && probe.waitForReadyRead(30000))
        out += probe.readAllStandardOutput();
    const double seconds = clock.nsecsElapsed() / 1e9;
    probe.waitForFinished(10000);
    return out.contains("painted") ? seconds : -1;
}

double quantile(QList<double> values, double q)
{
    std::sort(values.begin(), values.end());
    const double at = q * double(values.size() - 1);
    const auto below = qsizetype(at);
    const qsizetype above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (at - double(below));
}

// Median and quartiles, as counters named after `name`.
void reportSpread(benchmark::State& state, const std::string& name, const QList<double>& values)
{
    state.counters[name + "_median"] = quantile(values, 0.5);
    state.counters[name + "_p25"] = quantile(values, 0.25);
    state.counters[name + "_p75"] = quantile(values, 0.75);
    state.counters[name + "_min"] = quantile(values, 0);
    state.counters[name + "_max"] = quantile(values, 1);
}

// The probes' start-ups, interleaved: each round starts every probe once, in
// an order that turns round by round, so that a change of load during the run
// weighs on all of them alike. The ratio is taken within each round, between
// starts seconds apart, and its median reported with the quartiles.
void BM_Startup(benchmark::State& state)
{
    struct Probe
    {
        std::string name;
        QString program;
        QStringList arguments;
        QList<double> ms;
    };
    QList<Probe> probes = {
        {"bare", probePath("bare-window-probe"), {}, {}},
        // The same bare window asking for the shared GL context that a page
        // view with GL would need: what that attribute alone costs a start.
        {"bare_gl", probePath("bare-window-probe"), {QStringLiteral("--share-gl")}, {}},
        {"mizong", probePath("mizong-startup-probe"), {}, {}},
    };
    const int rounds = int(state.range(0));
    QList<double> ratios;
    QList<double> glRatios;
    for (auto _ : state) {
        for (int round = 0; round < rounds; ++round) {
            for (qsizetype i = 0; i < probes.size(); ++i) {
                Probe& probe = probes[(round + i) % probes.size()];
                const double seconds = timeToFirstPaint(probe.program, probe.arguments);
                if (seconds < 0) {
                    state.SkipWithError("a probe did not paint");
                    return;
                }
                probe.ms.append(seconds * 1000);
            }
            ratios.append(probes[2].ms.last() / probes[0].ms.last());
            glRatios.append(probes[2].ms.last() / probes[1].ms.last());
        }
    }
    for (const Probe& probe : std::as_const(probes))
        reportSpread(state, probe.name + "_ms", probe.ms);
    reportSpread(state, "ratio", ratios);
    reportSpread(state, "ratio_gl", glRatios);
}

// One process of a measured program. PSS shares each page among all the
// processes that map it, on the whole machine, so a program's PSS shrinks
// while another program maps the same libraries (another engineer's mizong,
// or a desktop full of Qt programs). `aloneKiB` shares pages only among the
// measured program's own processes: what the program costs on its own, the
// same on a busy machine as on a quiet one.
struct ProcessMemory
{
    QByteArray kind; // browser, zygote, renderer, or Chromium's --type
    double pssKiB = 0;
    double aloneKiB = 0;
};

// PSS in KiB of one process, from the kernel's summary; 0 when it is gone.
double pssKiB(qint64 pid)
{
    for (const QByteArray& line : mizong::testing::procFile(pid, "smaps_rollup").split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toDouble();
    }
    return 0;
}

// The physical frames of the process's resident pages; empty where the
// kernel hides them (reading them takes root).
QList<quint64> residentFrames(qint64 pid)
{
    QList<quint64> frames;
    QFile pagemap(QStringLiteral("/proc/%1/pagemap").arg(pid));
    if (!pagemap.open(QIODevice::ReadOnly))
        return frames;
    constexpr quint64 kPage = 4096;
    constexpr quint64 kPresent = quint64(1) << 63;
    constexpr quint64 kFrameMask = (quint64(1) << 55) - 1;
    quint64 start = 0;
    quint64 end = 0;
    for (const QByteArray& line : mizong::testing::procFile(pid, "smaps").split('\n')) {
        const qsizetype dash = line.indexOf('-');
        const qsizetype blank = line.indexOf(' ');
        if (dash > 0 && blank > dash && !line.startsWith("Rss:")) {
            bool ok = false;
            const quint64 from = line.left(dash).toULongLong(&ok, 16);
            if (ok) {
                start = from;
                end = line.mid(dash + 1, blank - dash - 1).toULongLong(nullptr, 16);
                continue;
            }
        }
        // Only areas with resident pages: most of a browser's address space
        // is reserved and never touched.
        if (!line.startsWith("Rss:") || line.mid(4).trimmed().startsWith("0 "))
            continue;
        QList<quint64> entries((end - start) / kPage);
        if (!pagemap.seek(qint64(start / kPage * sizeof(quint64))))
            continue;
        const auto bytes = qint64(entries.size() * sizeof(quint64));
        if (pagemap.read(reinterpret_cast<char*>(entries.data()), bytes) != bytes)
            continue;
        for (const quint64 entry : std::as_const(entries)) {
            if ((entry & kPresent) && (entry & kFrameMask))
                frames.append(entry & kFrameMask);
        }
    }
    return frames;
}

// `root` and every process descended from it.
QList<ProcessMemory> treeMemory(qint64 root)
{
    const QList<qint64> pids = mizong::testing::processTree(root);
    QList<QList<quint64>> frames;
    QHash<quint64, int> mappers;
    for (const qint64 pid : pids) {
        QList<quint64> own = residentFrames(pid);
        std::sort(own.begin(), own.end());
        own.erase(std::unique(own.begin(), own.end()), own.end());
        for (const quint64 frame : std::as_const(own))
            ++mappers[frame];
        frames.append(std::move(own));
    }
    QList<ProcessMemory> memory;
    for (qsizetype i = 0; i < pids.size(); ++i) {
        ProcessMemory process{mizong::testing::processKind(pids[i], root), pssKiB(pids[i]), 0};
        for (const quint64 frame : std::as_const(frames[i]))
            process.aloneKiB += 4.0 / mappers.value(frame);
        memory.append(process);
    }
    return memory;
}

// The home site, so that the page views load the real announcement page.
struct HomeSite : mizong::testing::SampleHomeSite
{
    HomeSite()
        : SampleHomeSite(QStringLiteral(MIZONG_SAMPLE_SERVICE),
                         QStringLiteral(MIZONG_HOME_SITE_BASE))
    {}
};

// Starts `program`, waits for `marker` on its output and for the page to
// settle, then measures the whole process tree: in all and by kind of
// process, alone where the kernel shows the frames (else PSS) and as PSS.
// The probe's output so far is left in `out`.
bool measureHeld(benchmark::State& state, const QString& program, const QStringList& arguments,
                 const QByteArray& marker, QByteArray& out)
{
    QProcess probe;
    probe.start(program, arguments);
    while (!out.contains(marker) && probe.waitForReadyRead(30000))
        out += probe.readAllStandardOutput();
    if (!out.contains(marker)) {
        state.SkipWithError("the probe did not report");
        return false;
    }
    // Let the page's processes finish painting and settle.
    QThread::sleep(2);
    const QList<ProcessMemory> memory = treeMemory(probe.processId());
    probe.terminate();
    if (!probe.waitForFinished(10000))
        probe.kill();
    double pss = 0;
    double alone = 0;
    QMap<QByteArray, double> byKind;
    for (const ProcessMemory& process : memory) {
        pss += process.pssKiB;
        alone += process.aloneKiB;
    }
    const bool hasAlone = alone > 0;
    for (const ProcessMemory& process : memory)
        byKind[process.kind] += (hasAlone ? process.aloneKiB : process.pssKiB) / 1024.0;
    state.counters["pss_mib"] = pss / 1024.0;
    state.counters["alone_mib"] = hasAlone ? alone / 1024.0 : -1;
    for (auto it = byKind.cbegin(); it != byKind.cend(); ++it)
        state.counters[it.key().toStdString() + "_mib"] = it.value();
    state.counters["processes"] = double(memory.size());
    return true;
}

void BM_MemoryBareWindow(benchmark::State& state)
{
    for (auto _ : state) {
        QByteArray out;
        if (!measureHeld(state, probePath("bare-window-probe"), {QStringLiteral("--hold")},
                         "painted", out))
            return;
    }
}

void BM_MemoryWebEngineFloor(benchmark::State& state)
{
    const HomeSite site;
    for (auto _ : state) {
        QByteArray out;
        if (!measureHeld(state, probePath("webengine-floor-probe"), {}, "loaded", out))
            return;
    }
}

// The program with all of the page engine's savings, or with one given up.
void memoryMizong(benchmark::State& state, const QStringList& arguments)
{
    const HomeSite site;
    for (auto _ : state) {
        QByteArray out;
        if (!measureHeld(state, QStringLiteral(MIZONG_MEMORY_PROBE), arguments, "loaded", out))
            return;
        // The window alone, measured by the probe at its first paint, before
        // the page view's module and processes exist.
        const qsizetype at = out.indexOf("painted pss_kib ");
        const QList<QByteArray> fields =
            at < 0 ? QList<QByteArray>{} : out.mid(at).split('\n').value(0).split(' ');
        state.counters["window_pss_mib"] = fields.value(2, "-1024").toDouble() / 1024.0;
        state.counters["window_alone_mib"] = fields.value(4, "-1024").toDouble() / 1024.0;
    }
}

void BM_MemoryMizong(benchmark::State& state)
{
    memoryMizong(state, {});
}
void BM_MemoryMizongWithGlDriver(benchmark::State& state)
{
    memoryMizong(state, {QStringLiteral("--with-gl-driver")});
}
void BM_MemoryMizongWithUnsandboxedZygote(benchmark::State& state)
{
    memoryMizong(state, {QStringLiteral("--with-unsandboxed-zygote")});
}

void BM_LookupStall(benchmark::State& state)
{
    double worst = 0;
    for (auto _ : state) {
        QProcess probe;
        probe.start(probePath("stall-probe"), {});
        probe.waitForFinished(60000);
        const QByteArray out = probe.readAllStandardOutput();
        const qsizetype at = out.indexOf("max_stall_ms ");
        if (at < 0) {
            state.SkipWithError("the stall probe reported nothing");
            return;
        }
        worst = std::max(worst, out.mid(at + 13).trimmed().toDouble());
    }
    state.counters["max_stall_ms"] = worst;
}

} // namespace

BENCHMARK(BM_Startup)->Arg(31)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupStall)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryBareWindow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryWebEngineFloor)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryMizong)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryMizongWithGlDriver)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryMizongWithUnsandboxedZygote)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
