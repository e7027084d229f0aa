#include "page_browser.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

namespace mizong {

using namespace Qt::StringLiterals;

PageBrowser::PageBrowser(QWidget* parent)
    : QTextBrowser(parent),
      m_loader(new page::PageLoader([this](page::LoadedPage& page) { showPage(page); },
                                    [this](const QUrl& url) { showAddress(url); }, this)),
      m_warmer(new QTimer(this))
{
    // Whenever the window is idle, until the shown page's text is measured.
    m_warmer->setInterval(0);
    connect(m_warmer, &QTimer::timeout, this, &PageBrowser::warmUp);
    // Links are ours to follow (linkClicked); the text engine never opens
    // or reads an address itself.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setUndoRedoEnabled(false);
    setFrameShape(QFrame::NoFrame);
    // A browser's default text size (16 px) in the window's sans serif: a
    // page that names no font of its own reads as in the user's browser.
    QFont text(QStringLiteral("微软雅黑"));
    text.setPixelSize(16);
#ifdef Q_OS_WIN
    // Browsers on Windows place glyphs at their design widths, hinted only
    // vertically. Qt's default there is GDI's whole-pixel advances: digits
    // come out wider, and a table's columns are shared out otherwise than the
    // author saw them. This hint makes Qt take DirectWrite's design metrics
    // for the page's text (and its fallbacks), measured and drawn alike.
    text.setHintingPreference(QFont::PreferVerticalHinting);
#endif
    setFont(text);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_textCursor = viewport()->cursor();
    connect(this, &QTextBrowser::anchorClicked, this, &PageBrowser::linkClicked);
    connect(this, qOverload<const QUrl&>(&QTextBrowser::highlighted), this,
            &PageBrowser::linkHovered);
}

PageBrowser::~PageBrowser()
{
    // The view lets go of the document before it goes.
    dropPending();
    m_warmer->stop();
    m_warmUp.reset();
    setDocument(nullptr);
}

void PageBrowser::setLoaderLimits(const page::LoaderLimits& limits)
{
    m_loader->setLimits(limits);
}

void PageBrowser::navigate(const QUrl& url)
{
    m_back.clear();
    m_forward.clear();
    open(url);
}

void PageBrowser::open(const QUrl& url)
{
    // What the last address brought and is not shown yet is not wanted now.
    dropPending();
    m_requested = url;
    m_loader->load(url, layoutTarget());
}

page::LayoutTarget PageBrowser::layoutTarget() const
{
    page::LayoutTarget target;
    target.font = document()->defaultFont();
    target.textOption = document()->defaultTextOption();
    // As the scroll area lays out its bar: beside the viewport, when shown.
    const int bar = verticalScrollBar()->sizeHint().width();
    target.width = viewport()->width() + (verticalScrollBar()->isVisible() ? bar : 0);
    target.height = viewport()->height();
    target.scrollBarWidth = bar;
    target.devicePixelRatio = devicePixelRatioF();
    return target;
}

void PageBrowser::showPage(page::LoadedPage& page)
{
    if (!page.built.document) {
        // Nothing new to draw: the page shown, or about to be, is whole.
        if (m_pending)
            m_pending->complete = m_pending->complete || page.complete;
        else if (page.complete)
            emit pageShown();
        return;
    }
    // A page not shown yet gives way to the same page written again.
    if (m_pending) {
        page.update = m_pending->update;
        page::retire(std::move(m_pending->built.document));
    }
    // The glyphs of what the view shows first are measured before the page
    // is taken, a slice at a time: its first paint, in the same event as the
    // taking, would measure each of them, then draw it. A few it measures
    // sooner than a walk before it would.
    constexpr int kFirstScreenChars = 8 * 1024;
    const int top = page.update ? verticalScrollBar()->value() : 0;
    const QAbstractTextDocumentLayout* layout = page.built.document->documentLayout();
    const int from = qMax(0, layout->hitTest(QPointF(0, top), Qt::FuzzyHit));
    const int to =
        layout->hitTest(QPointF(viewport()->width(), top + viewport()->height()), Qt::FuzzyHit);
    const int end = from + qBound(0, to - from, kFirstScreenChars) + page::kMaxTextRun;
    m_warmer->stop();
    if (page::TextWarmUp::fewGlyphs(*page.built.document, from, end)) {
        m_pending.reset();
        present(page);
        return;
    }
    m_warmUp.emplace(*page.built.document, from, end - from, page::TextWarmUp::Shaping::Keep);
    m_pending = std::move(page);
    // A page whose first screen is measured within one slice is taken at once.
    warmUp();
    if (m_pending)
        m_warmer->start();
}

void PageBrowser::present(page::LoadedPage& page)
{
    // The same page again, now with its images: where the reader was.
    const int scrolled = page.update ? verticalScrollBar()->value() : 0;
    m_shown = page.url;
    m_links = page.links;
    adopt(std::move(page.built.document), page.built.needsScrollBar);
    verticalScrollBar()->setValue(scrolled);
    // A fragment never reaches the server: the address asked for has it.
    if (!page.update && m_requested.hasFragment())
        scrollToAnchor(m_requested.fragment());
    if (page.complete)
        emit pageShown();
}

void PageBrowser::dropPending()
{
    if (!m_pending)
        return;
    m_warmer->stop();
    m_warmUp.reset();
    page::retire(std::move(m_pending->built.document));
    m_pending.reset();
}

// The view takes a document laid out for it without laying it out again: the
// scroll bar it was laid out beside is there before the document is.
void PageBrowser::adopt(std::unique_ptr<QTextDocument> document, bool needsScrollBar)
{
    m_warmer->stop();
    m_warmUp.reset();
    setVerticalScrollBarPolicy(needsScrollBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setDocument(document.get());
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    page::retire(std::exchange(m_document, std::move(document)));
    // A document already laid out tells the view of no change, so the view
    // would keep the last page's pixels.
    viewport()->update();
    // The rest of its text walked once it is on screen.
    m_warmUp.emplace(*m_document);
}

void PageBrowser::paintEvent(QPaintEvent* event)
{
    QTextBrowser::paintEvent(event);
    if (m_warmUp && !m_warmer->isActive())
        m_warmer->start();
}

void PageBrowser::warmUp()
{
    // Slices well within the 16 ms the window's thread may be held, also
    // with a paint after one in the same pass of the event loop: the first
    // screen of a page waiting to be shown (one of many glyphs) in a few,
    // the rest of the shown one while the window idles in short ones, so
    // that scrolling stays smooth.
    using namespace std::chrono_literals;
    if (m_warmUp && m_warmUp->step(m_pending ? 4ms : 1ms))
        return;
    m_warmer->stop();
    m_warmUp.reset();
    if (m_pending) {
        page::LoadedPage page = std::move(*m_pending);
        m_pending.reset();
        present(page);
    }
}

void PageBrowser::showAddress(const QUrl& url)
{
    dropPending();
    auto document = std::make_unique<QTextDocument>();
    document->setDefaultFont(this->document()->defaultFont());
    document->setPlainText(url.toDisplayString());
    m_shown = QUrl();
    m_links.clear();
    adopt(std::move(document), false);
    emit pageShown();
}

std::optional<int> PageBrowser::linkAt(const QString& anchor) const
{
    const std::optional<int> index = page::linkIndex(QUrl(anchor));
    if (!index || *index < 0 || *index >= m_links.size())
        return std::nullopt;
    return index;
}

void PageBrowser::linkClicked(const QUrl& href)
{
    if (const std::optional<int> index = linkAt(href.toString()))
        activateLink(*index);
}

void PageBrowser::activateLink(int index)
{
    if (index < 0 || index >= m_links.size())
        return;
    const page::PageLink& link = m_links.at(index);
    switch (page::linkAction(link, m_homeSite)) {
    case page::LinkAction::InsideView: {
        // A mark on the page shown: only a scroll.
        if (link.url.hasFragment() &&
            link.url.adjusted(QUrl::RemoveFragment) == m_shown.adjusted(QUrl::RemoveFragment)) {
            scrollToAnchor(link.url.fragment());
            return;
        }
        if (m_shown.isValid())
            m_back.append(m_shown);
        m_forward.clear();
        open(link.url);
        return;
    }
    case page::LinkAction::Browser:
        emit openExternally(link.url);
        return;
    case page::LinkAction::Nothing:
        return;
    }
}

void PageBrowser::backward()
{
    if (m_back.isEmpty())
        return;
    if (m_shown.isValid())
        m_forward.append(m_shown);
    open(m_back.takeLast());
}

void PageBrowser::forward()
{
    if (m_forward.isEmpty())
        return;
    if (m_shown.isValid())
        m_back.append(m_shown);
    open(m_forward.takeLast());
}

void PageBrowser::linkHovered(const QUrl& href)
{
    // After the text browser's own choice, which is the platform's hand.
    if (href.isEmpty())
        viewport()->setCursor(m_textCursor);
    else
        viewport()->setCursor(m_linkCursor ? m_linkCursor() : QCursor(Qt::PointingHandCursor));
}

QVariant PageBrowser::loadResource(int, const QUrl&)
{
    return {};
}

bool PageBrowser::event(QEvent* event)
{
    // The text engine would show a page's title attribute as rich text, on
    // this thread, through an importer that reads local files and has no
    // limits.
    if (event->type() == QEvent::ToolTip) {
        showTitle(*static_cast<QHelpEvent*>(event));
        return true;
    }
    return QTextBrowser::event(event);
}

// The title under the pointer as the plain text it is, its length bounded.
void PageBrowser::showTitle(const QHelpEvent& event)
{
    constexpr qsizetype kMaxTitle = 1024;
    const QPoint inViewport = viewport()->mapFrom(this, event.pos());
    QString title = cursorForPosition(inViewport).charFormat().toolTip();
    if (title.size() > kMaxTitle) {
        title.truncate(kMaxTitle);
        if (title.back().isHighSurrogate())
            title.chop(1);
        title += u'…';
    }
    if (title.trimmed().isEmpty()) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(event.globalPos(), Qt::convertFromPlainText(title, Qt::WhiteSpaceNormal),
                       this);
}

bool PageBrowser::hasAnchors() const
{
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor())
                return true;
        }
    }
    return false;
}

