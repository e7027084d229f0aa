// Window benchmarks: start-up to first paint next to a bare Qt window, start
// to the announcement drawn, the memory of the program with its announcement
// next to a bare window, and the longest event-loop stalls of the window's
// thread during a slow lookup and while the largest pages load and scroll.
// Each runs the probe programs as separate processes.
#include "home_site.h"
#include "process_tree.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QProcess>
#include <QString>
#include <QThread>

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <iterator>
#include <optional>
#include <string>

namespace {

QString probePath(const char* name)
{
    return QStringLiteral(MIZONG_PROBE_DIR "/") + QString::fromLatin1(name);
}

// Another build's probes (tools/bench --against), run in turns with this
// build's so that both meet the same load: the build a change is measured
// against. Empty when there is none.
QString baselinePath(const char* name)
{
    const QString dir = qEnvironmentVariable("MIZONG_BASELINE_PROBE_DIR");
    return dir.isEmpty() ? QString() : dir + u'/' + QString::fromLatin1(name);
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
    const QString baseline = baselinePath("mizong-startup-probe");
    if (!baseline.isEmpty())
        probes.append({"baseline", baseline, {}, {}});
    const int rounds = int(state.range(0));
    QList<double> ratios;
    QList<double> glRatios;
    QList<double> baselineRatios;
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
            if (probes.size() > 3)
                baselineRatios.append(probes[3].ms.last() / probes[0].ms.last());
        }
    }
    for (const Probe& probe : std::as_const(probes))
        reportSpread(state, probe.name + "_ms", probe.ms);
    reportSpread(state, "ratio", ratios);
    reportSpread(state, "ratio_gl", glRatios);
    if (!baselineRatios.isEmpty())
        reportSpread(state, "baseline_ratio", baselineRatios);
}

// The home site, so that the program's page view loads the real announcement.
struct HomeSite : mizong::testing::SampleHomeSite
{
    HomeSite()
        : SampleHomeSite(QStringLiteral(MIZONG_SAMPLE_SERVICE),
                         QStringLiteral(MIZONG_HOME_SITE_BASE))
    {}
};

long long steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The value after `key ` on the probe's output; -1 when it is not there.
double valueAfter(const QByteArray& out, const QByteArray& key)
{
    const qsizetype at = out.indexOf(key + ' ');
    if (at < 0 || (at > 0 && out[at - 1] != '\n' && out[at - 1] != ' '))
        return -1;
    return out.mid(at + key.size() + 1).split('\n').value(0).split(' ').value(0).toDouble();
}

// One start of the program up to its announcement drawn: nanoseconds on the
// steady clock of its start, first paint, pageShown() and the view's paint.
std::optional<std::array<double, 4>> announcementRun(const QString& program)
{
    QProcess probe;
    const long long start = steadyNs();
    probe.start(program, {});
    QByteArray out;
    while (!out.contains("drawn ") && probe.waitForReadyRead(30000))
        out += probe.readAllStandardOutput();
    probe.waitForFinished(10000);
    out += probe.readAllStandardOutput();
    const std::array<double, 4> times = {double(start), valueAfter(out, "painted"),
                                         valueAfter(out, "shown"), valueAfter(out, "drawn")};
    if (std::any_of(times.begin() + 1, times.end(), [](double t) { return t < 0; }))
        return std::nullopt;
    return times;
}

// The program started as main() starts it, round by round: milliseconds from
// the start to its window's first paint, to its page view's pageShown() with
// the sample service's announcement, and to the view's first paint after it;
// and with a baseline, its start to the announcement drawn in the same rounds.
// One program's phases, round by round, in milliseconds.
struct AnnouncementPhases
{
    QList<double> painted;
    QList<double> shown;
    QList<double> drawn;
    QList<double> pageLoad;
    QList<double> pagePaint;

    void add(const std::array<double, 4>& t)
    {
        painted.append((t[1] - t[0]) / 1e6);
        shown.append((t[2] - t[0]) / 1e6);
        drawn.append((t[3] - t[0]) / 1e6);
        pageLoad.append((t[2] - t[1]) / 1e6);
        pagePaint.append((t[3] - t[2]) / 1e6);
    }
    void report(benchmark::State& state, const std::string& prefix) const
    {
        reportSpread(state, prefix + "painted_ms", painted);
        reportSpread(state, prefix + "shown_ms", shown);
        reportSpread(state, prefix + "drawn_ms", drawn);
        reportSpread(state, prefix + "page_load_ms", pageLoad);
        reportSpread(state, prefix + "page_paint_ms", pagePaint);
    }
};

