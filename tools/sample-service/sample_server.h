#pragma once

#include <QAbstractHttpServer>
#include <QString>
#include <QStringView>

#include <optional>

class QHttpServerResponder;
class QUrl;

namespace mizong::sample {

// A query value decoded as HTML form decoders do: '+' is a blank, then %XX
// sequences are UTF-8. No value when the key is absent.
std::optional<QString> formValue(const QUrl& url, QStringView key);

// Answers the two lookup addresses of the service and the pages of the home
// site; everything else is a 404 page.
class SampleServer final : public QAbstractHttpServer
{
public:
    using QAbstractHttpServer::QAbstractHttpServer;

protected:
    // The handlers' signatures changed twice: Qt 6.4 passes the socket, 6.5
    // passes a responder (by rvalue to missingHandler), 6.8 by reference to both.
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;
#elif QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    bool handleRequest(const QHttpServerRequest& request, QHttpServerResponder& responder) override;
    void missingHandler(const QHttpServerRequest& request,
                        QHttpServerResponder&& responder) override;
#else
    bool handleRequest(const QHttpServerRequest& request, QHttpServerResponder& responder) override;
    void missingHandler(const QHttpServerRequest& request,
                        QHttpServerResponder& responder) override;
#endif

private:
    static void respond(const QHttpServerRequest& request, QHttpServerResponder& responder);
};

} // namespace mizong::sample
