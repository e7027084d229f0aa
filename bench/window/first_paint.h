#pragma once

#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

// Reports the watched window's first paint on stdout. By default it then ends
// the process at once, so a probe's time is its start-up alone; holding, it
// adds the process's own PSS and RSS right after that paint (for one process,
// RSS is its PSS with nothing shared outside it) and lets the program go on.
class FirstPaintReporter final : public QObject
{
public:
    explicit FirstPaintReporter(QObject* parent, bool hold = false) : QObject(parent), m_hold(hold)
    {}

    // A field of this process's memory summary ("Pss:", "Rss:") in KiB.
    static long ownMemoryKiB(const char* field)
    {
        QFile rollup(QStringLiteral("/proc/self/smaps_rollup"));
        if (!rollup.open(QIODevice::ReadOnly))
            return -1;
        const auto length = qsizetype(qstrlen(field));
        for (const QByteArray& line : rollup.readAll().split('\n')) {
            if (line.startsWith(field))
                return line.mid(length).trimmed().split(' ').value(0).toLong();
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
                std::printf("painted pss_kib %ld rss_kib %ld\n", ownMemoryKiB("Pss:"),
                            ownMemoryKiB("Rss:"));
                std::fflush(stdout);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_hold;
    bool m_reported = false;
};
