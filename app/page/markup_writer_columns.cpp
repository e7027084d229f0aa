#include "html_elements.h"
#include "markup_attributes.h"
#include "markup_output.h"
#include "markup_writer_p.h"
#include "qt_style.h"

#include <algorithm>
#include <cmath>

namespace mizong::page::markup {

using css::ComputedStyle;
using css::Display;
using dom::kNone;
using dom::Node;

namespace {

// Han, kana, hangul, CJK punctuation and full-width forms: a line may break
// before and after each of them.
bool breaksAround(char16_t c)
{
    return (c >= 0x2e80 && c <= 0x9fff) || (c >= 0xac00 && c <= 0xd7af) ||
           (c >= 0xf900 && c <= 0xfaff) || (c >= 0xff00 && c <= 0xffef);
}

// Punctuation a line never starts with, or never ends with.
bool closesText(char16_t c)
{
    return QStringView(u"，。、：；！？）」』】》〉”’").contains(QChar(c));
}

bool opensText(char16_t c)
{
    return QStringView(u"（「『【《〈“‘").contains(QChar(c));
}

bool isSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

Role roleOf(const Node& e)
{
    if (e.type != Node::Type::Element || e.ns != dom::Namespace::Html)
        return Role::None;
    const ElementRule* rule = ruleFor(e.name);
    return rule->treatment == Treatment::Element ? rule->role : Role::None;
}

qreal horizontal(const ComputedStyle& s)
{
    return std::max<qreal>(0, s.padding[css::Left]) + std::max<qreal>(0, s.padding[css::Right]) +
           s.border[css::Left].width + s.border[css::Right].width;
}

qreal horizontalMargins(const ComputedStyle& s)
{
    const auto m = [&](int side) {
        return s.marginAuto[side] ? 0 : std::max<qreal>(0, s.margin[side]);
    };
    return m(css::Left) + m(css::Right);
}

} // namespace

// An inline formatting context as it is measured: the line so far and the
// unbreakable run at its end.
struct Writer::Flow
{
    Extent extent;
    qreal line = 0;
    qreal word = 0;
    qreal pendingSpace = 0;
    int lines = 0;
    bool onlyText = true;
    qreal tallest = 0;

