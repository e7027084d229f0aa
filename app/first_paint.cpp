#include "first_paint.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <utility>

namespace mizong {

FirstPaintHook::FirstPaintHook(QWidget* window, std::chrono::milliseconds latest,
                               std::function<void()> run)
    : QObject(window), m_run(std::move(run))
{
    window->installEventFilter(this);
    QTimer::singleShot(latest, this, &FirstPaintHook::runOnce);
}

bool FirstPaintHook::eventFilter(QObject*, QEvent* event)
{
    // After the paint, not inside it: the window reaches the screen first.
    if (event->type() == QEvent::Paint && !m_scheduled) {
        m_scheduled = true;
        QTimer::singleShot(0, this, &FirstPaintHook::runOnce);
    }
    return false;
}

void FirstPaintHook::runOnce()
{
    if (!m_run)
        return;
    parent()->removeEventFilter(this);
    std::exchange(m_run, {})();
}

} // namespace mizong
