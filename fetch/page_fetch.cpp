#include "page_fetch.h"

#include <QHostAddress>
#include <QNetworkProxyFactory>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <thread>

#ifndef Q_OS_WIN
#include <sys/utsname.h>
#endif

namespace mizong {

namespace {

// How often a transfer that waits on a silent service looks at its deadline;
// a cancel wakes it at once.
constexpr int kPollMs = 200;

// Transfer threads are never waited for while the program runs, but at its
// exit they must not still be inside libcurl or OpenSSL while those clean up.
// Every transfer is cancelled by then (its fetch is gone), so they end within
// milliseconds; the wait is bounded all the same.
class RunningTransfers
{
public:
    void add()
    {
        const std::lock_guard lock(m_mutex);
        ++m_count;
    }
    void remove()
    {
        const std::lock_guard lock(m_mutex);
        if (--m_count == 0)
            m_none.notify_all();
    }
    ~RunningTransfers()
    {
        std::unique_lock lock(m_mutex);
        m_none.wait_for(lock, std::chrono::seconds(2), [this] { return m_count == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_none;
    int m_count = 0;
};

// As many redirects as Qt's client follows by default.
constexpr long kMaxRedirects = 50;

} // namespace

QByteArray requestUserAgent()
{
    // The same for every fetch of the run.
    static const QByteArray agent = [] {
#ifdef Q_OS_WIN
        // What every browser says on Windows 10 and 11 alike; only 64-bit is built.
        const QByteArray platform = "Windows NT 10.0; Win64; x64";
#else
        utsname system{};
        const QByteArray machine = uname(&system) == 0 ? QByteArray(system.machine) : "x86_64";
        // Browsers on Wayland say X11 too.
        const QByteArray platform = "X11; Linux " + machine;
#endif
        return "Mozilla/5.0 (" + platform + ") mizong/" MIZONG_VERSION;
    }();
    return agent;
}

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

// What a transfer hands back to its fetch.
struct PageFetch::Received
{
    bool complete = false; // the whole answer arrived, as the server framed it
    QByteArray body;
};

// Shared by a fetch and the thread that runs its transfer; either may go
// first. The fetch is told of the end only while it still exists.
struct PageFetch::Transfer
{
    std::mutex mutex;
    PageFetch* fetch = nullptr; // cleared when the fetch no longer listens
    CURLM* multi = nullptr;     // set while the transfer runs, for waking it
    std::atomic<bool> cancelled{false};

    void cancel()
    {
        const std::lock_guard lock(mutex);
        fetch = nullptr;
        cancelled = true;
        if (multi)
            curl_multi_wakeup(multi);
    }
};

namespace {

struct Sink
{
    QByteArray* body;
    qint64 maxBytes;
    std::atomic<bool>* cancelled;
};

// The decoded body as it arrives; stops the transfer past the bound, so a
// compression bomb ends after at most the bound's worth of inflated bytes.
size_t writeBody(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const size_t bytes = size * count;
    if (sink->cancelled->load() || qint64(bytes) > sink->maxBytes - sink->body->size())
        return 0; // anything short of `bytes` fails the transfer
    sink->body->append(data, qsizetype(bytes));
    return bytes;
}

int checkCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<std::atomic<bool>*>(user)->load() ? 1 : 0;
}

struct TransferSetup
{
    QByteArray url;
    qint64 maxBodyBytes = 0;
    std::chrono::milliseconds deadline{0}; // what is left of the fetch's
    QByteArray extraCa;
    QByteArray noProxy;
    QByteArray userAgent;
    // No proxy variable names one: the system's settings decide, per address.
    bool systemProxy = false;
};

// Whether the environment names a proxy that libcurl takes for `scheme`
// (it reads http_proxy only in lower case).
bool environmentProxy(QByteArrayView scheme)
{
    const QByteArray variable = scheme.toByteArray() + "_proxy";
    QList<QByteArray> names{variable, "all_proxy", "ALL_PROXY"};
    if (scheme != "http")
        names.append(variable.toUpper());
    return std::any_of(names.cbegin(), names.cend(),
                       [](const QByteArray& name) { return !qgetenv(name.constData()).isEmpty(); });
}

bool isLoopback(const QUrl& url)
{
    const QString host = url.host();
    return host.compare(u"localhost", Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}

// The system's proxy for the address, in libcurl's form; empty for a direct
// connection. On Windows that is WinHTTP's reading of Internet Options, with
// PAC and auto-detection (which can take seconds, hence never on the
// window's thread); on Linux, libproxy's reading of the desktop's settings.
QByteArray systemProxyFor(const QByteArray& address)
{
    const QUrl url = QUrl::fromEncoded(address);
    if (isLoopback(url))
        return {}; // never through a proxy, as the loopback bypass says
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    for (const QNetworkProxy& proxy : proxies) {
        QUrl named;
        switch (proxy.type()) {
        case QNetworkProxy::NoProxy:
            return {};
        case QNetworkProxy::HttpProxy:
            named.setScheme(QStringLiteral("http"));
            break;
        case QNetworkProxy::Socks5Proxy:
            named.setScheme(QStringLiteral("socks5h")); // names resolved by the proxy
            break;
        default:
            continue; // caching proxies of other protocols
        }
        if (proxy.hostName().isEmpty())
            continue;
        named.setHost(proxy.hostName());
        named.setPort(proxy.port());
        named.setUserName(proxy.user());
        named.setPassword(proxy.password());
        return named.toEncoded();
    }
    return {};
}

// Loopback addresses never go through a proxy, as with Qt's client; the
// environment's own list of exceptions still applies.
QByteArray noProxyList()
{
    QByteArray list = qgetenv("no_proxy");
    if (list.isEmpty())
        list = qgetenv("NO_PROXY");
    if (list.trimmed() == "*")
        return list;
    if (!list.isEmpty())
        list += ',';
    return list + "localhost,127.0.0.1,::1";
}

// Runs one GET to its end on the calling (worker) thread. libcurl checks what
// Qt's client did not: the framing of a chunked body (cut or malformed) and
// the size of response headers, and it never leaves a reader behind.
// One request and its answer on the easy handle; true when the whole answer
// arrived as the server framed it.
bool performOnce(CURLM* multi, CURL* easy, const std::atomic<bool>& cancelled)
{
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return false;
    int running = 1;
    while (running && !cancelled) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (running && curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr) != CURLM_OK)
            break;
    }
    bool complete = false;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued))
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
            complete = message->data.result == CURLE_OK && !cancelled;
    curl_multi_remove_handle(multi, easy);
    // A proxy that wants credentials answers in the service's stead: not a
    // page of the service.
    long proxyAuth = 0;
    if (complete && curl_easy_getinfo(easy, CURLINFO_PROXYAUTH_AVAIL, &proxyAuth) == CURLE_OK &&
        proxyAuth != 0)
        complete = false;
    return complete;
}

// Whether a redirect from `from` to `to` is followed: the policy of Qt's
// client, which never goes from https down to http, nor to another scheme.
bool redirectAllowed(const QByteArray& from, const QByteArray& to)
{
    const QByteArray target = to.toLower();
    return target.startsWith("https://") ||
           (target.startsWith("http://") && !from.toLower().startsWith("https://"));
}

// Runs one GET to its end on the calling (worker) thread. libcurl checks what
// Qt's client did not: the framing of a chunked body (cut or malformed) and
// the size of response headers, and it never leaves a reader behind.
bool runTransfer(CURLM* multi, const TransferSetup& setup, std::atomic<bool>& cancelled,
                 QByteArray& body)
{
    CURL* easy = curl_easy_init();
    if (!easy)
        return false;
    Sink sink{&body, setup.maxBodyBytes, &cancelled};
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Every encoding the library can inflate, announced as the client's own.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    // A body announced over the bound is refused before any of it is read.
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(setup.maxBodyBytes));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, checkCancelled);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &cancelled);
    // The proxy comes from the environment (http_proxy, https_proxy) or,
    // without one there, from the system's settings (below, per address).
    curl_easy_setopt(easy, CURLOPT_NOPROXY, setup.noProxy.constData());
