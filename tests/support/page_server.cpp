#include "page_server.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace mizong::testing {

PageServer::PageServer(QObject* parent) : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, &PageServer::onConnection);
}

QString PageServer::start()
{
    if (!isListening())
        listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort());
}

void PageServer::setPage(const QString& value, const QByteArray& body)
{
    m_pages.insert(value, body);
}

QString PageServer::formDecode(QByteArrayView raw)
{
    QByteArray plus = raw.toByteArray();
    plus.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(plus));
}

void PageServer::onConnection()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto head = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
            head->append(socket->readAll());
            if (head->contains("\r\n\r\n")) {
                const QByteArray request = *head;
                head->clear();
                answer(socket, request);
            }
        });
    }
}

void PageServer::answer(QTcpSocket* socket, const QByteArray& requestHead)
{
    // "GET /path?name=value HTTP/1.1": the raw value after the first '='.
    const QByteArray target = requestHead.split(' ').value(1);
    const qsizetype eq = target.indexOf('=');
    const QString value = eq < 0 ? QString() : formDecode(QByteArrayView(target).sliced(eq + 1));
    m_requests.append(value);
    const QByteArray body = m_pages.value(value, m_defaultPage);
    QByteArray response = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                          "Connection: close\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\n\r\n" + body;
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(m_delay, socket, [guard, response] {
        if (!guard)
            return;
        guard->write(response);
        guard->disconnectFromHost();
    });
}

} // namespace mizong::testing
