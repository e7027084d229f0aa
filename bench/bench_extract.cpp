// Cost of the lookups' own extraction of the ten device fields (and four SIM
// fields) on result pages from a few kilobytes to the 8 MiB fetch bound,
// against std::regex running the same rules and against one plain substring
// search over the page (the floor), plus hostile pages. With --no-jit the
// program instead compares against QRegularExpression without its JIT, which
// has to be switched off before the first expression is compiled. --quiet
// prints only the summary tables.

#include "device_lookup.h"
#include "pattern_extract.h"
#include "result_pages.h"
#include "sim_lookup.h"
#include "text_scan_p.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringMatcher>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

using Fields = std::vector<std::optional<QString>>;

struct Size
{
    const char* label;
    qsizetype bytes;
};
constexpr Size typicalSizes[] = {
    {"5KB", 5 << 10}, {"64KB", 64 << 10}, {"1MiB", 1 << 20}, {"8MiB", 8 << 20}};
constexpr Size hostileSizes[] = {{"1MiB", 1 << 20}, {"8MiB", 8 << 20}};
constexpr bench::Hostile hostileKinds[] = {bench::Hostile::LabelsOnOneLine,
                                           bench::Hostile::Unclosed, bench::Hostile::ParenCr};
// std::regex recurses once per character it consumes and per start position
// it abandons; beyond these sizes it is slow and long lines overflow the stack.
constexpr qsizetype stdRegexLimit = 64 << 10;

const QString replacedPhrase = QStringLiteral("这是已更换产品的序列号");

// The device fields in the order of the lookup's rules.
Fields inRuleOrder(const mizong::device::Slots& bySlot)
{
    Fields values;
    for (const mizong::device::FieldRule& rule : mizong::device::fieldRules())
        values.push_back(bySlot[mizong::device::slot(rule.field)]);
    return values;
}

// The lookup's own extraction of the ten device fields.
Fields oursFields(QStringView page)
{
    return inRuleOrder(mizong::device::extractFields(page));
}

// The same rules through QRegularExpression.
Fields regexFields(QStringView page)
{
    Fields values;
    for (const mizong::device::FieldRule& rule : mizong::device::fieldRules()) {
        auto v = mizong::extractGroupsRegex(page, rule.pattern, {rule.group});
        values.push_back(v ? std::optional<QString>(mizong::device::finishValue(rule, v->front()))
                           : std::nullopt);
    }
    return values;
}

struct StdField
{
    std::wregex re;
    const mizong::device::FieldRule* rule;
};

// The same rules through std::regex.
const std::vector<StdField>& stdDeviceFields()
{
    static const std::vector<StdField> compiled = [] {
        std::vector<StdField> out;
        for (const mizong::device::FieldRule& rule : mizong::device::fieldRules())
            out.push_back(
                {std::wregex(rule.pattern.toStdWString(), std::regex::ECMAScript), &rule});
        return out;
    }();
    return compiled;
}

Fields stdRegexFields(const std::wstring& page)
{
    Fields values;
    for (const StdField& f : stdDeviceFields()) {
        std::wsmatch m;
        if (std::regex_search(page, m, f.re))
            values.push_back(mizong::device::finishValue(
                *f.rule, QString::fromStdWString(m[f.rule->group + 1].str())));
        else
            values.push_back(std::nullopt);
    }
    return values;
}

int foundSim(QStringView page)
{
    int n = 0;
    for (const auto& v : mizong::sim::extractFields(page))
        n += v.has_value();
    return n;
}

const QString& typicalPage(qsizetype bytes)
{
    static std::map<qsizetype, QString> pages;
    auto it = pages.find(bytes);
    if (it == pages.end())
        it = pages.emplace(bytes, bench::typicalPage(bytes)).first;
    return it->second;
}

const std::wstring& typicalWide(qsizetype bytes)
{
    static std::map<qsizetype, std::wstring> pages;
    auto it = pages.find(bytes);
    if (it == pages.end())
        it = pages.emplace(bytes, typicalPage(bytes).toStdWString()).first;
    return it->second;
}

const QString& cachedHostilePage(bench::Hostile kind, qsizetype bytes)
{
    static std::map<std::pair<int, qsizetype>, QString> pages;
    const std::pair<int, qsizetype> key{int(kind), bytes};
    auto it = pages.find(key);
    if (it == pages.end())
        it = pages.emplace(key, bench::hostilePage(kind, bytes)).first;
    return it->second;
}

