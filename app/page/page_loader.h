#pragma once

#include "page_document.h"
#include "page_fetch.h"
#include "page_markup.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

class QTextDocument;
class QTimer;

namespace mizong::page {

struct LoaderLimits
{
    // Each transfer's, and the page's resources' together, counted from the
    // page's arrival: a slow image never holds the text back longer.
    FetchLimits fetch;
    MarkupLimits markup;
    // Per image, as its header declares it, and for all of a page's images.
    qint64 maxImagePixels = 4096 * 1024;
    qint64 maxPagePixels = 16 * 1024 * 1024;
    // Transfers under way at once, as a browser keeps per host.
    int maxTransfers = 6;
    // How deep style sheets may import one another.
    int maxImportDepth = 4;
    // Redirects that a page's resources follow together, each within the
    // fetch's own rules: 64 pictures that redirect without end would
    // otherwise cost 64 times 51 requests. Each transfer under way holds an
    // equal share of them, given back as far as unused.
    int maxResourceRedirects = 64;
    // The page thread's time for one page, all its pieces together: past it
    // the page is dropped and its address shown, as for a page that failed.
    std::chrono::milliseconds pageWork{15000};
};

// A page ready to show.
struct LoadedPage
{
    BuiltDocument built;
    // The page's address after redirects, and its links by index.
    QUrl url;
    QList<PageLink> links;
    // Nothing more comes for this address: its images are in, or none are.
    bool complete = false;
    // The same page as the last one given, now with its images.
    bool update = false;
};

// Loads one address at a time for a page view: the page, its style sheets and
// its images through the program's own fetch, decoded, bounded and laid out
// on the page thread. The window's thread only starts transfers and takes
// finished documents, usually twice a page: first without its images if
// they are still coming (or its boxes' background pictures, which only its
// cascade names), then with them.
class PageLoader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageLoader)

public:
    using Ready = std::function<void(LoadedPage& page)>;
    using Failed = std::function<void(const QUrl& requested)>;

    PageLoader(Ready ready, Failed failed, QObject* parent = nullptr);
    ~PageLoader() override;

    void setLimits(const LoaderLimits& limits) { m_limits = limits; }
    const LoaderLimits& limits() const { return m_limits; }

    // Starts loading `url` for a view laid out as `target`, dropping any
    // load under way.
    void load(const QUrl& url, const LayoutTarget& target);
    void stop();
    bool isLoading() const { return m_loading; }

private:
    enum class Resource
    {
        StyleSheet,
        Image
    };
    struct Wanted
    {
        Resource kind;
        QUrl url;
        int depth = 0;
    };

    // The view the page's style sheets are read for.
    ViewMetrics viewMetrics() const;
    void pageArrived(const PageResult& result);
    void startTransfer(const Wanted& wanted);
    void markupPrepared(PreparedMarkup prepared);
    void want(Resource kind, const QUrl& url, int depth);
    void startTransfers();
    void resourceArrived(const Wanted& wanted, const PageResult& result);
    void styleSheetPrepared(const Wanted& wanted, PreparedStyleSheet& sheet);
    void imageDecoded(const QUrl& url, const QImage& image);
    void settled();
    void resourcesTimedOut();
    void build(bool withImages);
    // Nothing more comes for the page: its pieces are let go.
    void finish();
    // Its tree and styles, freed on the page thread.
    void retirePieces();
    void fail();
    // Runs `job` on the page thread as a piece of the page's work; `done`
    // back on this object's thread, unless the load it belongs to was
    // dropped meanwhile. A page over its time fails instead.
    template <typename Result>
    void onPageThread(std::function<Result()> job, std::function<void(Result&)> done);

    Ready m_ready;
    Failed m_failed;
    LoaderLimits m_limits;

    // Each load's number; what a dropped load leaves in flight is ignored.
    quint64 m_generation = 0;
    bool m_loading = false;
    QUrl m_requested;
    LayoutTarget m_target;
    QUrl m_pageUrl;
    QByteArray m_pageEncoding;
    std::shared_ptr<PageWork> m_work;
    PreparedMarkup m_markup;
    // Its cascade, once worked out for its first write.
    std::shared_ptr<const StyledPage> m_styled;
    PageResources m_resources;
    qint64 m_pagePixels = 0;
    // Style sheets' text and rules taken, <style> elements included.
    qsizetype m_styleChars = 0;
    int m_styleRules = 0;
    // The loaded sheets by address, which the page's cascade reads.
    QHash<QUrl, PreparedStyleSheet> m_sheets;
    int m_redirectsLeft = 0;

    std::deque<Wanted> m_waiting;
    QSet<QUrl> m_seen;
    int m_listed = 0;
    QList<PageFetch*> m_transfers;
    // Transfers and decodes not yet settled.
    int m_pending = 0;
    int m_pendingStyleSheets = 0;
    bool m_textShown = false;
    bool m_imagesBuilt = false;
    QTimer* m_resourceDeadline = nullptr;
};

// Deletes a document no view shows any more on the page thread, where a large
// one's teardown costs the window's thread nothing.
void retire(std::unique_ptr<QTextDocument> document);

// Drops every page's work for good, as the program ends, and waits up to
// `wait` for the page thread to be idle; false when it is still in a step
// that cannot be interrupted (one of Qt's own, on a heavy page).
bool endPageWork(std::chrono::milliseconds wait);

} // namespace mizong::page
