#include "page_server.h"

#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <zlib.h>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <algorithm>
#include <memory>

namespace mizong::testing {

namespace {

// Bytes a flood keeps queued ahead of the peer.
constexpr qint64 kFloodAhead = 256 * 1024;
// How often a connection with bytes still to send checks that its peer is there.
constexpr int kPeerProbeMs = 100;

// The path of an origin-form or absolute target, without its query.
QByteArray pathOf(QByteArray target)
{
    const qsizetype scheme = target.indexOf("://");
    if (scheme >= 0 && scheme < target.indexOf('/')) {
        const qsizetype slash = target.indexOf('/', scheme + 3);
        target = slash < 0 ? QByteArray("/") : target.mid(slash);
    }
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

} // namespace

QByteArray Request::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

PageServer::PageServer(QObject* parent) : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, &PageServer::onConnection);
}

QString PageServer::start()
{
    if (!isListening())
        listen(QHostAddress::LocalHost, 0);
    const QString scheme =
        m_tlsCertificate.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
    return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(serverPort());
}

QString PageServer::startOn(quint16 port)
{
    if (!isListening() && !listen(QHostAddress::LocalHost, port))
        return QString();
    return start();
}

void PageServer::setTls(const QByteArray& certificate, const QByteArray& key)
{
    m_tlsCertificate = certificate;
    m_tlsKey = key;
}

void PageServer::incomingConnection(qintptr descriptor)
{
    if (m_tlsCertificate.isEmpty()) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    const QSslCertificate certificate(m_tlsCertificate);
    socket->setLocalCertificate(certificate);
    // The key is of the certificate's kind (EC, or RSA where Schannel needs it).
    socket->setPrivateKey(QSslKey(m_tlsKey, certificate.publicKey().algorithm()));
    // A client that refuses the certificate simply hangs up.
    connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->abort(); });
    socket->startServerEncryption();
    addPendingConnection(socket);
}

void PageServer::setPage(const QString& value, const QByteArray& body)
{
    m_pages.insert(value, body);
}

int PageServer::openConnections() const
{
    int open = 0;
    for (const QPointer<QTcpSocket>& socket : m_sockets)
        open += socket && socket->state() == QAbstractSocket::ConnectedState;
    return open;
}

void PageServer::reset()
{
    for (const QPointer<QTcpSocket>& socket : std::as_const(m_sockets))
        if (socket)
            socket->abort();
    m_sockets.clear();
    m_requests.clear();
    m_log.clear();
    m_connections = 0;
}

QString PageServer::formDecode(QByteArrayView raw)
{
    QByteArray plus = raw.toByteArray();
    plus.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(plus));
}

QByteArray PageServer::deflate(QByteArrayView unit, qint64 times, Wrapping wrapping)
{
    z_stream stream{};
    const int windowBits = wrapping == Wrapping::Gzip ? 31 : wrapping == Wrapping::Zlib ? 15 : -15;
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return {};
    QByteArray out;
    char buffer[64 * 1024];
    for (qint64 i = 0; i < times; ++i) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(unit.data()));
        stream.avail_in = uInt(unit.size());
        const int flush = i + 1 == times ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            ::deflate(&stream, flush);
            out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0 || (flush == Z_FINISH && stream.avail_in > 0));
    }
    deflateEnd(&stream);
    return out;
}

QByteArray PageServer::zstdRun(char byte, qint64 bytes)
{
    constexpr qint64 kBlock = 128 * 1024;
    // Magic number; no content size, checksum or dictionary; a 128 KiB window.
    QByteArray frame("\x28\xb5\x2f\xfd\x00\x38", 6);
    do {
        const qint64 size = std::min(bytes, kBlock);
        bytes -= size;
        // Block header: last-block flag, type 1 (run length), the run's length.
        const quint32 header = quint32(size) << 3 | 1u << 1 | (bytes == 0 ? 1u : 0u);
        frame += char(header & 0xff);
        frame += char(header >> 8 & 0xff);
        frame += char(header >> 16 & 0xff);
        frame += byte;
    } while (bytes > 0);
    return frame;
}

