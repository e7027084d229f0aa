// The longest event-loop stall of the window while a device lookup waits for
// a slowly dripping page and then fills its boxes. Prints "max_stall_ms N".
#include "main_window.h"
#include "messenger.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class SilentMessenger final : public mizong::Messenger
{
public:
    void inform(QWidget*, const QString&) override {}
};

class NoOpener final : public mizong::LinkOpener
{
public:
    bool open(const QUrl&) override { return true; }
};

// A server on its own thread, so its work never shows in the window's loop:
// it sends the page in 40 pieces over about two seconds.
void serveSlowly(int listener, QByteArray page)
{
    const int client = accept(listener, nullptr, nullptr);
    char request[4096];
    (void)!read(client, request, sizeof request);
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                            "Connection: close\r\nContent-Length: " +
                            QByteArray::number(page.size()) + "\r\n\r\n";
    (void)!write(client, head.constData(), head.size());
    const qsizetype piece = page.size() / 40 + 1;
    for (qsizetype at = 0; at < page.size(); at += piece) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        (void)!write(client, page.constData() + at, std::min(piece, page.size() - at));
    }
    close(client);
    close(listener);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QFile fixture(QStringLiteral(MIZONG_TEST_DATA_DIR "/device-not-reactivated.html"));
    if (!fixture.open(QIODevice::ReadOnly))
        return 2;

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 2;
    std::thread server(serveSlowly, listener, fixture.readAll());

    SilentMessenger messenger;
    NoOpener opener;
    mizong::Form1::Options options = mizong::Form1::defaultOptions();
    options.serviceBase = QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port));
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
    server.join();
    std::printf("max_stall_ms %.3f\n", worst / 1e6);
    return code;
}