int found(const Fields& values)
{
    int n = 0;
    for (const auto& v : values)
        n += v.has_value();
    return n;
}

// The numbers below are only worth printing if every variant reads the same
// fields off the page.
void checkTypicalPages()
{
    for (const Size& size : typicalSizes) {
        const QString& page = typicalPage(size.bytes);
        const Fields ours = oursFields(page);
        if (found(ours) != 10 || ours != regexFields(page) ||
            (size.bytes <= stdRegexLimit && ours != stdRegexFields(typicalWide(size.bytes)))) {
            std::fprintf(stderr, "fields differ between implementations at %s\n", size.label);
            std::exit(1);
        }
        for (const auto& v : ours)
            if (v->isEmpty()) {
                std::fprintf(stderr, "an empty field on the typical page at %s\n", size.label);
                std::exit(1);
            }
    }
}

void registerRun(const std::string& name, std::function<void(benchmark::State&)> body)
{
    benchmark::RegisterBenchmark(name.c_str(), std::move(body))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

// The matcher's building blocks next to what Qt offers for the same job,
// on the typical pages: every occurrence of pieces the device patterns look
// for, and the UTF-16 check QRegularExpression makes of every subject.
constexpr Size scanSizes[] = {{"1MiB", 1 << 20}, {"8MiB", 8 << 20}};
const QStringList scanNeedles{QStringLiteral("</strong></span></td>"), QStringLiteral("\r\n"),
                              QStringLiteral("<td width=\"70%\" scope=\"col\" abbr=\"Starter\">"),
                              QStringLiteral("<span class=\"biaoti STYLE8\">"),
                              QStringLiteral("</span></th>")};

// Every occurrence of every needle on the typical page of `bytes`, found with
// `Finder` (the matcher's LiteralFinder or QStringMatcher).
template <typename Finder> void countNeedles(benchmark::State& state, qsizetype bytes)
{
    const QString& page = typicalPage(bytes);
    std::vector<Finder> finders;
    for (const QString& needle : scanNeedles)
        finders.emplace_back(needle);
    for (auto _ : state) {
        for (const Finder& finder : finders) {
            qsizetype n = 0;
            for (qsizetype at = finder.indexIn(page, 0); at >= 0; at = finder.indexIn(page, at + 1))
                ++n;
            benchmark::DoNotOptimize(n);
        }
    }
}

void registerScan()
{
    for (const Size& size : scanSizes) {
        const std::string label = size.label;
        const qsizetype bytes = size.bytes;
        registerRun("scan/literal/ours/" + label, [bytes](benchmark::State& state) {
            countNeedles<mizong::scan::LiteralFinder>(state, bytes);
        });
        registerRun("scan/literal/qt/" + label, [bytes](benchmark::State& state) {
            countNeedles<QStringMatcher>(state, bytes);
        });
        registerRun("scan/utf16/ours/" + label, [bytes](benchmark::State& state) {
            const QString& page = typicalPage(bytes);
            for (auto _ : state)
                benchmark::DoNotOptimize(mizong::scan::isValidUtf16(page));
        });
        registerRun("scan/utf16/qt/" + label, [bytes](benchmark::State& state) {
            const QString& page = typicalPage(bytes);
            for (auto _ : state)
                benchmark::DoNotOptimize(QStringView(page).isValidUtf16());
        });
    }
}

void registerMain()
{
    registerScan();
    for (const Size& size : typicalSizes) {
        const std::string label = size.label;
        const qsizetype bytes = size.bytes;
        registerRun("typical/ours/" + label, [bytes](benchmark::State& state) {
            const QString& page = typicalPage(bytes);
            for (auto _ : state)
                benchmark::DoNotOptimize(mizong::device::extractFields(page));
        });
        if (bytes <= stdRegexLimit)
            registerRun("typical/stdregex/" + label, [bytes](benchmark::State& state) {
                const std::wstring& page = typicalWide(bytes);
                for (auto _ : state)
                    benchmark::DoNotOptimize(stdRegexFields(page));
            });
        registerRun("typical/floor/" + label, [bytes](benchmark::State& state) {
            const QStringView page = typicalPage(bytes);
            for (auto _ : state)
                benchmark::DoNotOptimize(page.indexOf(replacedPhrase));
        });
        registerRun("typical/qregex/" + label, [bytes](benchmark::State& state) {
            const QString& page = typicalPage(bytes);
            for (auto _ : state)
                benchmark::DoNotOptimize(regexFields(page));
        });
    }
    for (bench::Hostile kind : hostileKinds)
        for (const Size& size : hostileSizes) {
            const std::string suffix = std::string(bench::hostileName(kind)) + "/" + size.label;
            const qsizetype bytes = size.bytes;
            registerRun("hostile/device/" + suffix, [kind, bytes](benchmark::State& state) {
                const QString& page = cachedHostilePage(kind, bytes);
                for (auto _ : state)
                    benchmark::DoNotOptimize(mizong::device::extractFields(page));
                state.counters["found"] = found(oursFields(page));
            });
            // A streaming read of the page (a character that is not there):
            // how much of the growth the memory hierarchy alone accounts for.
            registerRun("hostile/read/" + suffix, [kind, bytes](benchmark::State& state) {
                const QStringView page = cachedHostilePage(kind, bytes);
                for (auto _ : state)
                    benchmark::DoNotOptimize(page.indexOf(QChar(u'\x1F')));
            });
            registerRun("hostile/sim/" + suffix, [kind, bytes](benchmark::State& state) {
                const QString& page = cachedHostilePage(kind, bytes);
                for (auto _ : state)
                    benchmark::DoNotOptimize(mizong::sim::extractFields(page));
                state.counters["found"] = foundSim(page);
            });
        }
}

constexpr qsizetype noJitBytes = 64 << 10;

void registerNoJit()
{
    for (bench::Hostile kind : hostileKinds) {
        const std::string suffix = std::string(bench::hostileName(kind)) + "/64KB";
        registerRun("nojit/qregex/" + suffix, [kind](benchmark::State& state) {
            const QString& page = cachedHostilePage(kind, noJitBytes);
            Fields last;
            for (auto _ : state)
                benchmark::DoNotOptimize(last = regexFields(page));
            state.counters["found"] = found(last);
        });
        registerRun("nojit/ours/" + suffix, [kind](benchmark::State& state) {
            const QString& page = cachedHostilePage(kind, noJitBytes);
            Fields last;
            for (auto _ : state)
                benchmark::DoNotOptimize(last = oursFields(page));
            state.counters["found"] = found(last);
        });
    }
}

// Benchmark 1.8 replaced Run::error_occurred with Run::skipped (1.7 has only
// the former); whichever member the installed version has is read.
template <typename R> bool failed(const R& run)
{
    if constexpr (requires { run.skipped; })
        return run.skipped != 0;
    else
        return run.error_occurred;
}

// Keeps each run's real time (the median when runs are repeated) for the
// summary printed at the end; with `quiet` it prints nothing else.
class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    explicit SummaryReporter(bool quiet) : m_quiet(quiet) {}

    bool ReportContext(const Context& context) override
    {
        return m_quiet || ConsoleReporter::ReportContext(context);
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        if (!m_quiet)
            ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (failed(run))
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!median && run.run_type != Run::RT_Iteration)
                continue;
            std::string name = run.run_name.str();
            const std::string suffix = "/real_time";
            if (name.ends_with(suffix))
                name.resize(name.size() - suffix.size());
            if (median || !m_medians.contains(name))
                m_ms[name] = run.GetAdjustedRealTime(); // every run reports milliseconds
            if (median)
                m_medians.insert(name);
        }
    }

    double ms(const std::string& name) const
    {
        const auto it = m_ms.find(name);
        return it == m_ms.end() ? -1 : it->second;
    }

