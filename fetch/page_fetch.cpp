#include "page_fetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>

namespace mizong {

namespace {

// Qt stops reading from the socket when its buffer holds this much, so the
// reply never buffers more than this ahead of us.
constexpr qint64 kReadChunkBytes = 64 * 1024;

// How long a reply that reported an error may take to finish.
constexpr std::chrono::milliseconds kErrorGrace{100};

// Whether the server's answer arrived, whatever its status: Qt reports a
// 4xx/5xx status as an error of the content, protocol-operation or server
// class, but the body is there and is a page like any other. Any other error
// (refused, unresolved, closed early, malformed or undecompressable answer,
// too many redirects) means there is no page.
bool responseArrived(const QNetworkReply& reply)
{
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError)
        return true;
    if (reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() < 400)
        return false;
    return (error >= QNetworkReply::ContentAccessDenied &&
            error <= QNetworkReply::UnknownContentError) ||
           error == QNetworkReply::ProtocolInvalidOperationError ||
           (error >= QNetworkReply::InternalServerError &&
            error <= QNetworkReply::UnknownServerError);
}

} // namespace

std::optional<QString> BytesToBstr(const QByteArray& strBody, QStringView CodeBase)
{
    const QByteArray name = CodeBase.toUtf8();
    // The decoder takes a C string: an embedded NUL would shorten the name to
    // another, valid one.
    if (name.contains('\0'))
        return std::nullopt;
    // Default flags drop an initial byte order mark and turn invalid sequences
    // into U+FFFD. Stateless, because the whole body is one buffer: an
    // incomplete sequence at its end must become U+FFFD, not pending state.
    QStringDecoder decoder(name.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(strBody);
    return text;
}

PageFetch::PageFetch(const QString& url, QStringView charset, FetchLimits limits, QObject* parent)
    : QObject(parent), m_url(url), m_charset(charset.toString()), m_limits(limits),
      m_deadline(new QTimer(this))
{
    m_limits.maxBodyBytes = std::max<qint64>(m_limits.maxBodyBytes, 0);

    // The deadline counts from here, for the whole fetch: Qt's transfer
    // time-out only measures inactivity, which a dripping server never causes.
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &PageFetch::fail);
    m_deadline->start(m_limits.deadline);

    // Started from the event loop, so that even an immediate failure reaches
    // the caller after FetchPage has returned and the caller has connected.
    QMetaObject::invokeMethod(this, &PageFetch::start, Qt::QueuedConnection);
}

PageFetch::~PageFetch()
{
    // Our slots must not run while the children are torn down.
    releaseNetwork();
}

void PageFetch::abort()
{
    fail();
}

void PageFetch::start()
{
    if (m_finished)
        return; // aborted, or the deadline passed, before the loop got here

    // Strict: the address is already encoded; one that is not is refused
    // instead of being "repaired" into another one.
    const QUrl url(m_url, QUrl::StrictMode);
    const QString scheme = url.scheme();
    // Only HTTP: the manager would otherwise also read file:, data: and qrc:.
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https")) {
        fail();
        return;
    }

    // A manager of its own per fetch: no connection, cookie or authentication
    // state is shared with any other fetch.
    m_manager = new QNetworkAccessManager(this);
    // No header of our own (Qt adds its usual Host, Connection,
    // Accept-Encoding, Accept-Language and User-Agent "Mozilla/5.0").
    // Redirects: Qt 6's default policy, NoLessSafeRedirectPolicy, follows
    // http->http, http->https and https->https, not https->http.
    const QNetworkRequest request(url);
    m_reply = m_manager->get(request);
    m_reply->setReadBufferSize(kReadChunkBytes);
    connect(m_reply, &QNetworkReply::redirected, this, [this] { m_redirected = true; });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &PageFetch::onMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &PageFetch::onReadyRead);
    // Qt reports an error just before it finishes the reply, except when it
    // gives up inflating a body (a decompression bomb): Qt 6.4 then never
    // finishes it. Aborting inside the report makes Qt report a second error.
    connect(m_reply, &QNetworkReply::errorOccurred, this,
            [this] { QTimer::singleShot(kErrorGrace, this, &PageFetch::fail); });
    connect(m_reply, &QNetworkReply::finished, this, &PageFetch::onReplyFinished);
}

