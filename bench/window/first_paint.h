#pragma once

#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

// Reports the watched window's first paint on stdout. By default it then ends
// the process at once, so a probe's time is its start-up alone; holding, it
// adds the process's own PSS right after that paint and lets the program go on.
class FirstPaintReporter final : public QObject
{
public:
    explicit FirstPaintReporter(QObject* parent, bool hold = false) : QObject(parent), m_hold(hold)
    {}

    // Proportional set size of this process in KiB, from the kernel's summary.
    static long ownPssKiB()
    {
        QFile rollup(QStringLiteral("/proc/self/smaps_rollup"));
        if (!rollup.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : rollup.readAll().split('\n')) {
            if (line.startsWith("Pss:"))
                return line.mid(4).trimmed().split(' ').value(0).toLong();
        }
        return -1;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_reported) {
            m_reported = true;
            if (!m_hold) {
                std::fputs("painted\n", stdout);
                std::fflush(stdout);
                std::_Exit(0);
            }
            // Once this paint is done, and before anything the window has
            // queued for after it (the page view).
            QTimer::singleShot(0, this, [] {
                std::printf("painted pss_kib %ld\n", ownPssKiB());
                std::fflush(stdout);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_hold;
    bool m_reported = false;
};
