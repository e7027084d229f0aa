#include "page_accessible.h"

#include "page_browser.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <memory>

namespace mizong {

namespace {

using namespace Qt::StringLiterals;

// A link of the shown page: where its text stands in the document.
struct LinkSpan
{
    int index = 0;
    int start = 0;
    int end = 0;
};

QList<LinkSpan> linkSpans(const PageBrowser& browser)
{
    QList<LinkSpan> spans;
    const QTextDocument* document = browser.document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (!format.isAnchor())
                continue;
            const std::optional<int> index = browser.linkAt(format.anchorHref());
            if (!index)
                continue;
            const int end = fragment.position() + fragment.length();
            // One link may be cut into fragments by its formats.
            if (!spans.isEmpty() && spans.last().index == *index &&
                spans.last().end == fragment.position())
                spans.last().end = end;
            else
                spans.append({*index, fragment.position(), end});
        }
    }
    return spans;
}

// The on-screen rectangle of a span of the document's text.
QRect screenRect(const PageBrowser& browser, int start, int end)
{
    const QTextDocument* document = browser.document();
    QRectF area;
    for (QTextBlock block = document->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        const QTextLayout* layout = block.layout();
        const QPointF origin = document->documentLayout()->blockBoundingRect(block).topLeft();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const int lineStart = block.position() + line.textStart();
            const int lineEnd = lineStart + line.textLength();
            if (lineEnd < start || lineStart > end)
                continue;
            const qreal x1 = line.cursorToX(qMax(start, lineStart) - block.position());
            const qreal x2 = line.cursorToX(qMin(end, lineEnd) - block.position());
            area |= QRectF(origin.x() + qMin(x1, x2), origin.y() + line.y(), qAbs(x2 - x1),
                           line.height());
        }
    }
    const QPoint scrolled(browser.horizontalScrollBar()->value(),
                          browser.verticalScrollBar()->value());
    const QRect local = area.toAlignedRect().translated(-scrolled);
    return QRect(browser.viewport()->mapToGlobal(local.topLeft()), local.size());
}

class PageLinkAccessible final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    PageLinkAccessible(PageBrowser* browser, LinkSpan span) : m_browser(browser), m_span(span) {}

    bool isValid() const override { return m_browser; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override
    {
        return m_browser ? m_browser->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override
    {
        return m_browser ? QAccessible::queryAccessibleInterface(m_browser) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }

    QString text(QAccessible::Text kind) const override
    {
        if (!m_browser)
            return {};
        switch (kind) {
        case QAccessible::Name: {
            QTextCursor cursor(m_browser->document());
            cursor.setPosition(m_span.start);
            cursor.setPosition(m_span.end, QTextCursor::KeepAnchor);
            return cursor.selectedText().simplified();
        }
        case QAccessible::Description:
            return m_span.index < m_browser->links().size()
                       ? m_browser->links().at(m_span.index).url.toDisplayString()
                       : QString();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        return m_browser ? screenRect(*m_browser, m_span.start, m_span.end) : QRect();
    }
    QAccessible::Role role() const override { return QAccessible::Link; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.linked = true;
        state.focusable = true;
        state.selectable = true;
        if (m_browser) {
            const QTextCursor cursor = m_browser->textCursor();
            state.focused = m_browser->hasFocus() && cursor.hasSelection() &&
                            cursor.selectionStart() == m_span.start;
            state.invisible = !m_browser->isVisible();
        }
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (m_browser && name == pressAction())
            m_browser->activateLink(m_span.index);
    }
    QStringList keyBindingsForAction(const QString& name) const override
    {
        return name == pressAction() ? QStringList{u"Return"_s} : QStringList{};
    }

private:
    QPointer<PageBrowser> m_browser;
    LinkSpan m_span;
};

class PageAccessible final : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit PageAccessible(PageBrowser* browser)
        : QAccessibleWidget(browser, QAccessible::Document)
    {}
    ~PageAccessible() override { forgetLinks(); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        return state;
    }

    int childCount() const override { return int(links().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QList<QAccessible::Id>& ids = links();
        return index >= 0 && index < ids.size() ? QAccessible::accessibleInterface(ids.at(index))
                                                : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? int(links().indexOf(
                           QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child))))
                     : -1;
    }
    QAccessibleInterface* focusChild() const override
    {
        for (int i = 0; i < childCount(); ++i) {
            if (QAccessibleInterface* link = child(i); link && link->state().focused)
                return link;
        }
        return nullptr;
    }

    // The document's text, as the page shows it.
    QString text(int start, int end) const override { return plainText().mid(start, end - start); }
    int characterCount() const override { return int(plainText().size()); }
    void selection(int index, int* start, int* end) const override
    {
        const QTextCursor cursor = browser()->textCursor();
        *start = *end = 0;
        if (index == 0 && cursor.hasSelection()) {
            *start = cursor.selectionStart();
            *end = cursor.selectionEnd();
        }
    }
    int selectionCount() const override { return browser()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override
    {
        QTextCursor cursor = browser()->textCursor();
        cursor.clearSelection();
        browser()->setTextCursor(cursor);
    }
    void setSelection(int, int start, int end) override
    {
        QTextCursor cursor = browser()->textCursor();
        cursor.setPosition(clamped(start));
        cursor.setPosition(clamped(end), QTextCursor::KeepAnchor);
        browser()->setTextCursor(cursor);
    }
    int cursorPosition() const override { return browser()->textCursor().position(); }
    void setCursorPosition(int position) override
    {
        QTextCursor cursor = browser()->textCursor();
        cursor.setPosition(clamped(position));
        browser()->setTextCursor(cursor);
    }
    QRect characterRect(int offset) const override
    {
        return screenRect(*browser(), clamped(offset), clamped(offset + 1));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = browser()->viewport()->mapFromGlobal(point) +
                             QPoint(browser()->horizontalScrollBar()->value(),
                                    browser()->verticalScrollBar()->value());
        return browser()->document()->documentLayout()->hitTest(local, Qt::FuzzyHit);
    }
    void scrollToSubstring(int start, int end) override
    {
        setSelection(0, start, end);
        browser()->ensureCursorVisible();
    }
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        Q_UNUSED(offset);
        return {};
    }

private:
    PageBrowser* browser() const { return static_cast<PageBrowser*>(widget()); }
    int clamped(int offset) const { return qBound(0, offset, characterCount()); }

    QString plainText() const
    {
        refresh();
        return m_text;
    }

    const QList<QAccessible::Id>& links() const
    {
        refresh();
        return m_links;
    }

    // What is read follows the page shown.
    void refresh() const
    {
        const QTextDocument* document = browser()->document();
        if (m_document == document && m_revision == document->revision())
            return;
        auto* self = const_cast<PageAccessible*>(this);
        self->forgetLinks();
        self->m_document = document;
        self->m_revision = document->revision();
        self->m_text = document->toPlainText();
        for (const LinkSpan& span : linkSpans(*browser()))
            self->m_links.append(
                QAccessible::registerAccessibleInterface(new PageLinkAccessible(browser(), span)));
    }

    void forgetLinks()
    {
        for (QAccessible::Id id : std::as_const(m_links))
            QAccessible::deleteAccessibleInterface(id);
        m_links.clear();
    }

    QPointer<const QTextDocument> m_document;
    int m_revision = -1;
    QString m_text;
    QList<QAccessible::Id> m_links;
};

} // namespace

QAccessibleInterface* pageAccessibleFor(QObject* object)
{
    if (auto* browser = qobject_cast<PageBrowser*>(object))
        return new PageAccessible(browser);
    return nullptr;
}

} // namespace mizong
