// The longest event-loop stall of the window while a device lookup waits for
// a slowly dripping page and then fills its boxes. Prints "max_stall_ms N".
#include "application.h"
#include "main_window.h"
#include "page_server.h"
#include "window_doubles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <cstdio>

using mizong::testing::Answer;
using mizong::testing::PageServer;
using mizong::testing::RecordingMessenger;
using mizong::testing::RecordingOpener;

int main(int argc, char* argv[])
{
    // The page engine set up as the program sets it up.
    mizong::prepareEnvironment();
    QApplication app(argc, argv);
    mizong::prepareApplication();
    QFile fixture(QStringLiteral(MIZONG_TEST_DATA_DIR "/device-not-reactivated.html"));
    if (!fixture.open(QIODevice::ReadOnly))
        return 2;

    // The server runs on a thread of its own, so its work never shows in the
    // window's loop: it sends the page in 40 pieces over about two seconds.
    const QByteArray page = fixture.readAll();
    QThread serverThread;
    serverThread.start();
    auto* server = new PageServer;
    server->moveToThread(&serverThread);
    QString base;
    QMetaObject::invokeMethod(
        server,
        [&] {
            base = server->start();
            server->route("/result/",
                          Answer{"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                 "Connection: close\r\nContent-Length: " +
                                     QByteArray::number(page.size()) + "\r\n\r\n",
                                 Answer::Then::Trickle, page});
        },
        Qt::BlockingQueuedConnection);

    RecordingMessenger messenger;
    RecordingOpener opener;
    mizong::Form1::Options options = mizong::Form1::defaultOptions();
    options.serviceBase = base;
    options.browserModulePath = QStringLiteral(MIZONG_WEBVIEW_MODULE);
    mizong::Form1 window(messenger, opener, options);
    window.show();

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(1);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    QObject::connect(&window, &mizong::Form1::lookupFinished, [&] {
        // One more beat after the last step, so the step's own time counts.
        QTimer::singleShot(0, [&] {
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last);
            app.quit();
        });
    });
    // Let the window settle (first paint, page view start) before measuring.
    QTimer::singleShot(1500, [&] {
        window.findChild<QLineEdit*>(QStringLiteral("Text1(0)"))
            ->setText(QStringLiteral("358805052512340"));
        clock.start();
        beat.start();
        window.findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    });
    const int code = app.exec();
    QMetaObject::invokeMethod(server, &QObject::deleteLater);
    serverThread.quit();
    serverThread.wait();
    std::printf("max_stall_ms %.3f\n", worst / 1e6);
    return code;
}
