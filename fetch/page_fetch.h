#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringView>

#include <chrono>
#include <memory>
#include <optional>

class QTimer;

namespace mizong {

// How a fetch ended. Callers of FetchPage treat every outcome as page text;
// the outcome exists for tests and diagnostics.
enum class FetchOutcome
{
    Decoded,   // the whole body decoded under the named charset
    Undecoded, // the body arrived but the charset is unknown: bytes as Latin-1
    Failed,    // no answer (refused, unresolved, deadline, over the size bound)
    Received,  // FetchResource: the whole answer, kept as it came
};

struct FetchLimits
{
    // Deadline for the whole fetch, not just inactivity: a service that
    // drips a byte a second is abandoned too.
    std::chrono::milliseconds deadline{30000};
    // A body that grows past this is abandoned; nothing larger is held. For a
    // compressed body the bound is on the inflated bytes.
    qint64 maxBodyBytes = 8 * 1024 * 1024;
    // Redirects followed, as many as Qt's client follows by default; one
    // more fails the fetch.
    int maxRedirects = 50;
    // PEM certificates trusted besides the system's store (tests use it).
    QByteArray extraCaCertificates{};
};

// What a fetch gave: how it ended and, from FetchPage, the page text (decoded
// body, Latin-1 body, or empty when Failed); from FetchResource the last
// answer itself (all empty when Failed).
struct PageResult
{
    FetchOutcome outcome = FetchOutcome::Failed;
    QString page{};
    QByteArray body{};        // inflated when the server compressed it
    QByteArray contentType{}; // its Content-Type as sent; empty without one
    int status = 0;
    QString finalUrl{}; // the address that answered, after the redirects
    // Redirects followed; when Failed, at most what the limits allowed.
    int redirects = 0;
};

// Decodes the whole body under the encoding CodeBase labels (decodeCharset:
// the Encoding Standard's labels and decoders); an initial byte order mark of
// that encoding is dropped and invalid sequences become U+FFFD. No value when
// CodeBase is no label of the standard's.
std::optional<QString> BytesToBstr(const QByteArray& strBody, QStringView CodeBase);

// One GET in flight. finished() is emitted exactly once, always from the event
// loop (never from inside FetchPage or FetchResource), and carries the
// result, which result() also holds from then on. Deleting the object
// cancels the request.
class PageFetch final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageFetch)

public:
    ~PageFetch() override;

    bool isFinished() const { return m_finished; }
    FetchOutcome outcome() const { return m_result.outcome; }
    const QString& page() const { return m_result.page; }
    const PageResult& result() const { return m_result; }

signals:
    void finished(const mizong::PageResult& result);

private:
    friend PageFetch* FetchPage(const QString&, QStringView, QObject*, FetchLimits);
    friend PageFetch* FetchResource(const QString&, QObject*, FetchLimits);
    struct Transfer;
    struct Received;
    PageFetch(const QString& url, std::optional<QString> charset, FetchLimits limits,
              QObject* parent);

    void start();
    void onReceived(const Received& received);
    void fail();
    void finish(PageResult result);
    void releaseTransfer();

    QString m_url;
    // What the body is decoded under; none: it is kept as bytes (FetchResource).
    std::optional<QString> m_charset;
    FetchLimits m_limits;
    std::shared_ptr<Transfer> m_transfer;
    QTimer* m_deadline = nullptr;
    bool m_finished = false;
    PageResult m_result;
};

// The User-Agent every fetch sends: a browser's form, naming the platform,
// then "mizong/<version>".
QByteArray requestUserAgent();

// Starts a plain GET for the complete address `url` (already encoded by the
// caller). The status code is never looked at: error pages are pages. Besides
// the client's own headers it sends only a browser-style User-Agent and
// "Accept-Language: zh-CN,zh;q=0.9". The transfer runs on a thread of its own,
// so nothing a service sends can stall the caller's event loop, and it is
// never waited for: a fetch that ends lets go of its connection at once. The
// returned object is owned by `parent`.
PageFetch* FetchPage(const QString& url, QStringView charset, QObject* parent,
                     FetchLimits limits = {});

// The same GET as FetchPage's (thread, limits, proxy, headers, redirects,
// status never a failure), for a page or its stylesheets and pictures: the
// result is Received with the last answer's body as bytes, its Content-Type,
// status code and address, or Failed as FetchPage's would be.
PageFetch* FetchResource(const QString& url, QObject* parent, FetchLimits limits = {});

// Loads the transfers' network libraries on a transfer thread now, without
// waiting for them: the first fetch then finds them loaded, or waits on its
// own thread for the load under way. Call it from the application's thread.
void PrepareTransfers();

} // namespace mizong
