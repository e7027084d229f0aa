#pragma once

#include "computed_style.h"
#include "html_elements.h"
#include "page_links_p.h"
#include "page_markup.h"
#include "table_budget.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

#include <optional>
#include <utility>
#include <vector>

// Internal to mizong_page_markup: markup_writer.h is the interface.
// The writer's rooms: markup_writer.cpp walks the tree and writes blocks,
// inline elements and text; markup_writer_pictures.cpp rules, pictures and
// drawings; markup_writer_tables.cpp writes what Qt draws as tables (boxes,
// the page's own tables, floats enclosed for a cleared block) and works out
// the margins Qt's layout puts around them; markup_writer_layouts.cpp flex
// and grid layouts; and markup_writer_columns.cpp lays the page's tables'
// columns out as browsers do, from their cells' text measured in the view's
// fonts.
namespace mizong::page::markup {

using css::ComputedStyle;
using css::Display;

bool isBlockLevel(Display d);

constexpr quint8 kFloatLeft = 1;
constexpr quint8 kFloatRight = 2;

// Elements Qt's importer lays out as blocks of their own.
bool isBlockName(QStringView out);

bool isHeading(QStringView out);

bool hasBorder(const ComputedStyle& s);

// What Qt draws only on a table's cell: a box around the block.
bool needsBox(const ComputedStyle& s);

ComputedStyle withoutPadding(ComputedStyle s);

QString sizeText(const css::Size& size, qreal extra);

class Writer
{
public:
    Writer(const PreparedMarkup& page, const QList<ComputedStyle>& styles,
           const QSet<QUrl>& loadedImages, const MarkupLimits& limits, const TextMeasure* measure,
           WrittenMarkup& result)
        : m_doc(*page.document), m_styles(styles), m_page(page), m_images(loadedImages),
          m_limits(limits), m_measure(measure), m_result(result), m_tables(limits.maxTableCells)
    {}

    void setViewWidth(qreal width) { m_viewWidth = width; }

    void run();

private:
    void title();

    // Qt's import costs grow with elements and their depth; its layout's
    // with the tables' grids.
    bool claim(Role role = Role::None, int colspan = 1, int rowspan = 1);

    bool open(QStringView name, const QString& attributes, Role role = Role::None, int colspan = 1,
              int rowspan = 1);

    void close(QStringView name);

    static QString styleAttribute(const QString& declarations);

    // `runs`: parent is a block of ours, whose lines after a block in it
    // go in a block of their own (runStyle).
    void children(int parent, const ComputedStyle& around, bool runs = false);

    // A block's typography without its margins.
    QString runStyle(int n) const;

    // A floating picture followed by a block of ours that it can start.
    bool floatsIntoNext(int c) const;

    void node(int n, const ComputedStyle& around);

    // Body text. Runs of the spaces Qt would collapse and browsers never do
    // are kept in a span of their own, an element of the page's budget.
    void text(QStringView t);

    // The room an inline <svg> drawing takes, which is not drawn.
    void drawingsRoom(int n, const ComputedStyle& around);

    // appendTextStyle, its lines kept whole inside a content-sized flex item.
    void textStyle(QString& out, const ComputedStyle& s, const ComputedStyle* around,
                   quint16 look = 0) const;

    QString attributesOf(int n, QStringView out, QStringView except = {});

    void inlineElement(int n, QStringView out, const ComputedStyle& around);

    // Whether Qt lays the element out as a table of ours: a box, a layout
    // or a table of the page's.
    bool writtenAsTable(int n) const;

    // The left margin that centres a table where Qt would not: 0 or less.
    qreal centringShift() const;

    // The largest top margin of the blocks that start `parent`, one inside
    // the other, with nothing between their tops; 0 when it starts with a
    // table of ours or with text.
    qreal firstBlockTop(int parent) const;

    // Text shown, or an element shown: what starts the flow, and a flex or
    // grid container's child that becomes one of its items.
    bool startsFlow(int c) const;

    bool isFloat(int c) const;

    // The sides (kFloatLeft, kFloatRight) of the floats in n's part of the
    // flow: n itself, or floats inside it that no table of ours encloses.
    quint8 floatSides(int n) const;

    // The sides of floats n clears, as a block in the flow.
    quint8 clearedSides(int n) const;

    // The sibling from `first` on that clears the floats before it, from
    // `first` up to it; kNone when there is none.
    int clearingSibling(int first) const;

    // The siblings from `first` up to `end`, in a borderless full-width
    // table: Qt makes a cell as tall as its floats, and lays out no block
    // below a table beside them, as a browser puts a cleared block below
    // the floats before it.
    void enclosed(int first, int end, const ComputedStyle& around);

    // One child of children()'s, by what it is.
    void writeChild(int c, const ComputedStyle& around);

    // The body's first child in the flow, floats before it passed over:
    // its top margin is in the body's.
    int firstInBody() const;

    // The block-level sibling right before n, with nothing shown between.
    int previousInFlow(int n) const;

