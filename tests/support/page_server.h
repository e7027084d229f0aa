#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTcpServer>

#include <chrono>

class QTcpSocket;

namespace mizong::testing {

// A loopback HTTP server for tests: answers every GET with the page kept for
// its query value (decoded as form decoders do), or a default page, after an
// optional delay. It records the decoded values it was asked for.
class PageServer final : public QTcpServer
{
    Q_OBJECT

public:
    explicit PageServer(QObject* parent = nullptr);

    // Listens on an ephemeral loopback port; returns "http://127.0.0.1:PORT".
    QString start();

    void setPage(const QString& value, const QByteArray& body);
    void setDefaultPage(const QByteArray& body) { m_defaultPage = body; }
    void setDelay(std::chrono::milliseconds delay) { m_delay = delay; }

    const QList<QString>& requests() const { return m_requests; }

    // '+' to a blank, then %XX as UTF-8: what a service reads from a query value.
    static QString formDecode(QByteArrayView raw);

private:
    void onConnection();
    void answer(QTcpSocket* socket, const QByteArray& requestHead);

    QHash<QString, QByteArray> m_pages;
    QByteArray m_defaultPage;
    std::chrono::milliseconds m_delay{0};
    QList<QString> m_requests;
};

} // namespace mizong::testing
