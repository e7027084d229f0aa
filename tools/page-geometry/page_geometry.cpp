// For tools/compare-with-chromium: shows pages in the window's page view, as
// the window makes it, and writes what Qt laid out, for a comparison with a
// browser's layout of the same pages.
//
//   mizong-page-geometry --announcement FILE
//       writes the sample service's announcement page (/gonggao.html) to FILE
//   mizong-page-geometry OUT_DIR HOME NAME=URL...
//       loads each URL through the real page view (links to HOME open inside
//       it), waits for the page and its pictures, and writes OUT_DIR/NAME.json
//       (the laid-out document, below), OUT_DIR/NAME.png (the view as shown)
//       and OUT_DIR/NAME-page.png (the whole document); with a device pixel
//       ratio of 2 (QT_SCALE_FACTOR=2), NAME@2x.png and NAME-page@2x.png.
//
// NAME.json, every length in the view's logical pixels, relative to the
// viewport's top left with the page unscrolled:
//   viewport [w, h], scrollBar, height (the document's), boxes: in document
//   order, each {kind: block | cell | table | frame, text (its first characters),
//   rect [x, y, w, h], and as far as they apply: background "#rrggbb",
//   border [top, right, bottom, left], borderColor, fontSize, fontWeight,
//   heading, indent (of the first line), lines, linePitch (between the
//   first two lines' tops), besideFloat (a line starts after a float),
//   columns (a table's widths), rows (its count)}.
// A block's rect is its text area (margins and cell padding outside); a
// cell's is its border box, made of its blocks, its padding and its border,
// as tall as its row; a table's is its border box, from its cells. A frame
// (inline: true) is text drawn on a background of its own, one per line,
// after its block.
#include "application.h"
#include "form_layout.h"
#include "page_browser.h"
#include "service_contract.h"
#include "site_pages.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGlyphRun>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRawFont>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTextChars = 40;
// The whole-document picture stops here: enough to see what differs.
constexpr int kMaxPictureHeight = 3000;