#ifdef Q_OS_WIN
    // Schannel refuses a certificate whose revocation server it cannot
    // reach, as behind many company firewalls; only a certificate known to be
    // revoked fails.
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_REVOKE_BEST_EFFORT));
#endif
    // Many sites refuse, or answer differently, a request without a browser's
    // user agent; the language is the one the pages are read in.
    curl_easy_setopt(easy, CURLOPT_USERAGENT, setup.userAgent.constData());
    curl_slist* headers = curl_slist_append(nullptr, "Accept-Language: zh-CN,zh;q=0.9");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    if (!setup.extraCa.isEmpty()) {
        curl_blob blob{const_cast<char*>(setup.extraCa.constData()), size_t(setup.extraCa.size()),
                       CURL_BLOB_COPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    }

    // Redirects are followed here, hop by hop, to keep Qt's policy.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + setup.deadline;
    QByteArray url = setup.url;
    bool complete = false;
    for (long redirects = 0;; ++redirects) {
        body.clear(); // a redirect's own body is no page
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        if (setup.systemProxy)
            curl_easy_setopt(easy, CURLOPT_PROXY, systemProxyFor(url).constData());
        // Whatever finding the proxy took counts against the fetch's deadline.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (cancelled || left.count() <= 0)
            break;
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(left.count()));
        complete = performOnce(multi, easy, cancelled);
        char* next = nullptr;
        if (!complete || curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &next) != CURLE_OK || !next)
            break;
        const QByteArray target(next);
        if (redirects == kMaxRedirects || !redirectAllowed(url, target)) {
            complete = false;
            break;
        }
        url = target;
    }
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
    return complete;
}

} // namespace

