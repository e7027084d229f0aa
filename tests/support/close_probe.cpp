// The program's own start (runApplication, what main() runs) with its page
// view sent to the page MIZONG_PROBE_PAGE names once the home site's page is
// shown; a second later it prints "closing" and closes the window, while the
// page thread is still at work on that page. tst_page_view times its end.
#include "application.h"
#include "main_window.h"
#include "page_browser.h"

#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char* argv[])
{
    return mizong::runApplication(argc, argv, [](mizong::Form1& window) {
        auto* browser = window.findChild<mizong::PageBrowser*>(QStringLiteral("WebBrowser1"));
        if (!browser) {
            std::fputs("no page view\n", stderr);
            std::_Exit(2);
        }
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = QObject::connect(
            browser, &mizong::PageBrowser::pageShown, browser, [browser, &window, once] {
                QObject::disconnect(*once);
                browser->navigate(QUrl(qEnvironmentVariable("MIZONG_PROBE_PAGE")));
                QTimer::singleShot(1000, &window, [&window] {
                    std::puts("closing");
                    std::fflush(stdout);
                    window.close();
                });
            });
    });
}
