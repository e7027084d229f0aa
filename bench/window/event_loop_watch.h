#pragma once

#include "page_server.h"

#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QMetaEnum>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

// One event delivered on the window's thread, or one gap between beats.
struct LoopSpan
{
    double wallMs = 0;
    // The thread's own CPU time in it.
    double cpuMs = 0;
    // For a gap: the time the thread was ready to run but waited for a core
    // (a busy machine). What is neither this nor cpuMs, it slept or was
    // blocked (a lock, a page fault's I/O).
    double runWaitMs = 0;
    // For a gap: the page faults that read from the disk in it (a font's or
    // a library's page not in the page cache, which sleeps for the read).
    long majorFaults = 0;
    // For an event: its receiver's class and the event's type.
    QByteArray what;
};

struct PhaseReport
{
    // The longest gap between two beats of a 1 ms timer, and the longest
    // event delivered within it.
    LoopSpan stall;
    LoopSpan stallEvent;
    // The gap with the most CPU time of the thread: its own longest work.
    LoopSpan busiest;
    // The longest event delivered in the whole phase.
    LoopSpan longestEvent;

    // One line for the runner: "<phase> key value ... event <what>".
    void print(const char* phase) const
    {
        std::printf("%s stall_ms %.3f stall_cpu_ms %.3f stall_wait_ms %.3f stall_majflt %ld "
                    "stall_event_ms %.3f busiest_cpu_ms %.3f busiest_ms %.3f event_ms %.3f "
                    "event_cpu_ms %.3f event %s\n",
                    phase, stall.wallMs, stall.cpuMs, stall.runWaitMs, stall.majorFaults,
                    stallEvent.wallMs, busiest.cpuMs, busiest.wallMs, longestEvent.wallMs,
                    longestEvent.cpuMs,
                    longestEvent.what.isEmpty() ? "-" : longestEvent.what.constData());
        if (!stallEvent.what.isEmpty() && stallEvent.what != longestEvent.what)
            std::printf("%s stall_event %s\n", phase, stallEvent.what.constData());
        std::fflush(stdout);
    }
};

// The application object of a stall probe: it watches its own thread's event
// loop in phases. A 1 ms precise beat measures the loop's stalls, and every
// event delivered on the thread is timed (outermost deliveries only), so that
// a stall names what took it.
class WatchedApplication final : public QApplication
{
public:
    WatchedApplication(int& argc, char** argv)
        : QApplication(argc, argv), m_mainThread(QThread::currentThreadId()),
          m_schedStat(open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)),
          m_stat(open("/proc/thread-self/stat", O_RDONLY | O_CLOEXEC))
    {
        m_beat.setTimerType(Qt::PreciseTimer);
        m_beat.setInterval(1);
        QObject::connect(&m_beat, &QTimer::timeout, [this] { closeGap(); });
    }
    ~WatchedApplication() override
    {
        if (m_schedStat >= 0)
            close(m_schedStat);
        if (m_stat >= 0)
            close(m_stat);
    }
    Q_DISABLE_COPY_MOVE(WatchedApplication)

    // Forgets the last phase and starts measuring.
    void startPhase()
    {
        m_report = {};
        m_gapEvent = {};
        m_lastWall = wallMs();
        m_lastSched = schedStat();
        m_watching = true;
        m_beat.start();
    }

    // Closes the gap under way and stops measuring.
    PhaseReport endPhase()
    {
        closeGap();
        m_beat.stop();
        m_watching = false;
        return m_report;
    }

    // How long the outermost event under way on this thread has run so far.
    double deliveryElapsedMs() const { return m_depth > 0 ? wallMs() - m_deliveryStart : 0; }

    static double wallMs()
    {
        return std::chrono::duration<double, std::milli>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    static double cpuMs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }

protected:
    bool notify(QObject* receiver, QEvent* event) override
    {
        // Other threads' events (the page thread's, the transfer's) are not
        // the window's; nested ones count in the event they are sent from.
        if (QThread::currentThreadId() != m_mainThread || !m_watching || m_depth > 0)
            return QApplication::notify(receiver, event);
        // The receiver may be gone afterwards (a deferred delete).
        const char* receiverClass = receiver->metaObject()->className();
        const QEvent::Type type = event->type();
        ++m_depth;
        m_deliveryStart = wallMs();
        const double cpuStart = cpuMs();
        const bool done = QApplication::notify(receiver, event);
        const LoopSpan span{wallMs() - m_deliveryStart, cpuMs() - cpuStart, 0, 0, {}};
        --m_depth;
        if (span.wallMs > m_gapEvent.wallMs) {
            m_gapEvent = span;
            m_gapEventClass = receiverClass;
            m_gapEventType = type;
        }
        if (span.wallMs > m_report.longestEvent.wallMs) {
            m_report.longestEvent = span;
            m_report.longestEvent.what = describe(receiverClass, type);
        }
        return done;
    }