void PageBrowser::focusInEvent(QFocusEvent* event)
{
    QTextBrowser::focusInEvent(event);
    // Tab comes to the page's first link and Shift+Tab to its last, as in a
    // browser; a page without links keeps the focus for its scrolling keys.
    const bool tab = event->reason() == Qt::TabFocusReason;
    if ((tab || event->reason() == Qt::BacktabFocusReason) && hasAnchors()) {
        QTextCursor cursor = textCursor();
        cursor.clearSelection();
        cursor.movePosition(tab ? QTextCursor::Start : QTextCursor::End);
        setTextCursor(cursor);
        focusNextPrevChild(tab);
    }
}

void PageBrowser::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    if (!menu)
        return;
    // The link's own address, not the view's name for it.
    if (auto* copyLink = menu->findChild<QAction*>(u"link-copy"_s)) {
        const std::optional<int> index = linkAt(anchorAt(event->pos()));
        if (index) {
            disconnect(copyLink, nullptr, nullptr, nullptr);
            connect(copyLink, &QAction::triggered, this, [url = m_links.at(*index).url] {
                QGuiApplication::clipboard()->setText(url.toString());
            });
        } else {
            menu->removeAction(copyLink);
        }
    }
    menu->exec(event->globalPos());
}

} // namespace mizong
