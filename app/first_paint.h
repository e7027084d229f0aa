#pragma once

#include <QObject>

#include <chrono>
#include <functional>

class QWidget;

namespace mizong {

// Runs a piece of start-up once, right after the window's first paint, so
// that it never delays the window; or after `latest` when no paint comes (a
// window started minimised, or never shown), so that it is never lost.
class FirstPaintHook final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FirstPaintHook)

public:
    FirstPaintHook(QWidget* window, std::chrono::milliseconds latest, std::function<void()> run);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void runOnce();

    std::function<void()> m_run;
    bool m_scheduled = false;
};

} // namespace mizong
