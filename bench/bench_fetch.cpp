// One row per fault of a hostile service: when the fetch ended, the longest
// stall of the event loop that ran it, and whether anything went on working
// (CPU, memory) once it had ended. The service runs in a thread of its own.

#include "page_fetch.h"
#include "page_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>

using namespace mizong;
using mizong::testing::Answer;
using mizong::testing::PageServer;

namespace {

struct Fault
{
    const char* name;
    QByteArray path;
    Answer answer;
    int deadlineMs;
    int targetMs; // the end's target
};

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double residentMiB()
{
    FILE* statm = std::fopen("/proc/self/statm", "r");
    long pages = 0;
    long resident = 0;
    if (statm) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Runs the event loop for `ms`, returning the longest gap between ticks of a
// 5 ms timer beyond its interval.
qint64 spin(int ms, qint64 longest)
{
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last - 5);
        last = now;
        if (now >= ms)
            loop.quit();
    });
    tick.start(5);
    loop.exec();
    return longest;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    const QByteArray chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const QByteArray mib(1024 * 1024, '\0');
    using Then = Answer::Then;
    using Wrapping = PageServer::Wrapping;
    const auto bomb = [&](Wrapping wrapping, const QByteArray& encoding) {
        const QByteArray body = PageServer::deflate(mib, 1024, wrapping);
        return Answer{ok + "Content-Length: " + QByteArray::number(body.size()) +
                      "\r\nContent-Encoding: " + encoding + "\r\n\r\n" + body};
    };
    const int deadline = 2000;
    const int flood = deadline + 1000;
    const std::vector<Fault> faults = {
        {"endless headers",
         "/a",
         {ok, Then::Flood, "X-Filler: 0123456789abcdef\r\n"},
         deadline,
         flood},
        {"endless header line", "/b", {ok + "X-Filler: ", Then::Flood, "a"}, deadline, flood},
        {"endless status line", "/c", {"HTTP/1.1 200 ", Then::Flood, "O"}, deadline, flood},
        {"endless 100 continue",
         "/d",
         {"", Then::Flood, "HTTP/1.1 100 Continue\r\n\r\n"},
         deadline,
         flood},
        {"endless chunk extension",
         "/e",
         {chunkedHead + "5;x=", Then::Flood, "a"},
         deadline,
         flood},
        {"endless trailers",
         "/f",
         {chunkedHead + "5\r\nhello\r\n0\r\n", Then::Flood, "X-T: a\r\n"},
         deadline,
         flood},
        {"endless chunks (size bound)",
         "/g",
         {chunkedHead, Then::Flood, "400\r\n" + QByteArray(0x400, 'a') + "\r\n"},
         deadline,
         flood},
        {"endless body (size bound)", "/h", {ok + "\r\n", Then::Flood, "a"}, deadline, flood},
        {"drip", "/i", {ok + "Content-Length: 100000\r\n\r\n", Then::Drip, "x"}, deadline, flood},
        {"silent", "/j", {""}, deadline, flood},
        {"chunked cut inside data",
         "/n",
         {chunkedHead + "a\r\n01234", Then::Close},
         deadline,
         flood},
        {"chunk size not hex", "/o", {chunkedHead + "zz\r\nhello\r\n0\r\n\r\n"}, deadline, flood},
        {"reset mid-body",
         "/p",
         {ok + "Content-Length: 100\r\n\r\nsome", Then::Reset},
         deadline,
         flood},
        {"gzip bomb", "/k", bomb(Wrapping::Gzip, "gzip"), 30000, 5000},
        {"zlib bomb", "/l", bomb(Wrapping::Zlib, "deflate"), 30000, 5000},
        {"raw deflate bomb", "/m", bomb(Wrapping::Raw, "deflate"), 30000, 5000},
        {"zstd bomb", "/q",
         Answer{ok + "Content-Encoding: zstd\r\n\r\n" + PageServer::zstdRun('\0', 1LL << 30),
                Then::Close},
         30000, 5000},
    };

    // The service in a thread of its own, so that a stalled client loop does
    // not slow it down.
    QThread serviceThread;
    serviceThread.start();
    auto* server = new PageServer;
    for (const Fault& fault : faults)
        server->route(fault.path, fault.answer);
    server->moveToThread(&serviceThread);
    QString base;
    QMetaObject::invokeMethod(
        server, [&] { base = server->start(); }, Qt::BlockingQueuedConnection);

    std::printf("%-30s%10s%10s%12s%14s%14s\n", "fault", "end ms", "target", "stall ms",
                "cpu after ms", "rss after MiB");
    bool allMet = true;
    for (const Fault& fault : faults) {
        QElapsedTimer clock;
        clock.start();
        const FetchLimits limits{std::chrono::milliseconds(fault.deadlineMs)};
        std::unique_ptr<PageFetch> fetch(
            FetchPage(base + QString::fromLatin1(fault.path), u"UTF-8", nullptr, limits));
        qint64 end = -1;
        QObject::connect(fetch.get(), &PageFetch::finished, [&] { end = clock.elapsed(); });
        qint64 stall = 0;
        while (end < 0 && clock.elapsed() < 60000)
            stall = spin(50, stall);
        fetch.reset();
        // Settling: whatever the fetch left behind has a second to let go.
        stall = spin(1000, stall);
        const double cpu0 = cpuSeconds();
        const double rss0 = residentMiB();
        stall = spin(2000, stall);
        const double cpuAfter = (cpuSeconds() - cpu0) * 1000.0;
        const double rssAfter = residentMiB() - rss0;
        const bool met =
            end >= 0 && end <= fault.targetMs && stall < 100 && cpuAfter < 100.0 && rssAfter < 5.0;
        allMet = allMet && met;
        std::printf("%-30s%10lld%10d%12lld%14.0f%14.1f%s\n", fault.name,
                    static_cast<long long>(end), fault.targetMs, static_cast<long long>(stall),
                    cpuAfter, rssAfter, met ? "" : "  MISSED");
        std::fflush(stdout);
        QMetaObject::invokeMethod(
            server, [server] { server->reset(); }, Qt::BlockingQueuedConnection);
    }
    std::printf(
        "targets: end <= target, stall < 100 ms, cpu after < 100 ms in 2 s, rss growth < 5 MiB\n");

    QMetaObject::invokeMethod(
        server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    serviceThread.quit();
    serviceThread.wait();
    return allMet ? 0 : 1;
}
