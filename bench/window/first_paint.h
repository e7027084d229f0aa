#pragma once

#include <QEvent>
#include <QObject>

#include <cstdio>
#include <cstdlib>

// Reports the watched window's first paint on stdout and ends the process at
// once, so a probe's time is its start-up alone.
class FirstPaintReporter final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            std::fputs("painted\n", stdout);
            std::fflush(stdout);
            std::_Exit(0);
        }
        return QObject::eventFilter(watched, event);
    }
};