PageFetch::PageFetch(const QString& url, QStringView charset, FetchLimits limits, QObject* parent)
    : QObject(parent), m_url(url), m_charset(charset.toString()), m_limits(std::move(limits)),
      m_deadline(new QTimer(this))
{
    m_limits.maxBodyBytes = std::max<qint64>(m_limits.maxBodyBytes, 0);

    // The deadline counts from here, for the whole fetch: a service that
    // drips a byte a second is abandoned too.
    m_deadline->setSingleShot(true);
    m_deadline->setTimerType(Qt::PreciseTimer); // a coarse one may fire 5 % early
    connect(m_deadline, &QTimer::timeout, this, &PageFetch::fail);
    m_deadline->start(m_limits.deadline);

    // Started from the event loop, so that even an immediate failure reaches
    // the caller after FetchPage has returned and the caller has connected.
    QMetaObject::invokeMethod(this, &PageFetch::start, Qt::QueuedConnection);
}

PageFetch::~PageFetch()
{
    releaseTransfer();
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
    // Only HTTP: nothing else (file:, data:) is ever read.
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https")) {
        fail();
        return;
    }

    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    // Made after libcurl's set-up, so that it is destroyed (and waits) before
    // libcurl's and OpenSSL's clean-up at exit.
    static RunningTransfers running;
    CURLM* multi = initialised ? curl_multi_init() : nullptr;
    if (!multi) {
        fail();
        return;
    }

    m_transfer = std::make_shared<Transfer>();
    m_transfer->fetch = this;
    m_transfer->multi = multi;
    TransferSetup setup{url.toEncoded(),
                        m_limits.maxBodyBytes,
                        std::chrono::milliseconds(std::max(m_deadline->remainingTime(), 0)),
                        m_limits.extraCaCertificates,
                        noProxyList(),
                        requestUserAgent(),
                        !environmentProxy(scheme.toLatin1())};
    // A connection of its own per fetch (its own multi handle): no connection,
    // cookie or authentication state is shared with any other fetch. The thread
    // is never joined: a fetch that ends cancels it and goes on at once.
    running.add();
    std::thread([transfer = m_transfer, setup = std::move(setup), multi] {
        auto received = std::make_shared<Received>();
        received->complete = runTransfer(multi, setup, transfer->cancelled, received->body);
        {
            const std::lock_guard lock(transfer->mutex);
            transfer->multi = nullptr;
        }
        // Closes the connection before the fetch hears of the end.
        curl_multi_cleanup(multi);
        const std::lock_guard lock(transfer->mutex);
        if (PageFetch* fetch = transfer->fetch) {
            // Posted under the lock: the fetch cannot be deleted before the
            // event is queued, and a queued event dies with its receiver.
            QMetaObject::invokeMethod(
                fetch, [fetch, received] { fetch->onReceived(*received); }, Qt::QueuedConnection);
        }
        running.remove();
    }).detach();
}

void PageFetch::onReceived(const Received& received)
{
    if (!received.complete) {
        fail();
        return;
    }
    if (std::optional<QString> text = BytesToBstr(received.body, m_charset))
        finish(FetchOutcome::Decoded, std::move(*text));
    else
        finish(FetchOutcome::Undecoded, QString::fromLatin1(received.body)); // one char per byte
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
    m_result = {outcome, std::move(page)};
    m_deadline->stop();
    releaseTransfer();
    // Queued, so that no caller's slot runs inside a timer's signal and the
    // slot may delete this object. Dropped if it is deleted first.
    QMetaObject::invokeMethod(
        this, [this] { emit finished(m_result); }, Qt::QueuedConnection);
}

// Cancels the transfer without waiting for its thread.
void PageFetch::releaseTransfer()
{
    if (m_transfer) {
        m_transfer->cancel();
        m_transfer.reset();
    }
}

PageFetch* FetchPage(const QString& url, QStringView charset, QObject* parent, FetchLimits limits)
{
    return new PageFetch(url, charset, limits, parent);
}

} // namespace mizong
