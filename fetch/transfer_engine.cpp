// The transfer engine: one GET with libcurl, on the thread that calls it.
// On Linux this is the module mizong-transfer.so, so that neither libcurl nor
// Qt Network is loaded before the first lookup.
#include "transfer.h"

#include <QHostAddress>
#include <QNetworkProxyFactory>
#include <QUrl>

#include <curl/curl.h>

namespace mizong::transfer {

namespace {

// How often a transfer that waits on a silent service looks at its deadline;
// a cancel wakes it at once.
constexpr int kPollMs = 200;

struct Sink
{
    QByteArray* body;
    qint64 maxBytes;
    const std::atomic<bool>* cancelled;
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
    return static_cast<const std::atomic<bool>*>(user)->load() ? 1 : 0;
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
bool runTransfer(CURLM* multi, const Setup& setup, const std::atomic<bool>& cancelled,
                 Response& response)
{
    CURL* easy = curl_easy_init();
    if (!easy)
        return false;
    Sink sink{&response.body, setup.maxBodyBytes, &cancelled};
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
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(&cancelled));
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
    for (int& redirects = response.redirects;; ++redirects) {
        response.body.clear(); // a redirect's own body is no page
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
        if (redirects >= setup.maxRedirects || !redirectAllowed(url, target)) {
            complete = false;
            break;
        }
        url = target;
    }
    if (complete) {
        char* type = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
            response.contentType = type;
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        response.status = int(status);
        response.url = url;
    }
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
    return complete;
}

void wakeMulti(void* multi)
{
    curl_multi_wakeup(static_cast<CURLM*>(multi));
}

bool run(const Setup& setup, Control& control, Response& response)
{
    // A connection of its own per fetch (its own multi handle): no
    // connection, cookie or authentication state is shared with any other.
    CURLM* multi = curl_multi_init();
    if (!multi)
        return false;
    control.setWaker(wakeMulti, multi);
    const bool complete =
        !control.isCancelled() && runTransfer(multi, setup, control.cancelledFlag(), response);
    control.setWaker(nullptr, nullptr);
    // Closes the connection before the fetch hears of the end.
    curl_multi_cleanup(multi);
    return complete;
}

} // namespace

} // namespace mizong::transfer

#ifdef MIZONG_TRANSFER_MODULE
#define MIZONG_TRANSFER_EXPORT Q_DECL_EXPORT
#else
#define MIZONG_TRANSFER_EXPORT // linked into the program: nothing to export
#endif

extern "C" MIZONG_TRANSFER_EXPORT const mizong::transfer::Engine* mizong_transfer_engine()
{
    // libcurl's global set-up (with its TLS library's) once, on whichever
    // transfer thread comes first; never on the window's.
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    static constexpr mizong::transfer::Engine engine{mizong::transfer::run};
    return initialised ? &engine : nullptr;
}
