// The window's event loop while its page view loads and shows the largest page
// the page's caps allow, and while the shown page is scrolled through.
//
//   page-stall-probe text|nested|image|cjk|tall|style
//
// Prints a "load" line (navigate() until the page is shown and drawn) and a
// "scroll" line, as event_loop_watch.h prints them, then a "page" line: the
// load's time and what the view kept of the page.
#include "application.h"
#include "event_loop_watch.h"
#include "main_window.h"
#include "page_browser.h"
#include "page_server.h"
#include "test_data.h"
#include "window_doubles.h"

#include <QScrollBar>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

using mizong::testing::Answer;
using mizong::testing::PageServer;

namespace {

// The fetch's largest body.
constexpr qsizetype kMaxBody = 8 * 1024 * 1024;

QByteArray response(const QByteArray& contentType, const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + contentType +
           "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// Plain paragraphs up to the fetch's largest body.
QByteArray paragraphs()
{
    const QByteArray head = "<!DOCTYPE html><html><body>\n";
    const QByteArray tail = "</body></html>\n";
    const QByteArray paragraph = "<p>The announcement of the day: nothing new, the service runs "
                                 "as usual and every lookup answers at once.</p>\n";
    QByteArray page = head;
    while (page.size() + paragraph.size() + tail.size() <= kMaxBody)
        page += paragraph;
    page += QByteArray(kMaxBody - page.size() - tail.size(), ' ');
    return page + tail;
}

// A character at every level, so that what the depth cap keeps shows.
QByteArray nestedDivs()
{
    constexpr int kLevels = 100000;
    return "<!DOCTYPE html><html><body>" + QByteArray("<div>深").repeated(kLevels) +
           QByteArray("</div>").repeated(kLevels) + "</body></html>";
}

// One paragraph of Chinese text without a space or a tag, as long as the
// markup cap: 1 Mi characters, 3 MiB of UTF-8.
QByteArray chineseParagraph()
{
    constexpr qsizetype kChars = 1024 * 1024;
    // A few thousand different characters, as text has, not one glyph again and again.
    QString text(kChars, Qt::Uninitialized);
    for (qsizetype i = 0; i < kChars; ++i)
        text[i] = QChar(char16_t(0x4E00 + (i * 7919) % 3500));
    return text.toUtf8();
}

// Paragraphs 10 000 px apart: 9 million pixels, past what Qt's layout ends on.
QByteArray tallPage()
{
    return "<!DOCTYPE html><html><body><p>公告</p>" +
           QByteArray("<p style=\"margin-top:10000px\">段</p>").repeated(900) + "</body></html>";
}

// A style sheet as large as the fetch takes, of class rules, on the most
// elements the caps keep.
QByteArray classRules()
{
    QByteArray rules;
    for (int i = 0; rules.size() < kMaxBody - 64; ++i)
        rules += ".c" + QByteArray::number(i) + " b{color:#123456}\n";
    return rules;
}

QByteArray styledElements()
{
    QByteArray page = "<!DOCTYPE html><html><head><link rel=\"stylesheet\" href=\"/stress.css\">"
                      "</head><body>";
    for (int i = 0; i < 20000; ++i)
        page += "<p class=\"c" + QByteArray::number(i) + "\"><b>公告</b></p>";
    return page + "</body></html>";
}

struct StressPage
{
    QByteArray body;
    QByteArray contentType = "text/html; charset=utf-8";
};

std::optional<StressPage> stressPage(const char* name)
{
    if (std::strcmp(name, "text") == 0)
        return StressPage{paragraphs()};
    if (std::strcmp(name, "nested") == 0)
        return StressPage{nestedDivs()};
    if (std::strcmp(name, "image") == 0)
        return StressPage{"<!DOCTYPE html><html><body><p>公告的图片：</p>"
                          "<img src=\"/huge.png\" alt=\"图片\"></body></html>"};
    if (std::strcmp(name, "cjk") == 0)
        return StressPage{chineseParagraph()};
    if (std::strcmp(name, "tall") == 0)
        return StressPage{tallPage()};
    if (std::strcmp(name, "style") == 0)
        return StressPage{styledElements()};
    return std::nullopt;
}

// Scroll bar steps through the shown page, one every 50 ms.
constexpr std::array kScrollSteps = {
    QAbstractSlider::SliderPageStepAdd,   QAbstractSlider::SliderPageStepAdd,
    QAbstractSlider::SliderPageStepAdd,   QAbstractSlider::SliderToMaximum,
    QAbstractSlider::SliderPageStepSub,   QAbstractSlider::SliderPageStepSub,
    QAbstractSlider::SliderSingleStepSub, QAbstractSlider::SliderToMinimum,
    QAbstractSlider::SliderSingleStepAdd, QAbstractSlider::SliderPageStepAdd,
};

} // namespace

int main(int argc, char* argv[])
{
    WatchedApplication app(argc, argv);
    mizong::prepareApplication();
    const std::optional<StressPage> stress = stressPage(argc > 1 ? argv[1] : "");
    if (!stress) {
        std::fputs("usage: page-stall-probe text|nested|image|cjk|tall|style\n", stderr);
        return 2;
    }

    const ServerOnOwnThread server([&](PageServer& site) {
        site.route("/stress.html",
                   Answer{response(stress->contentType, stress->body), Answer::Then::Close});
        site.route("/stress.css", Answer{response("text/css", classRules()), Answer::Then::Close});
        site.route("/huge.png",
                   Answer{response("image/png", mizong::testing::pngDeclaring(30000, 30000)),
                          Answer::Then::Close});
    });

    mizong::testing::RecordingMessenger messenger;
    mizong::testing::RecordingOpener opener;
    mizong::Form1::Options options = mizong::Form1::defaultOptions();
    options.serviceBase = server.base();
    options.homeSiteBase = server.base();
    mizong::Form1 window(messenger, opener, options);
    auto* browser = qobject_cast<mizong::PageBrowser*>(
        window.findChild<QWidget*>(QStringLiteral("WebBrowser1")));
    if (!browser)
        return 2;
    window.show();

    int shown = 0;
    double navigated = 0;
    double loadMs = 0;
    double showEventMs = 0;
    PhaseReport load;
    std::size_t step = 0;
    QTimer scroller;
    scroller.setInterval(50);
    QObject::connect(browser, &mizong::PageBrowser::pageShown, [&] {
        if (++shown == 1) {
            // The window's own announcement is shown; the stress page comes
            // once the window is quiet.
            QTimer::singleShot(500, [&] {
                app.startPhase();
                navigated = WatchedApplication::wallMs();
                browser->navigate(QUrl(server.base() + QStringLiteral("/stress.html")));
            });
            return;
        }
        loadMs = WatchedApplication::wallMs() - navigated;
        // The event that showed the page, up to here.
        showEventMs = app.deliveryElapsedMs();
        // The page's first paint comes after this; then scrolling.
        QTimer::singleShot(300, [&] {
            load = app.endPhase();
            app.startPhase();
            scroller.start();
        });
    });
    QObject::connect(&scroller, &QTimer::timeout, [&] {
        if (step < kScrollSteps.size()) {
            browser->verticalScrollBar()->triggerAction(kScrollSteps[step++]);
            return;
        }
        scroller.stop();
        QTimer::singleShot(300, [&] {
            const PhaseReport scroll = app.endPhase();
            load.print("load");
            scroll.print("scroll");
            const QTextDocument* document = browser->document();
            std::printf("page load_ms %.3f show_event_ms %.3f chars %d blocks %d height %.0f "
                        "scroll_max %d\n",
                        loadMs, showEventMs, document->characterCount(), document->blockCount(),
                        document->size().height(), browser->verticalScrollBar()->maximum());
            std::fflush(stdout);
            app.quit();
        });
    });
    // A page that never shows ends the probe without a report.
    QTimer::singleShot(120000, [&] { app.exit(1); });

    const int code = app.exec();
    return code;
}
