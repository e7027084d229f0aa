#include "page_document.h"

#include <QBuffer>
#include <QImageReader>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextList>
#include <QThread>

#include <private/qtextdocumentlayout_p.h>
#include <private/qtextengine_p.h>

namespace mizong::page {

namespace {

// Beyond any page the markup caps let through, within the range of Qt's
// fixed-point layout coordinates.
constexpr qreal kWholeDocument = 3.0e7;

// Qt lays a paragraph out, and shapes it again whenever it is drawn, as a
// whole: a page-long paragraph would cost the window's thread that much on
// every paint. Past this many characters a paragraph goes on in a block of
// its own, with no space between: a line break, nothing else.
constexpr int kMaxParagraph = 4096;

void boundParagraphs(QTextDocument& document)
{
    QTextCursor cursor(&document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.length() <= kMaxParagraph)
            continue;
        int cut = kMaxParagraph;
        // Not inside a surrogate pair.
        if (document.characterAt(block.position() + cut - 1).isHighSurrogate())
            --cut;
        const QTextBlockFormat whole = block.blockFormat();
        QTextBlockFormat head = whole;
        head.setBottomMargin(0);
        // The rest is no list item of its own, indented as the item is.
        QTextBlockFormat rest = whole;
        rest.setTopMargin(0);
        if (const QTextList* list = block.textList()) {
            rest.setObjectIndex(-1);
            rest.setIndent(whole.indent() + list->format().indent());
        }
        cursor.setPosition(block.position());
        cursor.setBlockFormat(head);
        cursor.setPosition(block.position() + cut);
        cursor.insertBlock(rest, cursor.charFormat());
        // The loop goes on with the rest, now the next block.
    }
}

// Everything a page may refer to is added to its document beforehand. Qt's
// own loader would otherwise read local files and compiled-in resources by
// whatever names the page chose.
class PageDocument final : public QTextDocument
{
public:
    PageDocument() = default;

protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

// Qt's layout, done once and completely on the page's thread. A text view
// lays its document out again whenever it takes it, for the width it has;
// at the width, font and options this one was laid out for, that would only
// repeat the work on the window's thread.
class SettledLayout final : public QTextDocumentLayout
{
public:
    explicit SettledLayout(QTextDocument* document) : QTextDocumentLayout(document) {}

    void settle()
    {
        m_width = document()->pageSize().width();
        m_font = document()->defaultFont();
        m_option = document()->defaultTextOption();
    }

protected:
    void documentChanged(int from, int oldLength, int length) override
    {
        const QTextDocument* doc = document();
        const bool wholeAgain = from == 0 && oldLength == 0 && length == doc->characterCount();
        if (wholeAgain && m_width >= 0 && doc->pageSize().width() == m_width &&
            doc->defaultFont() == m_font && sameOption(doc->defaultTextOption())) {
            return;
        }
        m_width = -1;
        QTextDocumentLayout::documentChanged(from, oldLength, length);
    }

private:
    bool sameOption(const QTextOption& option) const
    {
        return option.wrapMode() == m_option.wrapMode() &&
               option.alignment() == m_option.alignment() &&
               option.textDirection() == m_option.textDirection() &&
               option.flags() == m_option.flags() &&
               option.tabStopDistance() == m_option.tabStopDistance();
    }

    qreal m_width = -1;
    QFont m_font;
    QTextOption m_option;
};

} // namespace

BuiltDocument buildDocument(const QString& html, const PageResources& resources,
                            const LayoutTarget& target, QThread* owner)
{
    auto document = std::make_unique<PageDocument>();
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(target.font);
    document->setDefaultTextOption(target.textOption);
    for (auto it = resources.styleSheets.cbegin(); it != resources.styleSheets.cend(); ++it)
        document->addResource(QTextDocument::StyleSheetResource, it.key(), it.value());
    for (auto it = resources.images.cbegin(); it != resources.images.cend(); ++it)
        document->addResource(QTextDocument::ImageResource, it.key(), it.value());
    document->setHtml(html);
    boundParagraphs(*document);
    // Only now: a layout would follow every change above as it is made.
    auto* layout = new SettledLayout(document.get());
    document->setDocumentLayout(layout);

    // Whole pixels, as the view sets its width.
    auto layOut = [&](qreal width) {
        document->setTextWidth(qMax(qreal(1), qreal(qRound(width))));
        layout->ensureLayouted(kWholeDocument);
        return layout->documentSize().height();
    };
    BuiltDocument built;
    if (layOut(target.width) > target.height && target.scrollBarWidth > 0) {
        layOut(target.width - target.scrollBarWidth);
        built.needsScrollBar = true;
    }
    layout->settle();
    // Each paragraph remembers the last font engine it shaped with: one of
    // this thread's. The window's thread shapes again with its own, never
    // with an engine this thread may be using for the next page meanwhile.
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (QTextLayout* text = block.layout())
            text->engine()->resetFontEngineCache();
    }
    if (owner && owner != QThread::currentThread())
        document->moveToThread(owner);
    built.document = std::move(document);
    return built;
}

QImage decodeImage(const QByteArray& bytes, qint64 maxPixels)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    // What the header declares, before a pixel is decoded; a format that
    // cannot say is not decoded at all.
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty() ||
        qint64(declared.width()) * declared.height() > maxPixels) {
        return {};
    }
    QImage image;
    if (!reader.read(&image) || image.size() != declared)
        return {};
    return image;
}

} // namespace mizong::page
