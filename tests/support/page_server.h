#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpServer>

#include <chrono>

class QTcpSocket;

namespace mizong::testing {

// One canned answer: the bytes written at once, then what the connection does.
struct Answer
{
    enum class Then
    {
        KeepOpen,
        Close,   // after the bytes
        Drip,    // `more` every 50 ms, for ever: never idle, never complete
        Flood,   // `more` again and again, as fast as the peer reads
        Reset,   // after the bytes, a reset instead of an orderly close
        Trickle, // `more` in 40 pieces, one every 50 ms, then an orderly close
    };
    Answer(QByteArray bytes = {}, Then then = Then::KeepOpen, QByteArray more = {})
        : bytes(std::move(bytes)), then(then), more(std::move(more))
    {}

    QByteArray bytes;
    Then then;
    QByteArray more;
};

// A request as it arrived on the wire.
struct Request
{
    QByteArray method;
    QByteArray target;  // origin form, or the absolute address a proxy is sent
    QByteArray version; // "HTTP/1.1"
    QList<std::pair<QByteArray, QByteArray>> headers;
    int connection = 0;

    QByteArray header(QByteArrayView name) const;
};

// A loopback HTTP server for tests. A request whose path has a route gets the
// route's canned (possibly faulty) answer; any other is answered with the page
// kept for its query value (decoded as form decoders do), or a default page,
// after an optional delay. It records every request and counts connections,
// so a test can tell when the client has let go of all of them.
class PageServer final : public QTcpServer
{
    Q_OBJECT

public:
    explicit PageServer(QObject* parent = nullptr);

    // Listens on an ephemeral loopback port; returns "http://127.0.0.1:PORT",
    // or "https://…" once it serves TLS.
    QString start();
    // Listens on a given loopback port instead (a program's fixed address);
    // empty when the port is taken.
    QString startOn(quint16 port);
    // Serves TLS with this PEM certificate and key to the connections to come.
    void setTls(const QByteArray& certificate, const QByteArray& key);
    QString url(QByteArrayView target) { return start() + QString::fromLatin1(target); }

    void setPage(const QString& value, const QByteArray& body);
    void setDefaultPage(const QByteArray& body) { m_defaultPage = body; }
    void setDelay(std::chrono::milliseconds delay) { m_delay = delay; }
    void route(const QByteArray& path, Answer answer) { m_routes.insert(path, std::move(answer)); }

    // The decoded query values asked for, in order.
    const QList<QString>& requests() const { return m_requests; }
    const QList<Request>& log() const { return m_log; }
    int connections() const { return m_connections; }
    int openConnections() const;

    // Drops every connection and forgets the requests and counts.
    void reset();

    // '+' to a blank, then %XX as UTF-8: what a service reads from a query value.
    static QString formDecode(QByteArrayView raw);
    // A complete "200 OK" answer with this UTF-8 HTML body, the connection closed after it.
    static QByteArray htmlResponse(const QByteArray& body);

    enum class Wrapping
    {
        Gzip,
        Zlib,
        Raw
    };
    // `unit` repeated `times`, deflated in the given wrapping.
    static QByteArray deflate(QByteArrayView unit, qint64 times, Wrapping wrapping);
    // `bytes` copies of `byte` as a Zstandard frame of run-length blocks:
    // four bytes on the wire for every 128 KiB.
    static QByteArray zstdRun(char byte, qint64 bytes);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onConnection();
    void answer(QTcpSocket* socket, const Request& request);
    void answerPage(QTcpSocket* socket, const Request& request);
    static Request parse(const QByteArray& head, int connection);

    QHash<QByteArray, Answer> m_routes;
    QHash<QString, QByteArray> m_pages;
    QByteArray m_defaultPage;
    std::chrono::milliseconds m_delay{0};
    QList<QString> m_requests;
    QList<Request> m_log;
    QList<QPointer<QTcpSocket>> m_sockets;
    int m_connections = 0;
    QByteArray m_tlsCertificate;
    QByteArray m_tlsKey;
};

} // namespace mizong::testing
