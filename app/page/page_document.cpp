#include "page_document.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QImageReader>
#include <QSet>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextList>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <optional>
#include <private/qtextdocumentlayout_p.h>
#include <private/qtextengine_p.h>

namespace mizong::page {

namespace {

std::atomic<bool> g_allDropped{false};

// Qt lays a paragraph out, and reads it again whenever it is drawn (its
// scripts, where its lines may break), as a whole: a page-long paragraph
// would cost the window's thread that much on every paint. Past this many
// characters a paragraph goes on in a block of its own, with no space
// between: a line break, nothing else.
constexpr int kMaxParagraph = 4096;

// Qt's importer draws <h1>..<h6>, <big> and <small> at its own scale of the
// default size even where the page gives them a size of their own: a title
// asked for at 14 px came out at 24. The page's size wins, as in browsers.
bool authorSizesWin(QTextDocument& document, const PageWork& work)
{
    struct Run
    {
        int position;
        int length;
        QTextCharFormat format;
    };
    QList<Run> runs;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (work.isDropped())
            return false;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            if (!format.hasProperty(QTextFormat::FontSizeAdjustment) ||
                !(format.hasProperty(QTextFormat::FontPixelSize) ||
                  format.hasProperty(QTextFormat::FontPointSize))) {
                continue;
            }
            format.clearProperty(QTextFormat::FontSizeAdjustment);
            runs.append({fragment.position(), fragment.length(), format});
        }
    }
    QTextCursor cursor(&document);
    for (const Run& run : std::as_const(runs)) {
        cursor.setPosition(run.position);
        cursor.setPosition(run.position + run.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(run.format);
    }
    return true;
}

bool boundParagraphs(QTextDocument& document, const PageWork& work)
{
    QTextCursor cursor(&document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (work.isDropped())
            return false;
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
    return true;
}

// Qt shapes a paragraph's text a run at a time, a run being as long as its
// format and script last, up to 4096 characters; whatever draws or measures
// a line shapes every run the line is in, whole, on the window's thread.
// Runs are cut by a mark in their format that nothing reads, so that a line
// costs about what it shows. The mark, on every other piece: neighbouring
// pieces stay apart.
constexpr int kRunMark = QTextFormat::UserProperty + 1;

// Where a run of `text` is cut: at most kMaxTextRun characters apart, where a
// line may break (no letters join or kern across there), else between two
// characters as the reader sees them.
QList<int> runCuts(const QString& text)
{
    QList<int> cuts;
    if (text.size() <= kMaxTextRun)
        return cuts;
    QTextBoundaryFinder lines(QTextBoundaryFinder::Line, text);
    // Only for text with few places to break, as most has many.
    std::optional<QTextBoundaryFinder> characters;
    for (qsizetype from = 0; text.size() - from > kMaxTextRun;) {
        const qsizetype limit = from + kMaxTextRun;
        lines.setPosition(limit + 1);
        qsizetype cut = lines.toPreviousBoundary();
        if (cut <= from + kMaxTextRun / 2) {
            if (!characters)
                characters.emplace(QTextBoundaryFinder::Grapheme, text);
            characters->setPosition(limit + 1);
            cut = characters->toPreviousBoundary();
            // One character longer than a run: whole.
            if (cut <= from) {
                characters->setPosition(limit);
                cut = characters->toNextBoundary();
            }
        }
        if (cut <= from || cut >= text.size())
            break;
        cuts.append(int(cut));
        from = cut;
    }
    return cuts;
}

bool boundRuns(QTextDocument& document, const PageWork& work)
{
    // Every other piece of each long fragment, as document positions.
    QList<std::pair<int, int>> marked;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (work.isDropped())
            return false;
        if (block.length() <= kMaxTextRun)
            continue;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QList<int> cuts = runCuts(fragment.text());
            for (qsizetype i = 0; i < cuts.size(); i += 2) {
                const int end = i + 1 < cuts.size() ? cuts.at(i + 1) : fragment.length();
                marked.append({fragment.position() + cuts.at(i), fragment.position() + end});
            }
        }
    }
    QTextCharFormat mark;
    mark.setProperty(kRunMark, true);
    QTextCursor cursor(&document);
    // One change told for them all, not one for each piece.
    cursor.beginEditBlock();
    for (const auto& [start, end] : std::as_const(marked)) {
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(mark);
    }
    cursor.endEditBlock();
    return true;
}