    void endWord()
    {
        extent.min = std::max(extent.min, word);
        word = 0;
    }
    void endLine()
    {
        endWord();
        extent.max = std::max(extent.max, line);
        if (line > 0)
            ++lines;
        line = 0;
        pendingSpace = 0;
    }
    void add(qreal width, bool breakBefore)
    {
        if (breakBefore)
            endWord();
        line += pendingSpace + width;
        pendingSpace = 0;
        word += width;
    }
    // An inline block: as wide as its widest on the line, its narrowest
    // alone.
    void atomic(const Extent& e)
    {
        endWord();
        line += pendingSpace + e.max;
        pendingSpace = 0;
        extent.min = std::max(extent.min, e.min);
        onlyText = false;
    }
    void block(const Extent& e)
    {
        endLine();
        onlyText = false;
        extent.min = std::max(extent.min, e.min);
        extent.max = std::max(extent.max, e.max);
    }
};

qreal Writer::cellFrame(const ComputedStyle& s, bool collapse)
{
    const qreal borders = s.border[css::Left].width + s.border[css::Right].width;
    return std::max<qreal>(0, s.padding[css::Left]) + std::max<qreal>(0, s.padding[css::Right]) +
           (collapse ? borders / 2 : borders);
}

void Writer::flowText(QStringView t, const ComputedStyle& s, Flow& flow)
{
    const bool keepSpaces =
        s.whiteSpace == css::WhiteSpace::Pre || s.whiteSpace == css::WhiteSpace::PreWrap;
    const bool wraps =
        s.whiteSpace != css::WhiteSpace::Pre && s.whiteSpace != css::WhiteSpace::Nowrap;
    const bool keepsBreaks = keepSpaces || s.whiteSpace == css::WhiteSpace::PreLine;
    const qreal space = m_measure->width(u" ", s) + s.wordSpacing + s.letterSpacing;
    if (!t.trimmed().isEmpty())
        flow.tallest =
            std::max(flow.tallest,
                     s.lineHeight && *s.lineHeight > 0 ? *s.lineHeight : m_measure->lineHeight(s));
    qsizetype i = 0;
    while (i < t.size()) {
        const char16_t c = t[i].unicode();
        if (c == u'\n' && keepsBreaks) {
            flow.endLine();
            ++i;
        } else if (isSpace(c)) {
            qsizetype end = i + 1;
            while (end < t.size() && isSpace(t[end].unicode()) && !(keepsBreaks && t[end] == u'\n'))
                ++end;
            if (keepSpaces) {
                flow.add(space * qreal(end - i), false);
            } else if (flow.line > 0 || flow.word > 0) {
                flow.pendingSpace = space;
            }
            if (wraps)
                flow.endWord();
            i = end;
        } else if (breaksAround(c)) {
            // A run of ideographs is as wide as the sum of its own.
            qsizetype end = i + 1;
            while (end < t.size() && breaksAround(t[end].unicode()))
                ++end;
            const qsizetype n = end - i;
            const qreal run = m_measure->width(t.sliced(i, n), s) + s.letterSpacing * qreal(n);
            const qreal each = run / qreal(n);
            for (qsizetype k = i; k < end; ++k) {
                const char16_t ch = t[k].unicode();
                const bool glued = closesText(ch) || (k > i && opensText(t[k - 1].unicode()));
                flow.add(each, wraps && !glued);
            }
            if (wraps && !opensText(t[end - 1].unicode()))
                flow.endWord();
            i = end;
        } else {
            // A word, or its part up to a slash or hyphen a line may break
            // after (not before a digit, as in 400-820 or XP/7).
            qsizetype end = i + 1;
            bool breakAfter = false;
            while (end < t.size() && !isSpace(t[end].unicode()) &&
                   !breaksAround(t[end].unicode())) {
                const char16_t last = t[end - 1].unicode();
                if ((last == u'/' || last == u'-') && !t[end].isDigit()) {
                    breakAfter = wraps;
                    break;
                }
                ++end;
            }
            flow.add(m_measure->width(t.sliced(i, end - i), s) + s.letterSpacing * qreal(end - i),
                     false);
            if (breakAfter)
                flow.endWord();
            i = end;
        }
    }
}

void Writer::flowChildren(int parent, Flow& flow)
{
    const ComputedStyle& around = m_styles[parent];
    for (int c = m_doc[parent].firstChild; c != kNone; c = m_doc[c].nextSibling) {
        const Node& e = m_doc[c];
        if (e.type == Node::Type::Text) {
            flowText(e.text, around, flow);
            continue;
        }
        if (e.type != Node::Type::Element || e.ns != dom::Namespace::Html ||
            m_styles[c].display == Display::None)
            continue;
        const ElementRule* rule = ruleFor(e.name);
        if (rule->treatment == Treatment::Drop || rule->treatment == Treatment::Ignore)
            continue;
        if (rule->treatment == Treatment::Transparent) {
            flowChildren(c, flow);
            continue;
        }
        const ComputedStyle& s = m_styles[c];
        if (rule->out == u"br") {
            flow.endLine();
        } else if (rule->role == Role::Image) {
            if (s.width.unit == css::Size::Unit::Px)
                flow.atomic({s.width.value + horizontal(s) + horizontalMargins(s),
                             s.width.value + horizontal(s) + horizontalMargins(s)});
        } else if (rule->role == Role::Table) {
            Extent t = tableExtent(c);
            const qreal margins = horizontalMargins(s);
            flow.block({t.min + margins, t.max + margins});
        } else if (isBlockLevel(s.display) || s.display == Display::InlineBlock) {
            Extent inner = contentExtent(c);
            // A marquee scrolls whatever it holds: it fits any width.
            if (e.name == u"marquee")
                inner.min = 0;
            const qreal edges = horizontal(s) + horizontalMargins(s);
            if (s.width.unit == css::Size::Unit::Px)
                inner.min = inner.max = std::max(inner.min, s.width.value);
            if (s.display == Display::InlineBlock) {
                flow.atomic({inner.min + edges, inner.max + edges});
            } else {
                flow.block({inner.min + edges, inner.max + edges});
            }
        } else {
            flowChildren(c, flow);
        }
    }
}

Writer::Extent Writer::contentExtent(int parent)
{
    Flow flow;
    flowChildren(parent, flow);
    flow.endLine();
    if (flow.onlyText && flow.lines == 1)
        flow.extent.lineHeight = flow.tallest;
    return flow.extent;
}

Writer::Extent Writer::cellExtent(int cell)
{
    if (const auto it = m_extents.constFind(cell); it != m_extents.cend())
        return *it;
    const Extent e = contentExtent(cell);
    m_extents.insert(cell, e);
    return e;
}

bool Writer::gridOf(int table, QList<PlacedCell>& cells, int& columns) const
{
    columns = 0;
    QList<int> rowsTaken; // by column: rows a cell above still spans
    qint64 area = 0;
    const auto row = [&](int r) {
        int column = 0;
        for (int c = m_doc[r].firstChild; c != kNone; c = m_doc[c].nextSibling) {
            if (roleOf(m_doc[c]) != Role::Cell || m_styles[c].display == Display::None)
                continue;
            while (column < rowsTaken.size() && rowsTaken[column] > 0)
                ++column;
            const QString* colspan = m_doc[c].attribute(u"colspan");
            const QString* rowspan = m_doc[c].attribute(u"rowspan");
            const int span = colspan ? boundedInteger(*colspan, 1, kMaxColspan).value_or(1) : 1;
            const int down = rowspan ? boundedInteger(*rowspan, 1, kMaxRowspan).value_or(1) : 1;
            if (rowsTaken.size() < column + span)
                rowsTaken.resize(column + span, 0);
            for (int k = column; k < column + span; ++k)
                rowsTaken[k] = std::max(rowsTaken[k], down);
            cells.append({c, column, span});
            column += span;
            area += span;
        }
        for (int& left : rowsTaken)
            left = std::max(0, left - 1);
        columns = std::max<int>(columns, rowsTaken.size());
    };
    for (int c = m_doc[table].firstChild; c != kNone; c = m_doc[c].nextSibling) {
        const Role role = roleOf(m_doc[c]);
        if (m_styles[c].display == Display::None)
            continue;
        if (role == Role::Row) {
            row(c);
        } else if (role == Role::Section) {
            for (int r = m_doc[c].firstChild; r != kNone; r = m_doc[r].nextSibling)
                if (roleOf(m_doc[r]) == Role::Row && m_styles[r].display != Display::None)
                    row(r);
        }
        if (area > m_limits.maxTableCells)
            return false;
    }
    return columns > 0;
}

namespace {

struct Column
{
    qreal min = 0;
    qreal max = 0;
    bool fixed = false; // a cell of it has a width in px
    qreal percent = 0;
};

// CSS 2.1's automatic table layout as browsers share a table's width out:
// the widest contents when they fit, else each column's narrowest plus a
// share of what is left in proportion to how much more it would take; a
// wider table's excess to the columns without a width of their own.
QList<qreal> shareOut(const QList<Column>& columns, qreal target)
{
    QList<qreal> widths(columns.size(), 0);
    qreal maxSum = 0;
    qreal minSum = 0;
    for (const Column& c : columns) {
        minSum += c.min;
        maxSum += c.max;
    }
    if (target >= maxSum) {
        qreal autoMax = 0;
        int autos = 0;
        for (const Column& c : columns) {
            if (!c.fixed && c.percent <= 0) {
                autoMax += c.max;
                ++autos;
            }
        }
        qreal fixedMax = 0;
        for (const Column& c : columns)
            fixedMax += c.fixed ? c.max : 0;
        const qreal excess = target - maxSum;
        for (int i = 0; i < columns.size(); ++i) {
            const Column& c = columns[i];
            widths[i] = c.max;
            if (autos > 0) {
                if (c.fixed || c.percent > 0)
                    continue;
                widths[i] += autoMax > 0 ? excess * c.max / autoMax : excess / autos;
            } else if (fixedMax > 0) {
                widths[i] += excess * c.max / fixedMax;
            } else {
                widths[i] += excess / qreal(columns.size());
            }
        }
        return widths;
    }
    // The fixed columns at their width, the others at their narrowest.
    qreal fixedGuess = 0;
    for (const Column& c : columns)
        fixedGuess += c.fixed || c.percent > 0 ? c.max : c.min;
    const bool autosGrow = target >= fixedGuess;
    const qreal from = autosGrow ? fixedGuess : minSum;
    qreal room = 0;
    for (const Column& c : columns) {
        const bool grows = autosGrow ? !c.fixed && c.percent <= 0 : c.fixed || c.percent > 0;
        room += grows ? c.max - c.min : 0;
    }
    const qreal spare = std::max<qreal>(0, target - from);
    for (int i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        const bool pinned = c.fixed || c.percent > 0;
        const bool grows = autosGrow ? !pinned : pinned;
        widths[i] = autosGrow && pinned ? c.max : c.min;
        if (grows && room > 0)
            widths[i] += spare * (c.max - c.min) / room;
    }
    return widths;
}

} // namespace

Writer::Extent Writer::tableExtent(int table)
{
    if (const auto it = m_extents.constFind(table); it != m_extents.cend())
        return *it;
    // A guard against a table inside itself through a cycle of measures.
    m_extents.insert(table, {});
    QList<PlacedCell> cells;
    int count = 0;
    Extent e;
    if (gridOf(table, cells, count)) {
        const ComputedStyle& s = m_styles[table];
        const bool collapse = s.borderCollapse;
        qreal minSum = 0;
        qreal maxSum = 0;
        QList<Column> columns(count);
        for (const PlacedCell& p : cells) {
            if (p.span != 1)
                continue;
            const ComputedStyle& cs = m_styles[p.node];
            const Extent c = cellExtent(p.node);
            const qreal frame = cellFrame(cs, collapse);
            Column& col = columns[p.column];
            col.min = std::max(col.min, c.min + frame);
            col.max = std::max(col.max, c.max + frame);
            if (cs.width.unit == css::Size::Unit::Px)
                col.max = std::max(col.max, cs.width.value + frame);
        }
        for (const Column& c : columns) {
            minSum += c.min;
            maxSum += std::max(c.min, c.max);
        }
        const qreal spacing = collapse ? 0 : s.borderSpacing * qreal(count + 1);
        const qreal borders = collapse ? 0 : s.border[css::Left].width + s.border[css::Right].width;
        e = {minSum + spacing + borders, maxSum + spacing + borders};
        if (s.width.unit == css::Size::Unit::Px)
            e.min = e.max = std::max(e.min, s.width.value);
    }
    m_extents.insert(table, e);
    return e;
}

void Writer::planColumns(int table)
{
    if (!m_measure || m_measured > m_limits.maxTableCells)
        return;
    QList<PlacedCell> cells;
    int count = 0;
    if (!gridOf(table, cells, count))
        return;
    m_measured += int(cells.size());
    const ComputedStyle& s = m_styles[table];
    const bool collapse = s.borderCollapse;
    // Qt draws a collapsing table's outer borders whole outside its
    // columns, where browsers put half of them inside.
    qreal outerBorders = 0;
    if (collapse) {
        const int first = cells.front().node;
        int last = first;
        for (const PlacedCell& p : cells)
            if (p.column + p.span == count)
                last = p.node;
        outerBorders =
            std::max(s.border[css::Left].width, m_styles[first].border[css::Left].width) +
            std::max(s.border[css::Right].width, m_styles[last].border[css::Right].width);
    }
    QList<Column> columns(count);
    // Spanning cells after the others: what they need beyond the columns
    // they span goes to those columns.
    std::stable_sort(cells.begin(), cells.end(),
                     [](const PlacedCell& a, const PlacedCell& b) { return a.span < b.span; });
    for (const PlacedCell& p : cells) {
        const ComputedStyle& cs = m_styles[p.node];
        const Extent c = cellExtent(p.node);
        const qreal frame = cellFrame(cs, collapse);
        qreal min = c.min + frame;
        qreal max = std::max(min, c.max + frame);
        const bool fixed = cs.width.unit == css::Size::Unit::Px;
        if (fixed)
            max = std::max(min, cs.width.value + frame);
        if (p.span == 1) {
            Column& col = columns[p.column];
            col.min = std::max(col.min, min);
            col.max = std::max(col.max, max);
            col.fixed = col.fixed || fixed;
            if (cs.width.unit == css::Size::Unit::Percent)
                col.percent = std::max(col.percent, cs.width.value);
            continue;
        }
        const qreal between = collapse ? 0 : s.borderSpacing * qreal(p.span - 1);
        qreal spannedMin = between;
        qreal spannedMax = between;
        for (int k = p.column; k < p.column + p.span; ++k) {
            spannedMin += columns[k].min;
            spannedMax += columns[k].max;
        }
        for (int k = p.column; k < p.column + p.span; ++k) {
            Column& col = columns[k];
            const qreal share =
                spannedMax > between ? (col.max) / (spannedMax - between) : 1 / qreal(p.span);
            if (min > spannedMin)
                col.min += (min - spannedMin) * share;
            if (max > spannedMax)
                col.max += (max - spannedMax) * share;
            col.max = std::max(col.max, col.min);
        }
    }
    const qreal spacing = collapse ? 0 : s.borderSpacing * qreal(count + 1);
    const qreal borders = s.border[css::Left].width + s.border[css::Right].width;
    const qreal outside = collapse ? outerBorders : spacing + borders;
    const qreal available = std::max<qreal>(0, m_available - horizontalMargins(s) - outside);
    // Qt drops a width's fraction, and text then wraps that browsers keep on
    // one line: whole pixels, up.
    // Percentages are of the table's own width, when it has one.
    const qreal base = s.width.unit == css::Size::Unit::Px ? s.width.value - outside
                       : s.width.unit == css::Size::Unit::Percent
                           ? s.width.value / 100 * (m_available - horizontalMargins(s)) - outside
                           : available;
    for (Column& c : columns) {
        if (c.percent > 0)
            c.max = std::max(c.min, c.percent / 100 * std::max<qreal>(0, base));
        c.min = std::ceil(c.min - 0.01);
        c.max = std::max(c.min, std::ceil(c.max - 0.01));
    }
    qreal minSum = 0;
    qreal maxSum = 0;
    for (const Column& c : columns) {
        minSum += c.min;
        maxSum += c.max;
    }
    qreal target = 0;
    if (s.width.unit == css::Size::Unit::Px)
        target = std::max(minSum, s.width.value - outside);
    else if (s.width.unit == css::Size::Unit::Percent)
        target =
            std::max(minSum, s.width.value / 100 * (m_available - horizontalMargins(s)) - outside);
    else
        target = std::max(minSum, std::min(maxSum, available));
    if (s.width.unit == css::Size::Unit::Percent || maxSum > available ||
        std::any_of(columns.cbegin(), columns.cend(),
                    [](const Column& c) { return c.percent > 0; }))
        m_result.viewWide = true;
    const QList<qreal> shared = shareOut(columns, target);
    // The columns shared whole pixels out of what is left are rounded where
    // they end, so that the table keeps its width.
    QList<qreal> widths(count);
    qreal end = 0;
    for (int k = 0; k < count; ++k) {
        widths[k] = std::round(end + shared[k]) - std::round(end);
        end += shared[k];
    }
    for (const PlacedCell& p : cells) {
        qreal w = collapse ? 0 : s.borderSpacing * qreal(p.span - 1);
        for (int k = p.column; k < p.column + p.span; ++k)
            w += widths[k];
        m_cellWidths.insert(p.node, w);
        m_cellContents.insert(p.node,
                              std::max<qreal>(0, w - cellFrame(m_styles[p.node], collapse)));
    }
}

} // namespace mizong::page::markup
