#include "sample_server.h"

#include "samples.h"
#include "site_pages.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QUrl>

namespace mizong::sample {

namespace {

const QByteArray kHtml = QByteArrayLiteral("text/html; charset=utf-8");

QByteArray pageBytes(const QString& name)
{
    QFile file(QStringLiteral(":/pages/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("sample page %s is not compiled in", qUtf8Printable(name));
    return file.readAll();
}

} // namespace

std::optional<QString> formValue(const QUrl& url, QStringView key)
{
    // The raw query: a decoded one would no longer tell '+' from "%2B".
    const QString query = url.query(QUrl::FullyEncoded);
    for (QStringView pair : QStringView(query).split(u'&')) {
        const qsizetype equals = pair.indexOf(u'=');
        const QStringView name = equals < 0 ? pair : pair.first(equals);
        if (name != key)
            continue;
        QByteArray value = equals < 0 ? QByteArray() : pair.sliced(equals + 1).toLatin1();
        value.replace('+', ' ');
        return QString::fromUtf8(QByteArray::fromPercentEncoding(value));
    }
    return std::nullopt;
}

void SampleServer::respond(const QHttpServerRequest& request, QHttpServerResponder& responder)
{
    const QUrl url = request.url();
    const QString path = url.path();

    std::optional<Kind> lookup;
    QStringView key;
    if (path == u"/result/") {
        lookup = Kind::Device;
        key = u"postsn";
    } else if (path == u"/iccid/") {
        lookup = Kind::Sim;
        key = u"s";
    }
    if (lookup) {
        const QString id = formValue(url, key).value_or(QString());
        responder.write(pageBytes(pageFor(*lookup, id)), kHtml);
        return;
    }

    if (const std::optional<SitePage> page = sitePage(path)) {
        responder.write(page->body, page->mimeType);
        return;
    }
    const SitePage missing = notFoundPage();
    responder.write(missing.body, missing.mimeType, QHttpServerResponder::StatusCode::NotFound);
}

// respond() answers every request, so missingHandler is only reached if it
// stops doing so.
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
bool SampleServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    respond(request, responder);
    return true;
}

void SampleServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const SitePage missing = notFoundPage();
    makeResponder(request, socket)
        .write(missing.body, missing.mimeType, QHttpServerResponder::StatusCode::NotFound);
}
#else
bool SampleServer::handleRequest(const QHttpServerRequest& request, QHttpServerResponder& responder)
{
    respond(request, responder);
    return true;
}

#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
void SampleServer::missingHandler(const QHttpServerRequest&, QHttpServerResponder&& responder)
#else
void SampleServer::missingHandler(const QHttpServerRequest&, QHttpServerResponder& responder)
#endif
{
    const SitePage missing = notFoundPage();
    responder.write(missing.body, missing.mimeType, QHttpServerResponder::StatusCode::NotFound);
}
#endif

} // namespace mizong::sample