// The height a page's layout takes, guessed from the document before any
// layout, on the high side: every block's margins and lines one above the
// other (table cells too, as if a single column), every picture's height,
// every frame's edges. Qt's layout never ends on a document past about
// 8.4 million pixels, so what would lie below the bound is cut beforehand.
class HeightBound
{
public:
    HeightBound(QTextDocument& document, const LayoutTarget& target, qreal bound,
                const PageWork& work)
        : m_document(document), m_target(target), m_bound(bound), m_work(work)
    {}

    // False when the work was dropped meanwhile.
    bool apply()
    {
        const std::optional<int> cut = walk(m_document.rootFrame());
        if (m_work.isDropped())
            return false;
        if (cut)
            cutAt(*cut);
        return true;
    }

private:
    static qreal positive(qreal value) { return std::isfinite(value) ? qMax(qreal(0), value) : 0; }

    // The text's size in pixels, as Qt resolves it against the view's font.
    qreal pixelSize(const QTextCharFormat& format) const
    {
        qreal pixels = m_target.font.pixelSize() > 0 ? m_target.font.pixelSize()
                                                     : m_target.font.pointSizeF() * 96 / 72;
        if (format.hasProperty(QTextFormat::FontPixelSize))
            pixels = format.intProperty(QTextFormat::FontPixelSize);
        else if (format.hasProperty(QTextFormat::FontPointSize))
            pixels = format.fontPointSize() * 96 / 72;
        // Headings: Qt scales their text by up to twice.
        const int adjustment = format.intProperty(QTextFormat::FontSizeAdjustment);
        return positive(pixels) * (adjustment > 0 ? 1 + 0.4 * adjustment : 1);
    }

    qreal imageHeight(const QTextImageFormat& image) const
    {
        if (image.height() > 0)
            return image.height();
        const QVariant resource =
            m_document.resource(QTextDocument::ImageResource, QUrl(image.name()));
        return resource.canConvert<QImage>() ? resource.value<QImage>().height() : 0;
    }

    qreal blockHeight(const QTextBlock& block, bool inCell) const
    {
        const QTextBlockFormat format = block.blockFormat();
        qreal text = pixelSize(block.charFormat());
        qreal pictures = 0;
        int characters = 0;
        int breaks = 0;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat chars = fragment.charFormat();
            if (chars.isImageFormat()) {
                pictures += positive(imageHeight(chars.toImageFormat()));
                continue;
            }
            text = qMax(text, pixelSize(chars));
            characters += fragment.length();
            breaks += fragment.text().count(QChar::LineSeparator);
        }
        qreal line = text * 1.5;
        const qreal given = positive(format.lineHeight());
        switch (format.lineHeightType()) {
        case QTextBlockFormat::ProportionalHeight:
            line = text * 1.2 * given / 100;
            break;
        case QTextBlockFormat::FixedHeight:
            line = given;
            break;
        case QTextBlockFormat::MinimumHeight:
            line = qMax(line, given);
            break;
        case QTextBlockFormat::LineDistanceHeight:
            line += given;
            break;
        default:
            break;
        }
        // A cell may be as narrow as a character: a line each.
        const qreal width = positive(m_target.width - format.leftMargin() - format.rightMargin() -
                                     format.textIndent());
        qreal lines =
            inCell ? characters : std::ceil(characters * text / std::max({width, text, qreal(1)}));
        lines = qMax(lines, qreal(breaks + 1));
        return positive(format.topMargin()) + positive(format.bottomMargin()) + lines * line +
               pictures;
    }

    static qreal frameEdges(const QTextFrameFormat& format)
    {
        qreal edges = positive(format.topMargin()) + positive(format.bottomMargin()) +
                      2 * positive(format.padding()) + 2 * positive(format.border());
        if (format.height().type() == QTextLength::FixedLength)
            edges += positive(format.height().rawValue());
        return edges;
    }

    static qreal rowEdges(QTextTable* table)
    {
        const QTextTableFormat format = table->format();
        const qreal around = positive(format.cellSpacing()) + 2 * positive(format.cellPadding());
        qreal edges = 0;
        for (int row = 0; row < table->rows(); ++row) {
            qreal cells = 0;
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCellFormat cell =
                    table->cellAt(row, column).format().toTableCellFormat();
                cells = qMax(cells, positive(cell.topPadding()) + positive(cell.bottomPadding()) +
                                        positive(cell.topBorder()) + positive(cell.bottomBorder()));
            }
            edges += around + cells;
        }
        return edges;
    }

    // Where the bound is passed: the position of the block that passes it.
    std::optional<int> walk(QTextFrame* frame)
    {
        if (frame != m_document.rootFrame()) {
            m_height += frameEdges(frame->frameFormat());
            if (auto* table = qobject_cast<QTextTable*>(frame))
                m_height += rowEdges(table);
            ++m_depth;
        }
        for (auto it = frame->begin(); !it.atEnd(); ++it) {
            if (m_work.isDropped())
                return std::nullopt;
            if (QTextFrame* child = it.currentFrame()) {
                if (const std::optional<int> cut = walk(child))
                    return cut;
                continue;
            }
            const QTextBlock block = it.currentBlock();
            m_height += blockHeight(block, m_depth > 0);
            if (m_height > m_bound)
                return block.position();
        }
        if (frame != m_document.rootFrame())
            --m_depth;
        return std::nullopt;
    }

    // Drops the rest of the page from `position` on: from its paragraph when
    // that stands in the page itself, from its row of the outermost table
    // otherwise.
    void cutAt(int position)
    {
        QTextCursor cursor(&m_document);
        cursor.setPosition(position);
        QTextFrame* outermost = nullptr;
        for (QTextFrame* frame = cursor.currentFrame(); frame && frame != m_document.rootFrame();
             frame = frame->parentFrame()) {
            outermost = frame;
        }
        if (!outermost) {
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            return;
        }
        // What follows the frame, then the frame's rows from the one that
        // passes the bound (the whole frame when that is its first).
        cursor.setPosition(outermost->lastPosition() + 1);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        auto* table = qobject_cast<QTextTable*>(outermost);
        const int row = table ? table->cellAt(position).row() : 0;
        if (row > 0) {
            table->removeRows(row, table->rows() - row);
            return;
        }
        cursor.setPosition(outermost->firstPosition() - 1);
        cursor.setPosition(outermost->lastPosition() + 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }

    QTextDocument& m_document;
    const LayoutTarget& m_target;
    const qreal m_bound;
    const PageWork& m_work;
    qreal m_height = 0;
    int m_depth = 0;
};

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