// The body length the server announced, if it can be trusted: Qt drops the
// header when it inflates a body, and after a redirect Qt 6.4 merges the
// earlier responses' headers into the final one's ("0, 34").
std::optional<qint64> PageFetch::announcedLength() const
{
    if (m_redirected)
        return std::nullopt;
    bool known = false;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    return known ? std::optional(length) : std::nullopt;
}

void PageFetch::onMetaDataChanged()
{
    // A body announced over the bound is refused before any of it is read.
    const std::optional<qint64> length = announcedLength();
    if (length && *length > m_limits.maxBodyBytes)
        fail();
}

void PageFetch::onReadyRead()
{
    takeAvailable();
}

// Moves what the reply holds into the body; false (and the fetch failed) once
// the body has passed the bound. At most one byte over the bound is ever read.
bool PageFetch::takeAvailable()
{
    while (m_reply->bytesAvailable() > 0) {
        const qint64 room = m_limits.maxBodyBytes - m_body.size();
        const qint64 wanted = room < kReadChunkBytes ? room + 1 : kReadChunkBytes;
        const qsizetype held = m_body.size();
        m_body.resize(held + wanted);
        const qint64 got = m_reply->read(m_body.data() + held, wanted);
        m_body.resize(held + std::max<qint64>(got, 0));
        if (m_body.size() > m_limits.maxBodyBytes) {
            fail();
            return false;
        }
        if (got <= 0)
            break;
    }
    return true;
}

void PageFetch::onReplyFinished()
{
    // The last bytes may still be buffered in the reply.
    if (!takeAvailable())
        return;
    if (!responseArrived(*m_reply)) {
        fail();
        return;
    }
    // Qt 6.4 takes the end of the connection in the middle of a body for the
    // end of a body without length and, depending on timing, reports no error
    // or only the status's. Where the length is known we check it ourselves; a
    // chunked body cut short can still pass, nothing in the reply tells.
    const std::optional<qint64> length = announcedLength();
    if (length && *length != m_body.size()) {
        fail();
        return;
    }
    if (std::optional<QString> text = BytesToBstr(m_body, m_charset))
        finish(FetchOutcome::Decoded, std::move(*text));
    else
        finish(FetchOutcome::Undecoded, QString::fromLatin1(m_body)); // one char per byte
}

void PageFetch::fail()
{
    finish(FetchOutcome::Failed, QString());
}

void PageFetch::finish(FetchOutcome outcome, QString page)
{
    if (m_finished)
        return;
    m_finished = true;
    m_outcome = outcome;
    m_page = std::move(page);
    m_body = QByteArray();
    m_deadline->stop();
    releaseNetwork();
    // Queued, so that no caller's slot runs inside a reply's or timer's signal
    // and the slot may delete this object. Dropped if it is deleted first.
    QMetaObject::invokeMethod(
        this, [this] { emit finished(); }, Qt::QueuedConnection);
}

// Cancels the request and lets the manager go, which closes its connection.
void PageFetch::releaseNetwork()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    if (m_manager) {
        m_manager->deleteLater();
        m_manager = nullptr;
    }
}

PageFetch* FetchPage(const QString& url, QStringView charset, QObject* parent, FetchLimits limits)
{
    return new PageFetch(url, charset, limits, parent);
}

PageResult fetchPageBlocking(const QString& url, QStringView charset, FetchLimits limits)
{
    const std::unique_ptr<PageFetch> fetch(FetchPage(url, charset, nullptr, limits));
    QEventLoop loop;
    // finished() always comes from the event loop, so it cannot be missed here.
    QObject::connect(fetch.get(), &PageFetch::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return {fetch->outcome(), fetch->page()};
}

} // namespace mizong
