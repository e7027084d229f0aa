#include "page_fetch.h"

#include "text_decoding.h"
#include "transfer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#ifndef Q_OS_WIN
#include <dlfcn.h>
#include <sys/utsname.h>
#endif

namespace mizong {

namespace {

// The threads that run the transfers. A thread stays for the whole run and
// takes the next transfer once its own has ended, so that what a thread sets
// up once (Qt's data for a thread it did not start, the regular-expression
// stack the Windows proxy lookup's bypass list reaches) is not set up again
// for every lookup. A transfer never waits for another: with no idle thread,
// a new one starts.
//
// Transfers are never waited for while the program runs, but at its exit
// they must not still be inside libcurl or its TLS library while those clean
// up. Every transfer is cancelled by then (its fetch is gone), so they end
// within milliseconds; the wait is bounded all the same.
class TransferThreads
{
public:
    void start(std::function<void()> transfer)
    {
        const std::lock_guard lock(m_mutex);
        ++m_running;
        m_queued.push_back(std::move(transfer));
        if (m_queued.size() <= m_idle)
            m_wake.notify_one();
        else if (!m_loading)
            std::thread([this] { serve(); }).detach();
    }
    // While a thread loads the network libraries, no other thread is made:
    // making one waits for the dynamic linker's lock that the load holds
    // (15 ms or so), which the caller's event loop would wait for too. A
    // transfer needs the libraries in any case; the loading thread makes
    // the threads for those that came meanwhile once it is done.
    void loading(bool underWay)
    {
        const std::lock_guard lock(m_mutex);
        m_loading = underWay;
        if (underWay)
            return;
        for (std::size_t i = m_idle; i < m_queued.size(); ++i)
            std::thread([this] { serve(); }).detach();
    }
    void waitForNone()
    {
        std::unique_lock lock(m_mutex);
        m_none.wait_for(lock, std::chrono::seconds(2), [this] { return m_running == 0; });
    }

private:
    void serve()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            ++m_idle;
            m_wake.wait(lock, [this] { return !m_queued.empty(); });
            --m_idle;
            std::function<void()> transfer = std::move(m_queued.front());
            m_queued.pop_front();
            lock.unlock();
            transfer();
            transfer = nullptr; // what it holds goes before it counts as ended
            lock.lock();
            if (--m_running == 0)
                m_none.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_none;
    std::deque<std::function<void()>> m_queued;
    std::size_t m_idle = 0;
    std::size_t m_running = 0;
    bool m_loading = false;
};

// Never destroyed: its threads wait on it to the end, and the wait at exit is
// an exit handler of its own, made after the libraries' (see loadEngine), so
// that it runs before their clean-up.
TransferThreads& transferThreads()
{
    static auto* threads = new TransferThreads;
    return *threads;
}

#ifdef Q_OS_WIN
// Linked into the program.
const transfer::Engine* openEngine(const QString&)
{
    return mizong_transfer_engine();
}
#else
// The folders the dynamic linker searches for the program's own libraries:
// its run path (the build tree's), then the system's.
QStringList programSearchPath()
{
    void* program = dlopen(nullptr, RTLD_LAZY);
    Dl_serinfo size{};
    if (!program || dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0)
        return {};
    std::vector<std::max_align_t> buffer(size.dls_size / sizeof(std::max_align_t) + 1);
    auto* info = reinterpret_cast<Dl_serinfo*>(buffer.data());
    if (dlinfo(program, RTLD_DI_SERINFOSIZE, info) != 0 ||
        dlinfo(program, RTLD_DI_SERINFO, info) != 0)
        return {};
    QStringList folders;
    for (unsigned int i = 0; i < info->dls_cnt; ++i)
        folders.append(QFile::decodeName(info->dls_serpath[i].dls_name));
    return folders;
}

// The module beside the program (an unpacked tree), else where the package
// installs it, else in the program's library search path, where the build
// tree's run path finds it. Looked up here, not left to dlopen: a sanitizer's
// dlopen looks with its own library's run path, not the program's. nullptr,
// with one warning, when it cannot be had.
const transfer::Engine* openEngine(const QString& programDir)
{
    const QString file = QStringLiteral(MIZONG_TRANSFER_MODULE_FILE);
    QStringList candidates{programDir + u'/' + file,
                           programDir + QStringLiteral("/../" MIZONG_MODULE_RELATIVE_DIR "/") +
                               file};
    for (const QString& folder : programSearchPath())
        candidates.append(folder + u'/' + file);

    QByteArray errors;
    for (const QString& candidate : candidates) {
        if (!QFileInfo::exists(candidate))
            continue;
        void* module = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            errors += QByteArray("\n  ") + dlerror();
            continue;
        }
        // The module stays loaded for the rest of the run.
        auto get =
            reinterpret_cast<transfer::EngineFunction>(dlsym(module, transfer::kEngineSymbol));
        if (!get) {
            errors += QByteArray("\n  ") + dlerror();
            continue;
        }
        if (const transfer::Engine* engine = get())
            return engine;
        errors += "\n  libcurl could not be set up";
        break;
    }
    if (errors.isEmpty())
        errors = "\n  " + QFile::encodeName(candidates.join(u' ')) + ": none exists";
    qWarning("mizong: cannot load the network module; lookups fail:%s", errors.constData());
    return nullptr;
}
#endif

// The transfer engine, loaded and set up once by the first transfer thread
// that asks: its libraries' loading and set-up cost that thread, never the
// caller's event loop.
const transfer::Engine* loadEngine(const QString& programDir)
{
    static const transfer::Engine* const engine = [&] {
        transferThreads().loading(true);
        const transfer::Engine* opened = openEngine(programDir);
        transferThreads().loading(false);
        if (opened)
            std::atexit([] { transferThreads().waitForNone(); });
        return opened;
    }();
    return engine;
}

// Asked on the application's thread: its path is not to be read off it.
QString programDir()
{
    static const QString dir = QCoreApplication::applicationDirPath();
    return dir;
}

} // namespace