void PageWork::end()
{
    m_spentMs += m_running.elapsed();
    m_running.invalidate();
}

bool PageWork::isDropped() const
{
    const qint64 spent = m_spentMs + (m_running.isValid() ? m_running.elapsed() : 0);
    if (spent > m_budget.count())
        m_overTime = true;
    return m_dropped.load() || g_allDropped.load() || m_overTime.load();
}

void PageWork::dropAll()
{
    g_allDropped = true;
}

BuiltDocument buildDocument(const QString& html, const QMarginsF& margins,
                            const PageResources& resources, const LayoutTarget& target,
                            qreal maxHeight, const PageWork& work, bool scrolls)
{
    if (work.isDropped())
        return {};
    auto document = std::make_unique<PageDocument>();
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(target.font);
    document->setDefaultTextOption(target.textOption);
    for (auto it = resources.images.cbegin(); it != resources.images.cend(); ++it)
        document->addResource(QTextDocument::ImageResource, it.key(), it.value());
    document->setHtml(html);
    // Qt's importer takes no margin from <body>; its root frame has the
    // body's, where Qt would put its own 4 px.
    QTextFrameFormat root = document->rootFrame()->frameFormat();
    root.setLeftMargin(std::max<qreal>(0, margins.left()));
    root.setTopMargin(std::max<qreal>(0, margins.top()));
    root.setRightMargin(std::max<qreal>(0, margins.right()));
    root.setBottomMargin(std::max<qreal>(0, margins.bottom()));
    document->rootFrame()->setFrameFormat(root);
    if (!authorSizesWin(*document, work) || !boundParagraphs(*document, work) ||
        !HeightBound(*document, target, maxHeight, work).apply() || !boundRuns(*document, work)) {
        return {};
    }
    // Only now: a layout would follow every change above as it is made.
    auto* layout = new SettledLayout(document.get());
    document->setDocumentLayout(layout);

    // Whole pixels, as the view sets its width; to the end, a step at a
    // time, looking between steps whether the work is still wanted.
    const qreal step = qMax(target.height, qreal(256));
    auto layOut = [&](qreal width) -> std::optional<qreal> {
        document->setTextWidth(qMax(qreal(1), qreal(qRound(width))));
        for (qreal reach = step; layout->layoutStatus() < 100; reach += step) {
            if (work.isDropped())
                return std::nullopt;
            layout->ensureLayouted(reach);
        }
        return layout->documentSize().height();
    };
    BuiltDocument built;
    const qreal narrow = target.width - target.scrollBarWidth;
    std::optional<qreal> height;
    if (scrolls && target.scrollBarWidth > 0) {
        height = layOut(narrow);
        if (!height)
            return {};
        built.needsScrollBar = *height > target.height;
    }
    if (!built.needsScrollBar) {
        height = layOut(target.width);
        if (!height)
            return {};
        if (*height > target.height && target.scrollBarWidth > 0) {
            if (!layOut(narrow))
                return {};
            built.needsScrollBar = true;
        }
    }
    layout->settle();
    // Each paragraph remembers the last font engine it shaped with: one of
    // this thread's. The window's thread shapes again with its own, never
    // with an engine this thread may be using for the next page meanwhile.
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (QTextLayout* text = block.layout())
            text->engine()->resetFontEngineCache();
    }
    built.document = std::move(document);
    return built;
}