private:
    bool m_quiet;
    std::map<std::string, double> m_ms;
    std::set<std::string> m_medians;
};

std::string cell(double ms)
{
    char buf[32];
    if (ms < 0)
        return "-";
    std::snprintf(buf, sizeof buf, ms < 1 ? "%.4f" : "%.2f", ms);
    return buf;
}

std::string ratio(double a, double b)
{
    char buf[32];
    if (a < 0 || b <= 0)
        return "-";
    std::snprintf(buf, sizeof buf, "%.1fx", a / b);
    return buf;
}

void printMainSummary(const SummaryReporter& r)
{
    std::printf("\nTypical result page, ten device fields (ms per lookup; filler half before, half "
                "after the result table)\n");
    std::printf("%-6s %10s %12s %10s %14s %11s %16s\n", "size", "ours", "std::regex", "floor",
                "QRegExp(JIT)", "ours/floor", "std::regex/ours");
    for (const Size& size : typicalSizes) {
        const std::string s = size.label;
        const double ours = r.ms("typical/ours/" + s);
        const double stdre = r.ms("typical/stdregex/" + s);
        const double floor = r.ms("typical/floor/" + s);
        std::printf("%-6s %10s %12s %10s %14s %11s %16s\n", size.label, cell(ours).c_str(),
                    cell(stdre).c_str(), cell(floor).c_str(),
                    cell(r.ms("typical/qregex/" + s)).c_str(), ratio(ours, floor).c_str(),
                    ratio(stdre, ours).c_str());
    }
    std::printf("\nHostile pages (ms per lookup; read growth: one streaming read of the same "
                "pages, the memory hierarchy's share)\n");
    std::printf("%-16s %11s %11s %8s %11s %11s %8s %13s\n", "page", "device 1MiB", "device 8MiB",
                "growth", "SIM 1MiB", "SIM 8MiB", "growth", "read growth");
    for (bench::Hostile kind : hostileKinds) {
        const std::string k = bench::hostileName(kind);
        const double d1 = r.ms("hostile/device/" + k + "/1MiB");
        const double d8 = r.ms("hostile/device/" + k + "/8MiB");
        const double s1 = r.ms("hostile/sim/" + k + "/1MiB");
        const double s8 = r.ms("hostile/sim/" + k + "/8MiB");
        const double f1 = r.ms("hostile/read/" + k + "/1MiB");
        const double f8 = r.ms("hostile/read/" + k + "/8MiB");
        std::printf("%-16s %11s %11s %8s %11s %11s %8s %13s\n", k.c_str(), cell(d1).c_str(),
                    cell(d8).c_str(), ratio(d8, d1).c_str(), cell(s1).c_str(), cell(s8).c_str(),
                    ratio(s8, s1).c_str(), ratio(f8, f1).c_str());
    }
}