void PrepareTransfers()
{
    transferThreads().start([dir = programDir()] { loadEngine(dir); });
}

QByteArray requestUserAgent()
{
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
    // The standard's labels only, the same on every platform.
    return decodeCharset(strBody, CodeBase.toUtf8());
}

// What a transfer hands back to its fetch.
struct PageFetch::Received
{
    bool complete = false; // the whole answer arrived, as the server framed it
    transfer::Response response;
};

// Shared by a fetch and the thread that runs its transfer; either may go
// first. The fetch is told of the end only while it still exists.
struct PageFetch::Transfer
{
    std::mutex mutex;
    PageFetch* fetch = nullptr; // cleared when the fetch no longer listens
    transfer::Control control;

    void cancel()
    {
        {
            const std::lock_guard lock(mutex);
            fetch = nullptr;
        }
        control.cancel();
    }
};

namespace {

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

} // namespace

PageFetch::PageFetch(const QString& url, std::optional<QString> charset, FetchLimits limits,
                     QObject* parent)
    : QObject(parent), m_url(url), m_charset(std::move(charset)), m_limits(std::move(limits)),
      m_deadline(new QTimer(this))
{
    m_limits.maxBodyBytes = std::max<qint64>(m_limits.maxBodyBytes, 0);
    m_limits.maxRedirects = std::max(m_limits.maxRedirects, 0);

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

void PageFetch::start()
{
    if (m_finished)
        return; // the deadline passed before the loop got here

    // Strict: the address is already encoded; one that is not is refused
    // instead of being "repaired" into another one.
    const QUrl url(m_url, QUrl::StrictMode);
    const QString scheme = url.scheme();
    // Only HTTP: nothing else (file:, data:) is ever read.
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https")) {
        finish({.outcome = FetchOutcome::Failed});
        return;
    }

    const QString dir = programDir();
    m_transfer = std::make_shared<Transfer>();
    m_transfer->fetch = this;
    transfer::Setup setup{url.toEncoded(),
                          m_limits.maxBodyBytes,
                          std::chrono::milliseconds(std::max(m_deadline->remainingTime(), 0)),
                          m_limits.extraCaCertificates,
                          noProxyList(),
                          requestUserAgent(),
                          m_limits.maxRedirects,
                          !environmentProxy(scheme.toLatin1())};
    // Never waited for: a fetch that ends cancels its transfer and goes on at
    // once.
    transferThreads().start([transfer = m_transfer, setup = std::move(setup), dir] {
        auto received = std::make_shared<Received>();
        if (const transfer::Engine* engine = loadEngine(dir))
            received->complete = engine->run(setup, transfer->control, received->response);
        const std::lock_guard lock(transfer->mutex);
        if (PageFetch* fetch = transfer->fetch) {
            // Posted under the lock: the fetch cannot be deleted before the
            // event is queued, and a queued event dies with its receiver.
            QMetaObject::invokeMethod(
                fetch, [fetch, received] { fetch->onReceived(*received); }, Qt::QueuedConnection);
        }
    });
}

void PageFetch::onReceived(const Received& received)
{
    const transfer::Response& response = received.response;
    if (!received.complete) {
        finish({.outcome = FetchOutcome::Failed, .redirects = response.redirects});
        return;
    }
    if (!m_charset) {
        finish({.outcome = FetchOutcome::Received,
                .body = response.body,
                .contentType = response.contentType,
                .status = response.status,
                .finalUrl = QString::fromUtf8(response.url),
                .redirects = response.redirects});
    } else if (std::optional<QString> text = BytesToBstr(response.body, *m_charset)) {
        finish({.outcome = FetchOutcome::Decoded, .page = std::move(*text)});
    } else {
        // Each byte kept as one character, so that no byte of the body is
        // lost to the searches of the page.
        finish({.outcome = FetchOutcome::Undecoded, .page = QString::fromLatin1(response.body)});
    }
}

void PageFetch::fail()
{
    // The transfer may still be following redirects as it is cancelled: it
    // counts as having used all it was allowed.
    finish({.outcome = FetchOutcome::Failed, .redirects = m_limits.maxRedirects});
}

void PageFetch::finish(PageResult result)
{
    if (m_finished)
        return;
    m_finished = true;
    m_result = std::move(result);
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
    return new PageFetch(url, charset.toString(), limits, parent);
}

PageFetch* FetchResource(const QString& url, QObject* parent, FetchLimits limits)
{
    return new PageFetch(url, std::nullopt, limits, parent);
}

} // namespace mizong
