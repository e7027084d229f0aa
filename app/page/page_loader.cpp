#include "page_loader.h"

#include "font_measure.h"
#include "text_decoding.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSemaphore>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <memory>
#include <optional>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace mizong::page {

namespace {

QThread* g_pageThread = nullptr;
QObject* g_pageContext = nullptr;

void stopPageThread()
{
    PageWork::dropAll();
    QMetaObject::invokeMethod(g_pageContext, &QObject::deleteLater);
    g_pageThread->quit();
    g_pageThread->wait();
    delete std::exchange(g_pageThread, nullptr);
    g_pageContext = nullptr;
}

// One thread for every page's decoding, bounding and layout, so that no page
// ever holds the window's thread. It lives until the application ends: the
// documents it lays out keep using the fonts it opened.
QObject* pageThread()
{
    static QObject* const context = [] {
        g_pageThread = new QThread;
        g_pageThread->setObjectName(QStringLiteral("mizong page"));
        g_pageThread->start();
        g_pageContext = new QObject;
        g_pageContext->moveToThread(g_pageThread);
        qAddPostRoutine(stopPageThread);
        return g_pageContext;
    }();
    return context;
}

bool arrived(const PageResult& result)
{
    return result.outcome == FetchOutcome::Received && result.status >= 200 && result.status < 300;
}

// What may be read as a page: HTML or text, or a server that does not say.
bool isPageText(const QByteArray& contentType)
{
    const QByteArray type = contentType.split(';').constFirst().trimmed().toLower();
    return type.isEmpty() || type == "text/html" || type == "application/xhtml+xml" ||
           type == "text/plain";
}

} // namespace

bool endPageWork(std::chrono::milliseconds wait)
{
    PageWork::dropAll();
    if (!g_pageThread)
        return true;
    // What is queued before this mark gives up at once now.
    auto idle = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        g_pageContext, [idle] { idle->release(); }, Qt::QueuedConnection);
    return idle->tryAcquire(1, int(wait.count()));
}

void retire(std::unique_ptr<QTextDocument> document)
{
    if (!document)
        return;
    QTextDocument* retired = document.release();
    retired->moveToThread(pageThread()->thread());
    retired->deleteLater();
}

namespace {

// A page's tree and its styles, which may hold 20 000 elements each, are
// freed on the page thread: the window's thread never spends the time.
template <typename T> void retireShared(std::shared_ptr<T> held)
{
    if (!held)
        return;
    QMetaObject::invokeMethod(
        pageThread(), [held = std::move(held)]() mutable { held.reset(); }, Qt::QueuedConnection);
}

// A page written and laid out, with what its first write found it needs.
struct BuiltPage
{
    BuiltDocument built;
    std::shared_ptr<const StyledPage> styled;
    QList<QUrl> backgroundImages;
};

} // namespace

PageLoader::PageLoader(Ready ready, Failed failed, QObject* parent)
    : QObject(parent), m_ready(std::move(ready)), m_failed(std::move(failed)),
      m_resourceDeadline(new QTimer(this))
{
    m_resourceDeadline->setSingleShot(true);
    m_resourceDeadline->setTimerType(Qt::PreciseTimer);
    connect(m_resourceDeadline, &QTimer::timeout, this, &PageLoader::resourcesTimedOut);
}

PageLoader::~PageLoader()
{
    stop();
}