void PageServer::onConnection()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        const int id = ++m_connections;
        m_sockets.append(socket);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A server learns that its peer has gone when a write fails; with the
        // send queue full nothing is written, and Wine then sometimes never
        // signals the close at all. Trying to write now and then notices it.
        auto* probe = new QTimer(socket);
        connect(probe, &QTimer::timeout, socket, [socket] {
            if (socket->bytesToWrite() > 0)
                socket->flush();
        });
        probe->start(kPeerProbeMs);
        auto pending = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, pending, id] {
            *pending += socket->readAll();
            qsizetype end;
            while ((end = pending->indexOf("\r\n\r\n")) >= 0) {
                const QByteArray head = pending->left(end);
                pending->remove(0, end + 4);
                answer(socket, parse(head, id));
            }
        });
    }
}

Request PageServer::parse(const QByteArray& head, int connection)
{
    Request request;
    request.connection = connection;
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
    request.method = start.value(0);
    request.target = start.value(1);
    request.version = start.value(2);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    return request;
}

void PageServer::answer(QTcpSocket* socket, const Request& request)
{
    m_log.append(request);
    const auto route = m_routes.constFind(pathOf(request.target));
    if (route == m_routes.cend()) {
        answerPage(socket, request);
        return;
    }
    const Answer& canned = *route;
    socket->write(canned.bytes);
    switch (canned.then) {
    case Answer::Then::KeepOpen:
        break;
    case Answer::Then::Close:
        socket->disconnectFromHost();
        break;
    case Answer::Then::Drip: {
        auto* drip = new QTimer(socket);
        connect(drip, &QTimer::timeout, socket,
                [socket, more = canned.more] { socket->write(more); });
        drip->start(50);
        break;
    }
    case Answer::Then::Trickle: {
        auto* trickle = new QTimer(socket);
        const qsizetype piece = canned.more.size() / 40 + 1;
        connect(trickle, &QTimer::timeout, socket,
                [socket, trickle, more = canned.more, piece, at = qsizetype(0)]() mutable {
                    socket->write(more.mid(at, piece));
                    at += piece;
                    if (at >= more.size()) {
                        trickle->stop();
                        socket->disconnectFromHost();
                    }
                });
        trickle->start(50);
        break;
    }
    case Answer::Then::Flood: {
        QByteArray block;
        while (block.size() < 16 * 1024)
            block += canned.more;
        const auto refill = [socket, block] {
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < kFloodAhead)
                socket->write(block);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, refill);
        refill();
        break;
    }
    case Answer::Then::Reset: {
        QPointer<QTcpSocket> guard(socket);
        // A moment later, so that the peer has read the bytes.
        QTimer::singleShot(100, socket, [guard] {
            if (!guard)
                return;
            // Lingering for no time makes the close a reset.
            const linger abrupt{1, 0};
            setsockopt(guard->socketDescriptor(), SOL_SOCKET, SO_LINGER,
                       reinterpret_cast<const char*>(&abrupt), sizeof abrupt);
            guard->abort();
        });
        break;
    }
    }
}

QByteArray PageServer::htmlResponse(const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
           "Connection: close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

void PageServer::answerPage(QTcpSocket* socket, const Request& request)
{
    // "GET /path?name=value HTTP/1.1": the raw value after the first '='.
    const qsizetype eq = request.target.indexOf('=');
    const QString value =
        eq < 0 ? QString() : formDecode(QByteArrayView(request.target).sliced(eq + 1));
    m_requests.append(value);
    const QByteArray response = htmlResponse(m_pages.value(value, m_defaultPage));
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(m_delay, socket, [guard, response] {
        if (!guard)
            return;
        guard->write(response);
        guard->disconnectFromHost();
    });
}

} // namespace mizong::testing
