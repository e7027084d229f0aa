// Window benchmarks: start-up to first paint next to a bare Qt window, and
// the longest event-loop stall during a slow lookup. Each runs the probe
// programs as separate processes.
#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>

#include <benchmark/benchmark.h>

namespace {

QString probePath(const char* name)
{
    return QStringLiteral(MIZONG_PROBE_DIR "/") + QString::fromLatin1(name);
}

// Seconds from starting the probe to its report of the first paint.
double timeToFirstPaint(const QString& program)
{
    QProcess probe;
    QElapsedTimer clock;
    clock.start();
    probe.start(program, {});
    QByteArray out;
    while (!out.contains("painted") && probe.waitForReadyRead(30000))
        out += probe.readAllStandardOutput();
    const double seconds = clock.nsecsElapsed() / 1e9;
    probe.waitForFinished(10000);
    return out.contains("painted") ? seconds : -1;
}

void startup(benchmark::State& state, const char* name)
{
    const QString program = probePath(name);
    for (auto _ : state) {
        const double seconds = timeToFirstPaint(program);
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
void BM_StartupMizong(benchmark::State& state)
{
    startup(state, "mizong-startup-probe");
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
BENCHMARK(BM_StartupMizong)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupStall)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