template <typename Result>
void PageLoader::onPageThread(std::function<Result()> job, std::function<void(Result&)> done)
{
    QPointer<PageLoader> self(this);
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        pageThread(),
        [self, generation, work = m_work, job = std::move(job), done = std::move(done)] {
            auto result = std::make_shared<Result>();
            if (!work->isDropped()) {
                work->begin();
                *result = job();
                work->end();
            }
            // Back through the application object, which outlives any
            // loader; the result is dropped with the load it belongs to.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, generation, work, result, done] {
                    if (!self || self->m_generation != generation)
                        return;
                    if (work->isOverTime())
                        self->fail();
                    else
                        done(*result);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void PageLoader::stop()
{
    ++m_generation;
    if (m_work)
        m_work->drop();
    m_loading = false;
    m_resourceDeadline->stop();
    qDeleteAll(std::exchange(m_transfers, {})); // a fetch that is gone says nothing more
    m_waiting.clear();
}

void PageLoader::load(const QUrl& url, const LayoutTarget& target)
{
    stop();
    m_loading = true;
    m_requested = url;
    m_target = target;
    m_pageUrl = url;
    retirePieces();
    m_markup = {};
    m_resources = {};
    m_work.reset();
    m_pagePixels = 0;
    m_styleChars = 0;
    m_styleRules = 0;
    m_sheets.clear();
    m_redirectsLeft = m_limits.maxResourceRedirects;
    m_seen.clear();
    m_listed = 0;
    m_pending = 0;
    m_pendingStyleSheets = 0;
    m_textShown = false;
    m_imagesBuilt = false;

    PageFetch* fetch = FetchResource(url.toString(QUrl::FullyEncoded), this, m_limits.fetch);
    m_transfers.append(fetch);
    // The page thread is idle until the page arrives: its fonts are opened
    // meanwhile, once for the program's run.
    static bool textWarmed = false;
    if (!std::exchange(textWarmed, true))
        QMetaObject::invokeMethod(
            pageThread(), [target = m_target] { warmUpText(target); }, Qt::QueuedConnection);
    connect(fetch, &PageFetch::finished, this, [this, fetch](const PageResult& result) {
        m_transfers.removeOne(fetch);
        fetch->deleteLater();
        pageArrived(result);
    });
}

ViewMetrics PageLoader::viewMetrics() const
{
    ViewMetrics view;
    // A view not shown yet has no size: the window's own view's.
    if (m_target.width > 0 && m_target.height > 0) {
        view.width = m_target.width;
        view.height = m_target.height;
    }
    if (m_target.devicePixelRatio > 0)
        view.devicePixelRatio = m_target.devicePixelRatio;
    return view;
}

void PageLoader::pageArrived(const PageResult& result)
{
    if (!arrived(result) || !isPageText(result.contentType))
        return fail();
    m_pageUrl = QUrl(result.finalUrl);
    m_work = std::make_shared<PageWork>(m_limits.pageWork);
    const MarkupLimits limits = m_limits.markup;
    onPageThread<std::pair<PreparedMarkup, QByteArray>>(
        [body = result.body, type = result.contentType, url = m_pageUrl, limits,
         view = viewMetrics()] {
            QByteArray encoding;
            const QString text = decodeHtml(body, type, &encoding);
            return std::pair{prepareMarkup(text, url, limits, view), encoding};
        },
        [this](std::pair<PreparedMarkup, QByteArray>& prepared) {
            m_pageEncoding = prepared.second;
            markupPrepared(std::move(prepared.first));
        });
}

void PageLoader::markupPrepared(PreparedMarkup prepared)
{
    retirePieces();
    m_markup = std::move(prepared);
    m_styleChars = m_markup.styleChars;
    m_styleRules = m_markup.styleRules;
    m_resourceDeadline->start(m_limits.fetch.deadline);
    for (const QUrl& sheet : std::as_const(m_markup.styleSheets))
        want(Resource::StyleSheet, sheet, 0);
    for (const QUrl& image : std::as_const(m_markup.images))
        want(Resource::Image, image, 0);
    startTransfers();
    settled();
}

void PageLoader::want(Resource kind, const QUrl& url, int depth)
{
    if (m_seen.contains(url) || m_listed >= m_limits.markup.maxResources)
        return;
    m_seen.insert(url);
    ++m_listed;
    ++m_pending;
    if (kind == Resource::StyleSheet)
        ++m_pendingStyleSheets;
    m_waiting.push_back({kind, url, depth});
}

void PageLoader::startTransfers()
{
    while (m_transfers.size() < m_limits.maxTransfers && !m_waiting.empty()) {
        const Wanted wanted = m_waiting.front();
        m_waiting.pop_front();
        startTransfer(wanted);
    }
}

void PageLoader::startTransfer(const Wanted& wanted)
{
    FetchLimits limits = m_limits.fetch;
    limits.deadline = std::chrono::milliseconds(qMax(0, m_resourceDeadline->remainingTime()));
    const int share = qMax(1, m_limits.maxResourceRedirects / qMax(1, m_limits.maxTransfers));
    const int held = qMin(share, m_redirectsLeft);
    m_redirectsLeft -= held;
    limits.maxRedirects = held;
    PageFetch* fetch =
        FetchResource(wanted.url.toString(QUrl::FullyEncoded), this, std::move(limits));
    m_transfers.append(fetch);
    connect(fetch, &PageFetch::finished, this,
            [this, fetch, wanted, held](const PageResult& result) {
                m_transfers.removeOne(fetch);
                fetch->deleteLater();
                m_redirectsLeft += held - qBound(0, result.redirects, held);
                resourceArrived(wanted, result);
                startTransfers();
            });
}

void PageLoader::resourceArrived(const Wanted& wanted, const PageResult& result)
{
    if (!arrived(result)) {
        if (wanted.kind == Resource::StyleSheet) {
            PreparedStyleSheet none;
            styleSheetPrepared(wanted, none);
        } else {
            imageDecoded(wanted.url, {});
        }
        return;
    }
    if (wanted.kind == Resource::StyleSheet) {
        const QUrl base(result.finalUrl);
        MarkupLimits limits = m_limits.markup;
        limits.maxStyleRules = styleRulesFor(limits, m_markup.nesting);
        onPageThread<PreparedStyleSheet>(
            [body = result.body, type = result.contentType, base, encoding = m_pageEncoding, limits,
             view = viewMetrics()] {
                return prepareStyleSheet(decodeStyleSheet(body, type, encoding), base, limits,
                                         view);
            },
            [this, wanted](PreparedStyleSheet& sheet) { styleSheetPrepared(wanted, sheet); });
        return;
    }
    const qint64 maxPixels = m_limits.maxImagePixels;
    onPageThread<QImage>([body = result.body, maxPixels] { return decodeImage(body, maxPixels); },
                         [this, url = wanted.url](QImage& image) { imageDecoded(url, image); });
}

void PageLoader::styleSheetPrepared(const Wanted& wanted, PreparedStyleSheet& sheet)
{
    // A sheet past what the page's sheets may hold together is left out
    // whole, with what it imports.
    const MarkupLimits& limits = m_limits.markup;
    const bool fits = m_styleChars + sheet.text.size() <= limits.maxStyleChars &&
                      m_styleRules + sheet.rules <= styleRulesFor(limits, m_markup.nesting);
    if (fits) {
        m_styleChars += sheet.text.size();
        m_styleRules += sheet.rules;
        m_sheets.insert(wanted.url, sheet);
    }
    if (fits && wanted.depth < m_limits.maxImportDepth) {
        for (const QUrl& import : std::as_const(sheet.imports))
            want(Resource::StyleSheet, import, wanted.depth + 1);
        startTransfers();
    }
    --m_pending;
    --m_pendingStyleSheets;
    settled();
}

void PageLoader::imageDecoded(const QUrl& url, const QImage& image)
{
    const qint64 pixels = qint64(image.width()) * image.height();
    if (!image.isNull() && m_pagePixels + pixels <= m_limits.maxPagePixels) {
        m_pagePixels += pixels;
        m_resources.images.insert(url, image);
    }
    --m_pending;
    settled();
}

// Shows the text once its style sheets are in, and the page with its images
// once they are; one layout when both come together.
void PageLoader::settled()
{
    if (!m_loading)
        return;
    if (!m_textShown && m_pending == 0)
        return build(true);
    if (!m_textShown && m_pendingStyleSheets == 0)
        return build(false);
    if (m_textShown && !m_imagesBuilt && m_pending == 0)
        build(true);
}

void PageLoader::resourcesTimedOut()
{
    for (const Wanted& wanted : m_waiting) {
        --m_pending;
        if (wanted.kind == Resource::StyleSheet)
            --m_pendingStyleSheets;
    }
    m_waiting.clear();
    // Each transfer still under way ends by its own deadline, the same as
    // this one, and settles as failed.
    settled();
}

void PageLoader::build(bool withImages)
{
    const bool shownWithoutImages = m_textShown;
    m_textShown = true;
    m_imagesBuilt = withImages;
    if (shownWithoutImages && m_resources.images.isEmpty()) {
        // No image came: the page as shown is the whole page. Said through
        // the page thread, after the text it follows.
        finish();
        return onPageThread<bool>([] { return true; },
                                  [this](bool&) {
                                      LoadedPage page{{}, m_pageUrl, m_markup.links, true, true};
                                      m_ready(page);
                                  });
    }
    QSet<QUrl> loaded;
    PageResources resources;
    if (withImages) {
        resources.images = m_resources.images;
        for (auto it = resources.images.cbegin(); it != resources.images.cend(); ++it)
            loaded.insert(it.key());
    }
    // The cascade runs once a page: the write with its images reuses the
    // styles of the write without them.
    onPageThread<BuiltPage>(
        [markup = m_markup, sheets = m_sheets, styled = m_styled, loaded, resources,
         target = m_target, limits = m_limits.markup, view = viewMetrics(), work = m_work,
         owner = thread()] {
            BuiltPage page;
            page.styled =
                styled
                    ? styled
                    : std::make_shared<const StyledPage>(stylePage(markup, sheets, limits, view));
            const FontMeasure measure(target.font);
            // A page sure to need the scroll bar is written and laid out
            // beside it at once; another, when it proves to need it, again.
            ViewMetrics first = view;
            const bool scrolls = fillsView(markup, *page.styled, view, measure);
            if (scrolls)
                first.scrollBarWidth = target.scrollBarWidth;
            WrittenMarkup written =
                writeStyled(markup, *page.styled, loaded, limits, first, &measure);
            page.backgroundImages = written.backgroundImages;
            if (work->isDropped())
                return page;
            // Kept on this thread until it is known to be the one shown,
            // then handed to the view's.
            page.built = buildDocument(written.html, written.margins, resources, target,
                                       limits.maxHeight, *work, scrolls);
            const bool proved = page.built.needsScrollBar;
            if (page.built.document && proved != scrolls && written.viewWide &&
                !work->isDropped()) {
                // Its tables again, across the width the page proved to have.
                page.built = {};
                ViewMetrics proven = view;
                proven.scrollBarWidth = proved ? target.scrollBarWidth : 0;
                written = writeStyled(markup, *page.styled, loaded, limits, proven, &measure);
                if (work->isDropped())
                    return page;
                page.built = buildDocument(written.html, written.margins, resources, target,
                                           limits.maxHeight, *work, proved);
            }
            if (page.built.document && owner != QThread::currentThread())
                page.built.document->moveToThread(owner);
            return page;
        },
        [this, withImages, shownWithoutImages](BuiltPage& page) {
            if (!page.built.document)
                return; // dropped with the program's end
            m_styled = std::move(page.styled);
            // The pictures its boxes' backgrounds name are known only once
            // it is styled: loaded now, within the time and caps left to
            // the page's resources, and drawn in the write that follows.
            if (!shownWithoutImages && m_resourceDeadline->isActive()) {
                for (const QUrl& url : std::as_const(page.backgroundImages))
                    want(Resource::Image, url, 0);
                startTransfers();
            }
            const bool complete = withImages && m_pending == 0;
            if (withImages && !complete)
                m_imagesBuilt = false; // written again when they are in
            if (complete)
                finish();
            LoadedPage loaded{std::move(page.built), m_pageUrl, m_markup.links, complete,
                              shownWithoutImages};
            m_ready(loaded);
        });
}

void PageLoader::retirePieces()
{
    retireShared(std::exchange(m_markup.document, {}));
    retireShared(std::exchange(m_styled, {}));
}

void PageLoader::finish()
{
    m_loading = false;
    m_resourceDeadline->stop();
    // Written for the last time: its tree and styles are not needed any more.
    retirePieces();
#ifdef __GLIBC__
    // The page thread's own heap keeps what they and the page's writes
    // took, freed, for the next page; a page may not come for the rest of
    // the program's life. Given back once they are gone.
    QMetaObject::invokeMethod(
        pageThread(), [] { malloc_trim(0); }, Qt::QueuedConnection);
#endif
}

void PageLoader::fail()
{
    const QUrl requested = m_requested;
    stop();
    m_failed(requested);
}

} // namespace mizong::page