QJsonArray rectJson(const QRectF& rect)
{
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

QString colourName(const QBrush& brush)
{
    // A picture is no colour, as compare-with-chromium reads Chromium's.
    if (brush.style() == Qt::NoBrush || brush.style() == Qt::TexturePattern ||
        brush.color().alpha() == 0)
        return {};
    return brush.color().name();
}

// What a reader sees of a block's text: no object characters (pictures)
// nor zero-width spaces (the room of a drawing), line breaks as spaces.
QString visibleText(const QString& text)
{
    QString shown;
    for (const QChar c : text) {
        if (c == QChar::ObjectReplacementCharacter || c == QChar(0x200B))
            continue;
        shown += c == QChar::LineSeparator || c == QChar::ParagraphSeparator ? u' ' : c;
    }
    return shown.simplified().left(kTextChars);
}

class Walker
{
public:
    explicit Walker(QTextDocument& document)
        : m_document(document), m_layout(*document.documentLayout())
    {}

    QJsonArray boxes()
    {
        walk(m_document.rootFrame());
        return m_boxes;
    }

private:
    struct Extent
    {
        QRectF content;
        QString text;
    };

    // The blocks and tables of a frame (or a cell), in order; the extent of
    // their areas with their margins, and the first text among them.
    Extent walk(QTextFrame::iterator it)
    {
        Extent extent;
        for (; !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                const Extent inner = walk(child);
                extent.content |= inner.content;
                if (extent.text.isEmpty())
                    extent.text = inner.text;
                continue;
            }
            const QTextBlock block = it.currentBlock();
            const QRectF area = addBlock(block);
            const QTextBlockFormat format = block.blockFormat();
            const QRectF withMargins = area.adjusted(-format.leftMargin(), -format.topMargin(),
                                                     format.rightMargin(), format.bottomMargin());
            // The empty block Qt keeps after a table in a cell stands where
            // the table's last cell is: only its height counts.
            if (block.length() <= 1 && !extent.content.isNull()) {
                extent.content.setTop(std::min(extent.content.top(), withMargins.top()));
                extent.content.setBottom(std::max(extent.content.bottom(), withMargins.bottom()));
                continue;
            }
            // Qt applies no top margin to a frame's or cell's first block and
            // no bottom margin to its last; between blocks the next one's
            // area covers them.
            extent.content |= area.adjusted(-format.leftMargin(), 0, format.rightMargin(), 0);
            if (extent.text.isEmpty())
                extent.text = visibleText(block.text());
        }
        return extent;
    }

    Extent walk(QTextFrame* frame)
    {
        auto* table = qobject_cast<QTextTable*>(frame);
        if (!table)
            return walk(frame->begin());
        QJsonObject box;
        box["kind"_L1] = u"table"_s;
        const QRectF bounds = m_layout.frameBoundingRect(frame);
        const QTextTableFormat format = table->format();
        const bool collapse = format.borderCollapse();
        const int at = m_boxes.size();
        m_boxes.append(QJsonObject());
        // Each cell's area from its blocks, then its row's height: Qt lays out
        // a row's cells to the tallest, as a browser does.
        struct Cell
        {
            QTextTableCell cell;
            QRectF box;
            int index;
        };
        std::vector<Cell> cells;
        std::map<int, qreal> rowBottom;
        // A row's top is its tallest cell's: a shorter one aligned to the
        // middle or the bottom starts lower inside it.
        std::map<int, qreal> rowTop;
        QString firstText;
        for (int row = 0; row < table->rows(); ++row) {
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCell cell = table->cellAt(row, column);
                if (cell.row() != row || cell.column() != column)
                    continue;
                const int index = m_boxes.size();
                m_boxes.append(QJsonObject());
                const Extent inner = walk(cell.begin());
                if (firstText.isEmpty())
                    firstText = inner.text;
                const QTextTableCellFormat cf = cell.format().toTableCellFormat();
                const Edges padding = cellPadding(cf, format);
                const Edges border = cellBorder(cf, format);
                // Collapsed borders are shared: half of each is the cell's,
                // as browsers measure a cell.
                const qreal share = collapse ? 0.5 : 1;
                QRectF box = inner.content.adjusted(
                    -padding.left - border.left * share, -padding.top - border.top * share,
                    padding.right + border.right * share, padding.bottom + border.bottom * share);
                QJsonObject json;
                json["kind"_L1] = u"cell"_s;
                json["text"_L1] = inner.text;
                json["row"_L1] = row;
                json["column"_L1] = column;
                json["rowSpan"_L1] = cell.rowSpan();
                json["columnSpan"_L1] = cell.columnSpan();
                json["border"_L1] =
                    QJsonArray{border.top, border.right, border.bottom, border.left};
                if (border.top + border.right + border.bottom + border.left > 0)
                    json["borderColor"_L1] = borderColour(cf, format);
                const QString background = colourName(cf.background());
                if (!background.isEmpty())
                    json["background"_L1] = background;
                m_boxes[index] = json;
                const int lastRow = row + cell.rowSpan() - 1;
                rowBottom[lastRow] = std::max(rowBottom[lastRow], box.bottom());
                const auto top = rowTop.find(row);
                rowTop[row] = top == rowTop.end() ? box.top() : std::min(top->second, box.top());
                cells.push_back({cell, box, index});
            }
        }
        std::map<int, qreal> columnWidth;
        for (Cell& cell : cells) {
            cell.box.setTop(rowTop[cell.cell.row()]);
            cell.box.setBottom(rowBottom[cell.cell.row() + cell.cell.rowSpan() - 1]);
            QJsonObject json = m_boxes[cell.index].toObject();
            json["rect"_L1] = rectJson(cell.box);
            m_boxes[cell.index] = json;
            if (cell.cell.columnSpan() == 1)
                columnWidth[cell.cell.column()] =
                    std::max(columnWidth[cell.cell.column()], cell.box.width());
        }
        QJsonArray columns;
        for (int column = 0; column < table->columns(); ++column)
            columns.append(columnWidth.count(column) ? QJsonValue(columnWidth[column])
                                                     : QJsonValue());
        // Qt's bounding rectangle of a table starts at its first cell's
        // content: its edge is found from its cells instead.
        QRectF edge = bounds;
        if (!cells.empty()) {
            // Collapsed, the table's edge runs through its cells' outer borders.
            const qreal around =
                collapse
                    ? cellBorder(cells.front().cell.format().toTableCellFormat(), format).left / 2
                    : format.cellSpacing() + format.border() + format.padding();
            qreal left = cells.front().box.left();
            qreal top = cells.front().box.top();
            qreal bottom = cells.front().box.bottom();
            for (const Cell& cell : cells) {
                left = std::min(left, cell.box.left());
                top = std::min(top, cell.box.top());
                bottom = std::max(bottom, cell.box.bottom());
            }
            edge.moveTopLeft(QPointF(left - around, top - around));
            // Its height too: Qt's rectangle holds its bottom margin.
            edge.setBottom(bottom + around);
        }
        box["text"_L1] = firstText;
        box["rect"_L1] = rectJson(edge);
        box["columns"_L1] = columns;
        box["rows"_L1] = table->rows();
        box["border"_L1] =
            QJsonArray{format.border(), format.border(), format.border(), format.border()};
        if (format.border() > 0)
            box["borderColor"_L1] = colourName(format.borderBrush()).isEmpty()
                                        ? u"#000000"_s
                                        : colourName(format.borderBrush());
        const QString background = colourName(format.background());
        if (!background.isEmpty())
            box["background"_L1] = background;
        m_boxes[at] = box;
        return {edge, firstText};
    }

    struct Edges
    {
        qreal top = 0, right = 0, bottom = 0, left = 0;
    };

    static Edges cellPadding(const QTextTableCellFormat& cell, const QTextTableFormat& table)
    {
        auto side = [&](QTextFormat::Property property) {
            return cell.hasProperty(property) ? cell.doubleProperty(property) : table.cellPadding();
        };
        return {side(QTextFormat::TableCellTopPadding), side(QTextFormat::TableCellRightPadding),
                side(QTextFormat::TableCellBottomPadding), side(QTextFormat::TableCellLeftPadding)};
    }

    // A cell's own border, or the table's, which Qt draws around every cell.
    static Edges cellBorder(const QTextTableCellFormat& cell, const QTextTableFormat& table)
    {
        auto side = [&](QTextFormat::Property property) {
            return cell.hasProperty(property) ? cell.doubleProperty(property) : table.border();
        };
        return {side(QTextFormat::TableCellTopBorder), side(QTextFormat::TableCellRightBorder),
                side(QTextFormat::TableCellBottomBorder), side(QTextFormat::TableCellLeftBorder)};
    }

    // The colour of the first side that has a border, as a one-sided
    // border (a heading's underline) has no top one.
    static QString borderColour(const QTextTableCellFormat& cell, const QTextTableFormat& table)
    {
        const Edges border = cellBorder(cell, table);
        const std::pair<qreal, QBrush> sides[] = {{border.top, cell.topBorderBrush()},
                                                  {border.right, cell.rightBorderBrush()},
                                                  {border.bottom, cell.bottomBorderBrush()},
                                                  {border.left, cell.leftBorderBrush()}};
        for (const auto& [width, brush] : sides) {
            const QString own = colourName(brush);
            if (width > 0 && !own.isEmpty())
                return own;
        }
        const QString tables = colourName(table.borderBrush());
        return tables.isEmpty() ? u"#000000"_s : tables;
    }

    // One block's entry; its text area in the viewport's coordinates.
    QRectF addBlock(const QTextBlock& block)
    {
        const QTextBlockFormat format = block.blockFormat();
        // Qt's rectangle is the layout's position with the lines' size; the
        // lines sit within it where a list's or a cell's indent puts them.
        const QRectF bounds = m_layout.blockBoundingRect(block);
        const QTextLayout* text = block.layout();
        QRectF area;
        const bool fixed = format.lineHeightType() == QTextBlockFormat::FixedHeight;
        qreal widest = 0;
        bool besideFloat = false;
        for (int i = 0; text && i < text->lineCount(); ++i) {
            const QTextLine at = text->lineAt(i);
            QRectF line = at.rect();
            if (fixed) {
                // A fixed line is as tall as its line height, and Qt puts the
                // text's baseline four fifths of the way down it; the line's
                // own rectangle is only the glyphs' height.
                const qreal height = format.lineHeight();
                line.setTop(at.y() + at.ascent() + std::max<qreal>(at.leading(), 0) -
                            height * 4 / 5);
                line.setHeight(height);
            }
            // A line that starts right of the block's margin and indent
            // lies beside a float.
            if (at.x() > format.leftMargin() + (i == 0 ? format.textIndent() : 0) + 0.5)
                besideFloat = true;
            if (i == 0)
                line.setLeft(line.left() - format.textIndent());
            area |= line.translated(bounds.topLeft());
            // A word longer than its line makes the line as wide as the
            // word; lines beside a float are narrower than the block.
            if (at.naturalTextWidth() < at.width())
                widest = std::max(widest, line.width());
        }
        // A word longer than its line sticks out of it, as in a browser,
        // whose box stays as wide as the lines that hold their text.
        if (widest > 0 && widest < area.width())
            area.setWidth(widest);
        if (area.isNull())
            area = bounds;
        QJsonObject json;
        json["kind"_L1] = u"block"_s;
        json["text"_L1] = visibleText(block.text());
        json["rect"_L1] = rectJson(area);
        if (format.headingLevel() > 0)
            json["heading"_L1] = format.headingLevel();
        if (besideFloat)
            json["besideFloat"_L1] = true;
        const QString background = colourName(format.background());
        if (!background.isEmpty())
            json["background"_L1] = background;
        if (text && text->lineCount() > 0) {
            const QTextLine first = text->lineAt(0);
            json["lines"_L1] = text->lineCount();
            json["indent"_L1] = format.textIndent();
            if (text->lineCount() > 1)
                json["linePitch"_L1] = text->lineAt(1).y() - first.y();
            // The face the first characters were drawn with, as shaped.
            const QList<QGlyphRun> runs = first.glyphRuns();
            if (!runs.isEmpty()) {
                const QRawFont font = runs.first().rawFont();
                json["fontSize"_L1] = font.pixelSize();
                json["fontWeight"_L1] = font.weight();
                json["fontFamily"_L1] = font.familyName();
            }
        }
        m_boxes.append(json);
        if (text)
            addBackgrounds(block, *text, bounds.topLeft());
        return area;
    }

    // Text drawn on a colour of its own (an inline element's background):
    // a frame, inline, for each line it is on, as high as that line.
    void addBackgrounds(const QTextBlock& block, const QTextLayout& text, QPointF at)
    {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString background = colourName(fragment.charFormat().background());
            if (!fragment.isValid() || background.isEmpty())
                continue;
            const int from = fragment.position() - block.position();
            const int to = from + fragment.length();
            for (int i = 0; i < text.lineCount(); ++i) {
                const QTextLine line = text.lineAt(i);
                const int start = std::max(from, line.textStart());
                const int end = std::min(to, line.textStart() + line.textLength());
                if (start >= end)
                    continue;
                const qreal left = line.cursorToX(start);
                const qreal right = line.cursorToX(end);
                QJsonObject json;
                json["kind"_L1] = u"frame"_s;
                json["inline"_L1] = true;
                json["text"_L1] = visibleText(block.text().mid(start, end - start));
                json["rect"_L1] = rectJson(
                    QRectF(std::min(left, right), line.y(), std::abs(right - left), line.height())
                        .translated(at));
                json["border"_L1] = QJsonArray{0, 0, 0, 0};
                json["background"_L1] = background;
                m_boxes.append(json);
            }
        }
    }

    QTextDocument& m_document;
    QAbstractTextDocumentLayout& m_layout;
    QJsonArray m_boxes;
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The whole document as the view draws it, unscrolled, its height bounded.
QImage wholeDocument(mizong::PageBrowser& view)
{
    QTextDocument& document = *view.document();
    const qreal dpr = view.devicePixelRatioF();
    const QSize size(view.viewport()->width(),
                     std::min(kMaxPictureHeight, qCeil(document.size().height())));
    QImage picture(size * dpr, QImage::Format_RGB32);
    picture.setDevicePixelRatio(dpr);
    picture.fill(view.palette().color(QPalette::Base));
    QPainter painter(&picture);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = view.palette();
    context.clip = QRectF(QPointF(), size);
    painter.setClipRect(context.clip);
    document.documentLayout()->draw(&painter, context);
    return picture;
}