TextWarmUp::TextWarmUp(const QTextDocument& document, int from, qsizetype maxChars, Shaping shaping)
    : m_block(document.findBlock(from)), m_maxChars(maxChars), m_shaping(shaping)
{}

bool TextWarmUp::fewGlyphs(const QTextDocument& document, int from, int to)
{
    QSet<quint64> glyphs;
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() < to;
         block = block.next()) {
        if (block.length() > kPaintParagraph)
            return false;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = qMax(from, fragment.position());
            const int end = qMin(to, fragment.position() + fragment.length());
            if (start >= end)
                continue;
            // A format's index stands for its font: two formats of one font
            // count twice, which only errs towards the walk.
            const quint64 format = quint64(uint(fragment.charFormatIndex())) << 32;
            const QString text = fragment.text();
            for (int i = start - fragment.position(); i < end - fragment.position(); ++i) {
                glyphs.insert(format | text.at(i).unicode());
                if (glyphs.size() > kPaintMeasures)
                    return false;
            }
        }
    }
    return true;
}

bool TextWarmUp::step(std::chrono::milliseconds slice)
{
    QElapsedTimer running;
    running.start();
    while (m_block.isValid()) {
        QTextEngine* engine = m_block.layout()->engine();
        if (!engine->layoutData) {
            // Made here, so freed here; what a paint made stays for it.
            engine->itemize();
            m_own = true;
        }
        if (m_item < engine->layoutData->items.size() && m_chars < m_maxChars) {
            // Pictures and tabs are sized, not shaped.
            if (engine->layoutData->items.at(m_item).analysis.flags <
                QScriptAnalysis::TabOrObject) {
                engine->shape(m_item);
            }
            m_chars += engine->length(m_item);
            ++m_item;
        } else {
            // As Qt leaves a paragraph it has laid out: its lines, no glyphs.
            if (m_own && m_shaping == Shaping::Free)
                engine->freeMemory();
            m_block = m_chars < m_maxChars ? m_block.next() : QTextBlock();
            m_item = 0;
            m_own = false;
        }
        if (running.elapsed() >= slice.count())
            break;
    }
    return m_block.isValid();
}

namespace {

// The formats browsers read, known by their first bytes as browsers know
// them: every other image plug-in Qt has is a parser no page needs.
QByteArray pictureFormat(const QByteArray& bytes)
{
    static const bool webp = QImageReader::supportedImageFormats().contains("webp");
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    if (bytes.startsWith("\xff\xd8\xff"))
        return "jpeg";
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return "gif";
    if (bytes.startsWith("BM"))
        return "bmp";
    if (bytes.startsWith(QByteArrayView("\0\0\1\0", 4)) ||
        bytes.startsWith(QByteArrayView("\0\0\2\0", 4)))
        return "ico"; // and cursors, which are the same format
    if (webp && bytes.startsWith("RIFF") && bytes.mid(8, 6) == "WEBPVP")
        return "webp";
    return {};
}

} // namespace

void warmUpText(const LayoutTarget& target)
{
    // A thread's first text opens its fonts, finds the fallbacks for Han and
    // sets up shaping: milliseconds that would otherwise fall on the first
    // page's layout. Plain and bold, in a paragraph and a table cell.
    QTextDocument document;
    document.setUndoRedoEnabled(false);
    document.setDefaultFont(target.font);
    document.setDefaultTextOption(target.textOption);
    document.setHtml(QStringLiteral("<p>公告 Notice 2024</p>"
                                    "<table><tr><td><b>公告 Notice</b></td></tr></table>"));
    document.setTextWidth(qMax(target.width, qreal(100)));
    document.documentLayout()->documentSize();
}

QImage decodeImage(const QByteArray& bytes, qint64 maxPixels)
{
    const QByteArray format = pictureFormat(bytes);
    if (format.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer, format);
    // That plug-in alone, whatever the bytes say further on.
    reader.setAutoDetectImageFormat(false);
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
