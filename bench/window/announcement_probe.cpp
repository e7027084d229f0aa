// The program's own start (runApplication, exactly what main() runs) up to
// its announcement page drawn. Prints "painted T", "shown T" and "drawn T":
// the steady clock in nanoseconds at the window's first paint, at the page
// view's pageShown(), and once the first paint of the view after it is done;
// then ends. `--hold` instead reports its memory at the first paint (see
// first_paint.h), prints "drawn" and stays open, for memory.
#include "application.h"
#include "first_paint.h"
#include "main_window.h"
#include "page_browser.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

long long steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void stamp(const char* what)
{
    std::printf("%s %lld\n", what, steadyNs());
    std::fflush(stdout);
}

// Stamps the window's first paint, the page shown, and the view's first
// paint after that.
class AnnouncementReporter final : public QObject
{
public:
    AnnouncementReporter(mizong::Form1& window, mizong::PageBrowser& browser, bool hold)
        : QObject(&window), m_browser(browser), m_hold(hold)
    {
        if (hold)
            window.installEventFilter(new FirstPaintReporter(&window, true));
        else
            window.installEventFilter(this);
        browser.viewport()->installEventFilter(this);
        connect(&browser, &mizong::PageBrowser::pageShown, this, [this] {
            if (std::exchange(m_shown, true))
                return;
            if (!m_hold)
                stamp("shown");
            // Coalesces with the update the new document asked for; one
            // paint comes either way.
            m_browser.viewport()->update();
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        if (watched != m_browser.viewport()) {
            if (!std::exchange(m_windowPainted, true))
                stamp("painted");
            return false;
        }
        if (m_shown && !std::exchange(m_drawn, true)) {
            // Once this paint is done and on screen.
            QTimer::singleShot(0, this, [this] {
                if (!m_hold) {
                    stamp("drawn");
                    std::_Exit(0);
                }
                std::puts("drawn");
                std::fflush(stdout);
            });
        }
        return false;
    }

private:
    mizong::PageBrowser& m_browser;
    bool m_hold;
    bool m_windowPainted = false;
    bool m_shown = false;
    bool m_drawn = false;
};

} // namespace

int main(int argc, char* argv[])
{
    bool hold = false;
    if (argc > 1 && std::strcmp(argv[argc - 1], "--hold") == 0) {
        hold = true;
        argv[--argc] = nullptr;
    }
    return mizong::runApplication(argc, argv, [hold](mizong::Form1& window) {
        auto* browser = qobject_cast<mizong::PageBrowser*>(
            window.findChild<QWidget*>(QStringLiteral("WebBrowser1")));
        if (!browser) {
            std::fputs("no page view\n", stderr);
            std::_Exit(2);
        }
        new AnnouncementReporter(window, *browser, hold);
    });
}
