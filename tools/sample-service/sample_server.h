#pragma once

#include <QAbstractHttpServer>
#include <QString>
#include <QStringView>

#include <optional>

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
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;
};

} // namespace mizong::sample
