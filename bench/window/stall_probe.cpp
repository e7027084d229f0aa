// The longest event-loop stall of the window while a device lookup waits for
// a slowly dripping page and then fills its boxes. Prints a "lookup" line of
// event_loop_watch.h.
#include "application.h"
#include "event_loop_watch.h"
#include "main_window.h"
#include "page_server.h"
#include "window_doubles.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

using mizong::testing::Answer;
using mizong::testing::PageServer;
using mizong::testing::RecordingMessenger;
using mizong::testing::RecordingOpener;

int main(int argc, char* argv[])
{
    WatchedApplication app(argc, argv);
    mizong::prepareApplication();
    QFile fixture(QStringLiteral(MIZONG_TEST_DATA_DIR "/device-not-reactivated.html"));
    if (!fixture.open(QIODevice::ReadOnly))
        return 2;

    // The server sends the page in 40 pieces over about two seconds.
    const QByteArray page = fixture.readAll();
    const ServerOnOwnThread server([&](PageServer& site) {
        site.route("/result/",
                   Answer{"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                          "Connection: close\r\nContent-Length: " +
                              QByteArray::number(page.size()) + "\r\n\r\n",
                          Answer::Then::Trickle, page});
    });

    RecordingMessenger messenger;
    RecordingOpener opener;
    mizong::Form1::Options options = mizong::Form1::defaultOptions();
    options.serviceBase = server.base();
    // The announcement, from the same server (its default page), is shown
    // long before the lookup starts.
    options.homeSiteBase = server.base();
    mizong::Form1 window(messenger, opener, options);
    window.show();

    QObject::connect(&window, &mizong::Form1::lookupFinished, [&] {
        // After the last step's own event, so that its time counts.
        QTimer::singleShot(0, [&] {
            app.endPhase().print("lookup");
            app.quit();
        });
    });
    // Let the window settle (first paint, page view start) before measuring.
    QTimer::singleShot(1500, [&] {
        window.findChild<QLineEdit*>(QStringLiteral("Text1(0)"))
            ->setText(QStringLiteral("358805052512340"));
        app.startPhase();
        window.findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    });
    const int code = app.exec();
    return code;
}