private:
    static QByteArray describe(const char* receiverClass, QEvent::Type type)
    {
        const char* name = QMetaEnum::fromType<QEvent::Type>().valueToKey(type);
        return QByteArray(receiverClass) + ':' +
               (name ? QByteArray(name) : QByteArray::number(int(type)));
    }

    struct SchedStat
    {
        double cpuMs = 0;
        double runWaitMs = 0;
        long majorFaults = 0;
    };

    // The kernel's account of this thread: time on a core, time waiting for
    // one, and its page faults that read from the disk.
    SchedStat schedStat() const
    {
        SchedStat stat{cpuMs(), 0, majorFaults()};
        char text[128] = {};
        if (m_schedStat < 0 || pread(m_schedStat, text, sizeof text - 1, 0) <= 0)
            return stat;
        char* end = nullptr;
        stat.cpuMs = std::strtod(text, &end) / 1e6;
        stat.runWaitMs = std::strtod(end, nullptr) / 1e6;
        return stat;
    }

    // Field 12 of /proc/thread-self/stat, counted after the command's
    // closing parenthesis (the command itself may hold spaces).
    long majorFaults() const
    {
        char text[1024] = {};
        if (m_stat < 0 || pread(m_stat, text, sizeof text - 1, 0) <= 0)
            return 0;
        const char* at = std::strrchr(text, ')');
        for (int field = 2; at && field < 12; ++field)
            at = std::strchr(at + 1, ' ');
        return at ? std::strtol(at + 1, nullptr, 10) : 0;
    }

    void closeGap()
    {
        const double wall = wallMs();
        const SchedStat sched = schedStat();
        const LoopSpan gap{wall - m_lastWall,
                           sched.cpuMs - m_lastSched.cpuMs,
                           sched.runWaitMs - m_lastSched.runWaitMs,
                           sched.majorFaults - m_lastSched.majorFaults,
                           {}};
        if (gap.wallMs > m_report.stall.wallMs) {
            m_report.stall = gap;
            m_report.stallEvent = m_gapEvent;
            if (m_gapEvent.wallMs > 0)
                m_report.stallEvent.what = describe(m_gapEventClass, m_gapEventType);
        }
        if (gap.cpuMs > m_report.busiest.cpuMs)
            m_report.busiest = gap;
        m_lastWall = wall;
        m_lastSched = sched;
        m_gapEvent = {};
    }

    Qt::HANDLE m_mainThread;
    int m_schedStat;
    int m_stat;
    QTimer m_beat;
    bool m_watching = false;
    int m_depth = 0;
    double m_deliveryStart = 0;
    double m_lastWall = 0;
    SchedStat m_lastSched;
    LoopSpan m_gapEvent;
    const char* m_gapEventClass = "";
    QEvent::Type m_gapEventType = QEvent::None;
    PhaseReport m_report;
};

// A loopback page server on a thread of its own, so that its work never
// shows in the window's loop, with the announcement as its default page;
// `routes` adds the rest there. It stops with this object.
class ServerOnOwnThread final
{
public:
    explicit ServerOnOwnThread(const std::function<void(mizong::testing::PageServer&)>& routes)
        : m_server(new mizong::testing::PageServer)
    {
        m_thread.start();
        m_server->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_server,
            [&] {
                m_base = m_server->start();
                m_server->setDefaultPage("<p>公告</p>");
                routes(*m_server);
            },
            Qt::BlockingQueuedConnection);
    }
    ~ServerOnOwnThread()
    {
        QMetaObject::invokeMethod(m_server, &QObject::deleteLater);
        m_thread.quit();
        m_thread.wait();
    }
    Q_DISABLE_COPY_MOVE(ServerOnOwnThread)

    const QString& base() const { return m_base; }

private:
    QThread m_thread;
    mizong::testing::PageServer* m_server;
    QString m_base;
};