void BM_AnnouncementDrawn(benchmark::State& state)
{
    const HomeSite site;
    const QString baseline = baselinePath("mizong-announcement-probe");
    AnnouncementPhases ours;
    AnnouncementPhases theirs;
    QList<double> baselineRatio;
    for (auto _ : state) {
        for (int round = 0; round < state.range(0); ++round) {
            // In turns, the first of a round alternating.
            std::optional<std::array<double, 4>> ourRun;
            std::optional<std::array<double, 4>> theirRun;
            for (int k = 0; k < 2; ++k) {
                if ((k + round) % 2 == 0)
                    ourRun = announcementRun(probePath("mizong-announcement-probe"));
                else if (!baseline.isEmpty())
                    theirRun = announcementRun(baseline);
            }
            if (!ourRun || (!baseline.isEmpty() && !theirRun)) {
                state.SkipWithError("the announcement was not drawn (is the sample service up?)");
                return;
            }
            ours.add(*ourRun);
            if (theirRun) {
                theirs.add(*theirRun);
                baselineRatio.append(ours.drawn.last() / theirs.drawn.last());
            }
        }
    }
    ours.report(state, {});
    if (!theirs.drawn.isEmpty()) {
        theirs.report(state, "baseline_");
        reportSpread(state, "baseline_drawn_ratio", baselineRatio);
    }
}

// A field of the kernel's summary of a process's memory ("Pss:", "Rss:") in KiB.
double memoryKiB(qint64 pid, QByteArrayView field)
{
    for (const QByteArray& line : mizong::testing::procFile(pid, "smaps_rollup").split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toDouble();
    }
    return 0;
}

struct HeldMemory
{
    double pssMiB = 0;
    double rssMiB = 0;
    int processes = 0;
    QByteArray out;
};

// Starts `program`, waits for `marker` on its output and a second more, then
// measures its process and any it started. PSS shares each page among all the
// processes on the machine that map it, so it shrinks while other programs
// map the same libraries; RSS counts each page whole, as if nothing else ran.
std::optional<HeldMemory> measureHeld(const QString& program, const QStringList& arguments,
                                      const QByteArray& marker)
{
    QProcess probe;
    probe.start(program, arguments);
    HeldMemory memory;
    while (!memory.out.contains(marker) && probe.waitForReadyRead(30000))
        memory.out += probe.readAllStandardOutput();
    if (!memory.out.contains(marker))
        return std::nullopt;
    QThread::sleep(1);
    for (const qint64 pid : mizong::testing::processTree(probe.processId())) {
        memory.pssMiB += memoryKiB(pid, "Pss:") / 1024;
        memory.rssMiB += memoryKiB(pid, "Rss:") / 1024;
        ++memory.processes;
    }
    probe.terminate();
    if (!probe.waitForFinished(10000))
        probe.kill();
    return memory;
}

// The bare window and the program with its announcement shown, in turns; the
// ratio is taken within each round.
void BM_Memory(benchmark::State& state)
{
    const HomeSite site;
    QList<double> barePss;
    QList<double> bareRss;
    QList<double> pss;
    QList<double> rss;
    QList<double> windowPss;
    QList<double> windowRss;
    QList<double> ratio;
    QList<double> rssRatio;
    QList<double> baselinePss;
    QList<double> baselineRatio;
    int processes = 0;
    for (auto _ : state) {
        for (int round = 0; round < state.range(0); ++round) {
            const std::optional<HeldMemory> bare =
                measureHeld(probePath("bare-window-probe"), {QStringLiteral("--hold")}, "painted");
            const std::optional<HeldMemory> ours = measureHeld(
                probePath("mizong-announcement-probe"), {QStringLiteral("--hold")}, "drawn");
            if (!bare || !ours) {
                state.SkipWithError("a probe did not report");
                return;
            }
            if (const QString baseline = baselinePath("mizong-announcement-probe");
                !baseline.isEmpty()) {
                const std::optional<HeldMemory> theirs =
                    measureHeld(baseline, {QStringLiteral("--hold")}, "drawn");
                if (!theirs) {
                    state.SkipWithError("the baseline's probe did not report");
                    return;
                }
                baselinePss.append(theirs->pssMiB);
                baselineRatio.append(theirs->pssMiB / bare->pssMiB);
            }
            barePss.append(bare->pssMiB);
            bareRss.append(bare->rssMiB);
            pss.append(ours->pssMiB);
            rss.append(ours->rssMiB);
            ratio.append(ours->pssMiB / bare->pssMiB);
            rssRatio.append(ours->rssMiB / bare->rssMiB);
            processes = std::max(processes, ours->processes);
            // The window alone, measured by the probe at its first paint,
            // before the page view loads anything.
            windowPss.append(valueAfter(ours->out, "pss_kib") / 1024);
            windowRss.append(valueAfter(ours->out, "rss_kib") / 1024);
        }
    }
    reportSpread(state, "bare_pss_mib", barePss);
    reportSpread(state, "bare_rss_mib", bareRss);
    reportSpread(state, "pss_mib", pss);
    reportSpread(state, "rss_mib", rss);
    reportSpread(state, "window_pss_mib", windowPss);
    reportSpread(state, "window_rss_mib", windowRss);
    reportSpread(state, "ratio", ratio);
    reportSpread(state, "rss_ratio", rssRatio);
    if (!baselinePss.isEmpty()) {
        reportSpread(state, "baseline_pss_mib", baselinePss);
        reportSpread(state, "baseline_ratio", baselineRatio);
    }
    state.counters["processes"] = processes;
}

