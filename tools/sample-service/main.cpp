// mizong-sample-service [--port N]: the lookup service and home site on
// 127.0.0.1, answering with sample pages. Stops on SIGINT and SIGTERM.
#include "sample_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    // Only async-signal-safe work here: the event loop reads the pipe.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

bool installStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mizong-sample-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sample lookup service and home site for mizong, on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0 picks a free one)."),
                                        QStringLiteral("N"), QStringLiteral("8765"));
    parser.addOption(portOption);
    parser.process(app);

    QTextStream err(stderr);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        err << "mizong-sample-service: not a port number: " << parser.value(portOption) << '\n';
        return 2;
    }

    if (!installStopSignals()) {
        err << "mizong-sample-service: cannot install the signal handlers\n";
        return 1;
    }
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });

    mizong::sample::SampleServer server;
    auto* tcp = new QTcpServer(&server);
    if (!tcp->listen(QHostAddress::LocalHost, static_cast<quint16>(port))) {
        err << "mizong-sample-service: cannot listen on 127.0.0.1:" << port << ": "
            << tcp->errorString() << '\n';
        return 1;
    }
    server.bind(tcp);

    // Tests start the service on port 0 and read the chosen port from here.
    QTextStream out(stdout);
    out << "mizong-sample-service: listening on http://127.0.0.1:" << tcp->serverPort() << Qt::endl;

    return app.exec();
}
