// The program's own start (runApplication, what main() runs) with its page
// view sent to the page MIZONG_PROBE_PAGE names once the home site's page is
// shown. The page thread is then held in a step that cannot be interrupted
// (a document whose teardown takes a minute, as one of Qt's own steps on a
// heavy page can), and a second later the probe prints "closing" and closes
// the window. tst_page_view times its end: waiting for the page thread would
// take the whole minute.
#include "application.h"
#include "main_window.h"
#include "page_browser.h"
#include "page_loader.h"

#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

class StubbornDocument : public QTextDocument
{
public:
    ~StubbornDocument() override { std::this_thread::sleep_for(std::chrono::minutes(1)); }
};

} // namespace

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
                mizong::page::retire(std::make_unique<StubbornDocument>());
                QTimer::singleShot(1000, &window, [&window] {
                    std::puts("closing");
                    std::fflush(stdout);
                    window.close();
                });
            });
    });
}
