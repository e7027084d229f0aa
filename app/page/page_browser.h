#pragma once

#include "page_loader.h"

#include <QCursor>
#include <QHelpEvent>
#include <QList>
#include <QTextBrowser>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace mizong {

// The announcement page, drawn by Qt's own rich text: no scripts, no
// plug-ins, no browser engine, nothing kept on disk. Everything the page
// needs comes through the page loader, and the only way out of it is a link
// the user activates.
class PageBrowser final : public QTextBrowser
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageBrowser)

public:
    explicit PageBrowser(QWidget* parent = nullptr);
    ~PageBrowser() override;

    // Starts loading the address; nothing waits for it or looks at its outcome.
    void navigate(const QUrl& url);

    // The site whose pages open inside the view.
    void setHomeSite(const QUrl& site) { m_homeSite = site; }
    // The pointer over a link, asked for each time: it follows the screen.
    void setLinkCursor(std::function<QCursor()> cursor) { m_linkCursor = std::move(cursor); }
    void setLoaderLimits(const page::LoaderLimits& limits);

    // The shown page's address after redirects; empty while none is shown.
    QUrl pageUrl() const { return m_shown; }
    // The shown page's links, in the order of their text.
    const QList<page::PageLink>& links() const { return m_links; }
    // What a click on link `index` does.
    void activateLink(int index);
    // The link an anchor of the document stands for.
    std::optional<int> linkAt(const QString& anchor) const;

public slots:
    void backward() override;
    void forward() override;

signals:
    // For the user's browser: a link with a target of its own, or to another site.
    void openExternally(const QUrl& url);
    // The last navigation ended: its page is shown whole, or its address in its place.
    void pageShown();

protected:
    // Nothing is read from anywhere but what the page loader brought.
    QVariant loadResource(int type, const QUrl& name) override;
    bool event(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void open(const QUrl& url);
    void showPage(page::LoadedPage& page);
    void present(page::LoadedPage& page);
    void dropPending();
    void showTitle(const QHelpEvent& event);
    void showAddress(const QUrl& url);
    void adopt(std::unique_ptr<QTextDocument> document, bool needsScrollBar);
    void linkClicked(const QUrl& href);
    void linkHovered(const QUrl& href);
    page::LayoutTarget layoutTarget() const;
    bool hasAnchors() const;

    void warmUp();

    page::PageLoader* m_loader = nullptr;
    QTimer* m_warmer = nullptr;
    std::optional<page::TextWarmUp> m_warmUp;
    // A page built and taken, the glyphs it shows first being measured.
    std::optional<page::LoadedPage> m_pending;
    std::unique_ptr<QTextDocument> m_document;
    QUrl m_homeSite;
    std::function<QCursor()> m_linkCursor;
    QCursor m_textCursor;
    QList<page::PageLink> m_links;
    QUrl m_shown;
    QUrl m_requested;
    QList<QUrl> m_back;
    QList<QUrl> m_forward;
};

} // namespace mizong
