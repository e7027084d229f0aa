// Window benchmarks: start-up to first paint next to a bare Qt window, the
// memory of the program with its announcement page next to a bare window and
// to the web engine's own floor, and the longest event-loop stall during a
// slow lookup. Each runs the probe programs as separate processes.
#include "home_site.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QThread>
#include <QUrl>

#include <benchmark/benchmark.h>

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

void startup(benchmark::State& state, const char* name, const QStringList& arguments = {})
{
    const QString program = probePath(name);
    for (auto _ : state) {
        const double seconds = timeToFirstPaint(program, arguments);
        if (seconds < 0) {
            state.SkipWithError("the probe did not paint");
            return;
        }
        state.SetIterationTime(seconds);
    }
}

void BM_StartupBareWindow(benchmark::State& state)
{
    startup(state, "bare-window-probe");
}
// The same bare window asking for the shared GL context that the page view
// needs: what that attribute alone costs a start.
void BM_StartupBareWindowSharedGL(benchmark::State& state)
{
    startup(state, "bare-window-probe", {QStringLiteral("--share-gl")});
}
void BM_StartupMizong(benchmark::State& state)
{
    startup(state, "mizong-startup-probe");
}

// PSS in KiB of one process, from the kernel's summary; 0 when it is gone.
long pssKiB(qint64 pid)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

struct TreeMemory
{
    long pssKiB = 0;
    int processes = 0;
};

// PSS summed over `root` and every process descended from it.
TreeMemory treeMemory(qint64 root)
{
    QMap<qint64, qint64> parentOf;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // The command name may hold blanks; the fields after it do not.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        parentOf.insert(pid, fields.value(1).toLongLong());
    }
    TreeMemory memory;
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        for (qint64 pid = it.key(); pid > 1; pid = parentOf.value(pid, 0)) {
            if (pid == root) {
                memory.pssKiB += pssKiB(it.key());
                ++memory.processes;
                break;
            }
        }
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
// settle, then measures the whole process tree. The probe's output so far is
// left in `out`.
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
    const TreeMemory memory = treeMemory(probe.processId());
    probe.terminate();
    if (!probe.waitForFinished(10000))
        probe.kill();
    state.counters["pss_mib"] = memory.pssKiB / 1024.0;
    state.counters["processes"] = memory.processes;
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

void BM_MemoryMizong(benchmark::State& state)
{
    const HomeSite site;
    for (auto _ : state) {
        QByteArray out;
        if (!measureHeld(state, QStringLiteral(MIZONG_MEMORY_PROBE), {}, "loaded", out))
            return;
        // The window alone, measured by the probe at its first paint, before
        // the page view's module and processes exist.
        const qsizetype at = out.indexOf("painted pss_kib ");
        state.counters["window_pss_mib"] =
            at < 0 ? -1 : out.mid(at + 16).split('\n').value(0).toDouble() / 1024.0;
    }
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

BENCHMARK(BM_StartupBareWindow)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupBareWindowSharedGL)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartupMizong)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupStall)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryBareWindow)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryWebEngineFloor)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryMizong)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