    // Browsers keep the larger of two adjoining margins. Qt does so between
    // blocks only: it drops a block's bottom margin before a table and adds
    // a table's bottom margin to what follows it.
    qreal adjoiningTop(int n, bool asTable) const;

    // The largest bottom margin of n and the blocks that end it, one inside
    // the other, with nothing between their bottoms.
    qreal lastBlockBottom(int n) const;

    // The top margin of the blocks n starts with and the bottom margin of
    // those it ends with, which Qt drops in a cell.
    std::pair<qreal, qreal> innerMargins(int n) const;

    // A block without a box: margins, alignment and typography of its own.
    void block(int n, QStringView out, const ComputedStyle& around, bool withMargins);

    // Borders, padding, a background, a width or a float: a one-cell table,
    // the only box Qt draws them on.
    void box(int n, QStringView out, const ComputedStyle& around);

    // A flex row as a one-row table, a grid of N columns as a table of N
    // columns: each item a cell, its box the cell's.
    void layoutTable(int n, const ComputedStyle& around, bool withMargins);

    // An item of a line or two words (a badge, a button, a link) that
    // fits on one line: it can be kept whole, as wide as its text.
    bool isShortItem(int c) const;

    // The node after n's subtree in document order, within root; kNone at
    // root's end.
    int nextOutside(int n, int root) const;

    // Where the items sit across their row. Stretched ones fill it, as a
    // cell's background does anyway.
    static QString flexAlign(const ComputedStyle& s);

    void tablePart(int n, const ElementRule* rule, const ComputedStyle& around);

    static QString cellAlign(css::VerticalAlign v);

    int tableOf(int n) const;

    // A table's columns as browsers lay them out (automatic table layout),
    // from its cells' narrowest and widest contents in the view's fonts:
    // the width Qt is to give each cell, in m_cellWidths.
    struct Extent
    {
        qreal min = 0; // its narrowest: the longest word, picture or nested table
        qreal max = 0; // on one line
        // One line of text's height; 0 when it holds more, or other things.
        qreal lineHeight = 0;
    };
    struct PlacedCell
    {
        int node;
        int column;
        int span;
    };
    void planColumns(int table);
    // The cells of a table in its grid; false past the cells Qt would lay out.
    bool gridOf(int table, QList<PlacedCell>& cells, int& columns) const;
    Extent tableExtent(int table);
    Extent cellExtent(int cell);
    // What a block's content needs across: its lines, its blocks.
    Extent contentExtent(int parent);
    struct Flow;
    void flowChildren(int parent, Flow& flow);
    void flowText(QStringView text, const ComputedStyle& s, Flow& flow);
    // Horizontal padding and borders of a cell, halved borders in a
    // collapsing table.
    static qreal cellFrame(const ComputedStyle& s, bool collapse);

    void rule_(int n, const ComputedStyle& around);

    // A browser's normal line height for block n's lines, which Qt makes a
    // pixel taller or so; 0 where Qt's own stays (a line-height of its own,
    // no measure, or lines of mixed fonts).
    qreal normalLine(int n) const;

    void image(int n, const ComputedStyle& around);

    // An <img> whose picture is loaded, by its address; otherwise none.
    std::optional<ResourceAddress> loadedImage(int n) const;

    // Whether a block's one line holds a picture on the baseline and
    // nothing else shown.
    bool pictureAlone(int n) const;

    // A box's or cell's background picture as Qt's `background` attribute,
    // when it is loaded; listed for loading either way. Qt paints one brush,
    // a colour or a tiled picture: a picture that does not tile the box
    // leaves its colour, where there is one, the larger part of it. Where
    // the picture is written, no colour may follow it.
    QString backgroundAttribute(const ComputedStyle& s);

    const dom::Document& m_doc;
    const QList<ComputedStyle>& m_styles;
    const PreparedMarkup& m_page;
    const QSet<QUrl>& m_images;
    const MarkupLimits& m_limits;
    const TextMeasure* m_measure;
    WrittenMarkup& m_result;
    qreal m_viewWidth = 0;
    // The width the table being written may take: its container's content.
    qreal m_available = 0;
    QHash<int, qreal> m_cellWidths;   // by cell node: its column's width for Qt
    QHash<int, qreal> m_cellContents; // by cell node: inside its padding, for tables in it
    QHash<int, Extent> m_extents;     // by cell or table node, each measured once
    int m_measured = 0;               // cells measured, bounded as Qt's tables are
    TableBudget m_tables;
    QString m_out;
    int m_depth = 0;
    int m_elements = 0;
    qint64 m_nesting = 0;
    bool m_stopped = false;
    bool m_keepLines = false;
    int m_firstInBody = dom::kNone;
    // A floating picture written at the start of the block after it.
    int m_pendingFloat = dom::kNone;
    // The block written below the floats it clears, whose top margin they
    // take up, as a browser's clearance does when they are the taller.
    int m_cleared = dom::kNone;
    // floatSides() by node, once each: -1 not yet known.
    mutable std::vector<qint8> m_floatSides;
};

} // namespace mizong::page::markup