// A phase line of event_loop_watch.h: its numbers, and the event it names.
struct PhaseLine
{
    QHash<QByteArray, double> values;
    QByteArray event;
    QByteArray stallEvent;
};

std::optional<PhaseLine> phaseLine(const QByteArray& out, const QByteArray& phase)
{
    std::optional<PhaseLine> found;
    for (const QByteArray& line : out.split('\n')) {
        if (!line.startsWith(phase + ' '))
            continue;
        if (!found)
            found.emplace();
        const QList<QByteArray> words = line.mid(phase.size() + 1).split(' ');
        for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
            if (words[i] == "event" || words[i] == "stall_event") {
                const QByteArray rest = words.mid(i + 1).join(' ');
                (words[i] == "event" ? found->event : found->stallEvent) = rest;
                break;
            }
            found->values.insert(words[i], words[i + 1].toDouble());
        }
    }
    if (found && found->stallEvent.isEmpty())
        found->stallEvent = found->event;
    return found;
}

// Runs a stall probe; its output, or nothing when it reported no phase.
std::optional<QByteArray> runStallProbe(const QString& program, const QStringList& arguments)
{
    QProcess probe;
    probe.start(program, arguments);
    if (!probe.waitForFinished(180000))
        probe.kill();
    const QByteArray out = probe.readAllStandardOutput();
    return out.contains(" stall_ms ") ? std::optional(out) : std::nullopt;
}

// The worst of the runs' phases, by the longest stall; every run's stall
// besides, for the median.
struct WorstPhase
{
    PhaseLine worst;
    QList<double> stalls;

    void add(const PhaseLine& line)
    {
        if (stalls.isEmpty() || line.values.value("stall_ms") > worst.values.value("stall_ms"))
            worst = line;
        stalls.append(line.values.value("stall_ms"));
    }
    void report(benchmark::State& state, const std::string& phase) const
    {
        reportSpread(state, phase + "_stall_ms", stalls);
        for (const char* key : {"stall_cpu_ms", "stall_wait_ms", "stall_majflt", "stall_event_ms",
                                "busiest_cpu_ms", "event_ms", "event_cpu_ms"})
            state.counters[phase + '_' + key] = worst.values.value(key);
    }
    std::string label(const char* phase) const
    {
        return std::string(phase) + ": " + worst.stallEvent.toStdString() + ", longest " +
               worst.event.toStdString();
    }
};

void BM_LookupStall(benchmark::State& state)
{
    WorstPhase lookup;
    for (auto _ : state) {
        const std::optional<QByteArray> out = runStallProbe(probePath("stall-probe"), {});
        const std::optional<PhaseLine> line = out ? phaseLine(*out, "lookup") : std::nullopt;
        if (!line) {
            state.SkipWithError("the stall probe reported nothing");
            return;
        }
        lookup.add(*line);
    }
    lookup.report(state, "lookup");
    state.SetLabel(lookup.label("lookup"));
}

// The pages the page view's caps are tried with (page_stall_probe.cpp).
constexpr const char* kStressPages[] = {"text", "nested", "image", "cjk", "tall", "style"};

void BM_PageStall(benchmark::State& state)
{
    const QString page = QString::fromLatin1(kStressPages[state.range(0)]);
    WorstPhase load;
    WorstPhase scroll;
    QList<double> loadMs;
    double chars = 0;
    double height = 0;
    for (auto _ : state) {
        const std::optional<QByteArray> out = runStallProbe(probePath("page-stall-probe"), {page});
        const std::optional<PhaseLine> loaded = out ? phaseLine(*out, "load") : std::nullopt;
        const std::optional<PhaseLine> scrolled = out ? phaseLine(*out, "scroll") : std::nullopt;
        const std::optional<PhaseLine> shown = out ? phaseLine(*out, "page") : std::nullopt;
        if (!loaded || !scrolled || !shown) {
            state.SkipWithError("the page stall probe reported nothing");
            return;
        }
        load.add(*loaded);
        scroll.add(*scrolled);
        loadMs.append(shown->values.value("load_ms"));
        chars = shown->values.value("chars");
        height = shown->values.value("height");
        state.counters["show_event_ms"] =
            std::max(double(state.counters["show_event_ms"]), shown->values.value("show_event_ms"));
    }
    load.report(state, "load");
    scroll.report(state, "scroll");
    reportSpread(state, "load_ms", loadMs);
    state.counters["chars"] = chars;
    state.counters["height"] = height;
    state.SetLabel(load.label("load") + "; " + scroll.label("scroll"));
}

} // namespace

BENCHMARK(BM_Startup)->Arg(31)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnnouncementDrawn)->Arg(31)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory)->Arg(3)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupStall)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageStall)->DenseRange(0, 5)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