bool showPage(const QString& directory, const QString& home, const QString& name,
              const QString& url)
{
    QWidget window;
    window.setFont(mizong::layout::font(mizong::layout::Font::Window));
    const auto controls = mizong::layout::controls();
    const auto row = std::find_if(controls.begin(), controls.end(), [](const auto& control) {
        return control.name == u"WebBrowser1";
    });
    if (row == controls.end())
        return false;
    auto* view = qobject_cast<mizong::PageBrowser*>(mizong::layout::createWidget(*row, &window));
    if (!view)
        return false;
    view->move(0, 0);
    view->setHomeSite(QUrl(home));
    window.resize(view->size());
    window.show();

    QEventLoop loop;
    bool shown = false;
    QObject::connect(view, &mizong::PageBrowser::pageShown, &loop, [&] {
        shown = true;
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    view->navigate(QUrl(url));
    loop.exec();
    if (!shown) {
        std::fprintf(stderr, "%s: not shown within 30 s\n", qPrintable(url));
        return false;
    }
    // Painted once, as the window would have by now.
    QCoreApplication::processEvents();

    QTextDocument& document = *view->document();
    QJsonObject json;
    json["url"_L1] = view->pageUrl().toString();
    json["viewport"_L1] = QJsonArray{view->viewport()->width(), view->viewport()->height()};
    json["scrollBar"_L1] = view->verticalScrollBar()->isVisible();
    json["height"_L1] = document.size().height();
    json["boxes"_L1] = Walker(document).boxes();
    const qreal dpr = view->devicePixelRatioF();
    const QString suffix = dpr == 1 ? u".png"_s : u"@%1x.png"_s.arg(dpr);
    const QString base = directory + u'/' + name;
    return writeFile(base + u".json"_s, QJsonDocument(json).toJson(QJsonDocument::Indented)) &&
           view->grab().toImage().save(base + suffix) &&
           wholeDocument(*view).save(base + u"-page"_s + suffix);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    mizong::prepareApplication();
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 2 && args.at(0) == u"--announcement") {
        const auto page = mizong::sample::sitePage(mizong::site::kAnnouncementPath);
        return page && writeFile(args.at(1), page->body) ? 0 : 1;
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: mizong-page-geometry OUT_DIR HOME NAME=URL...\n"
                             "       mizong-page-geometry --announcement FILE\n");
        return 2;
    }
    if (!QDir().mkpath(args.at(0)))
        return 1;
    int failed = 0;
    for (const QString& page : args.mid(2)) {
        const qsizetype equals = page.indexOf(u'=');
        if (equals <= 0 ||
            !showPage(args.at(0), args.at(1), page.left(equals), page.mid(equals + 1))) {
            std::fprintf(stderr, "no geometry for %s\n", qPrintable(page));
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