void printScanSummary(const SummaryReporter& r)
{
    std::printf("\nThe matcher's scans next to Qt's on the typical page (ms; the hand-written "
                "ones stay while they are 1.5x faster or more)\n");
    std::printf("%-28s %10s %10s %10s\n", "scan", "ours", "Qt", "Qt/ours");
    for (const Size& size : scanSizes) {
        const std::string s = size.label;
        for (const auto& [kind, qtName] :
             {std::pair{"literal", "QStringMatcher"}, std::pair{"utf16", "isValidUtf16"}}) {
            const double ours = r.ms("scan/" + std::string(kind) + "/ours/" + s);
            const double qt = r.ms("scan/" + std::string(kind) + "/qt/" + s);
            const std::string what = std::string(qtName) + ", " + s;
            std::printf("%-28s %10s %10s %10s\n", what.c_str(), cell(ours).c_str(),
                        cell(qt).c_str(), ratio(qt, ours).c_str());
        }
    }
}

void printNoJitSummary(const SummaryReporter& r)
{
    std::printf("\nHostile 64 KB pages, ten device fields, QRegularExpression without JIT (ms)\n");
    std::printf("%-16s %14s %10s %10s\n", "page", "QRegExp no JIT", "ours", "ratio");
    for (bench::Hostile kind : hostileKinds) {
        const std::string k = bench::hostileName(kind);
        const double q = r.ms("nojit/qregex/" + k + "/64KB");
        const double o = r.ms("nojit/ours/" + k + "/64KB");
        std::printf("%-16s %14s %10s %10s\n", k.c_str(), cell(q).c_str(), cell(o).c_str(),
                    ratio(q, o).c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    bool noJit = false;
    bool quiet = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-jit") == 0)
            noJit = true;
        else if (std::strcmp(argv[i], "--quiet") == 0)
            quiet = true;
        else
            args.push_back(argv[i]);
    }
    // Read once by Qt, at the first expression compiled.
    if (noJit)
        qputenv("QT_ENABLE_REGEXP_JIT", "0");
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    if (noJit) {
        registerNoJit();
    } else {
        checkTypicalPages();
        registerMain();
    }
    SummaryReporter reporter(quiet);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (noJit)
        printNoJitSummary(reporter);
    else {
        printMainSummary(reporter);
        printScanSummary(reporter);
    }
    benchmark::Shutdown();
    return 0;
}
