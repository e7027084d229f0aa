#include "markup_writer.h"

#include "html_elements.h"
#include "markup_attributes.h"
#include "markup_output.h"
#include "page_links_p.h"
#include "qt_style.h"
#include "table_budget.h"

#include <algorithm>
#include <cmath>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;
using css::ComputedStyle;
using css::Display;
using dom::kNone;
using dom::Node;

namespace {

bool isBlockLevel(Display d)
{
    switch (d) {
    case Display::Inline:
    case Display::InlineBlock:
    case Display::InlineTable:
    case Display::InlineFlex:
    case Display::InlineGrid:
    case Display::Contents:
    case Display::None:
        return false;
    default:
        return true;
    }
}

// Elements Qt's importer lays out as blocks of their own.
bool isBlockName(QStringView out)
{
    static constexpr QStringView names[] = {
        u"div",     u"p",          u"h1",  u"h2", u"h3",     u"h4",    u"h5",
        u"h6",      u"ul",         u"ol",  u"li", u"dl",     u"dt",    u"dd",
        u"address", u"blockquote", u"pre", u"hr", u"center", u"table", u"caption"};
    return std::find(std::begin(names), std::end(names), out) != std::end(names);
}

bool isHeading(QStringView out)
{
    return out.size() == 2 && out[0] == u'h' && out[1] >= u'1' && out[1] <= u'6';
}

// Elements Qt's importer gives a look of its own (italic, bold, a size, a
// face, a line): all of their text properties are written, not only those
// that change, so that the page's own win.
bool hasQtLook(QStringView out)
{
    static constexpr QStringView names[] = {
        u"a",   u"address", u"b",    u"big",   u"cite",   u"code",   u"dfn", u"em",
        u"h1",  u"h2",      u"h3",   u"h4",    u"h5",     u"h6",     u"i",   u"kbd",
        u"pre", u"s",       u"samp", u"small", u"strong", u"sub",    u"sup", u"th",
        u"tt",  u"u",       u"var",  u"nobr",  u"dt",     u"caption"};
    return std::find(std::begin(names), std::end(names), out) != std::end(names);
}

bool hasBorder(const ComputedStyle& s)
{
    return std::any_of(s.border.cbegin(), s.border.cend(), [](const css::BorderSide& b) {
        return b.width > 0 && b.style != css::BorderStyle::None &&
               b.style != css::BorderStyle::Hidden;
    });
}

// What Qt draws only on a table's cell: a box around the block.
bool needsBox(const ComputedStyle& s)
{
    return hasBorder(s) || s.backgroundColor.alpha > 0 || !s.width.isAuto() ||
           s.floating != css::Float::None ||
           std::any_of(s.padding.cbegin(), s.padding.cend(), [](qreal p) { return p > 0; }) ||
           (s.marginAuto[css::Left] && s.marginAuto[css::Right] && !s.maxWidth.isAuto());
}

ComputedStyle withoutPadding(ComputedStyle s)
{
    s.padding = {};
    return s;
}

QString sizeText(const css::Size& size, qreal extra)
{
    if (size.unit == css::Size::Unit::Percent)
        return QString::number(std::clamp<qreal>(size.value, 0, 100)) + u'%';
    return QString::number(std::lround(std::clamp<qreal>(size.value + extra, 0, kMaxLength)));
}

class Writer
{
public:
    Writer(const PreparedMarkup& page, const QList<ComputedStyle>& styles,
           const QSet<QUrl>& loadedImages, const MarkupLimits& limits, WrittenMarkup& result)
        : m_doc(*page.document), m_styles(styles), m_page(page), m_images(loadedImages),
          m_limits(limits), m_result(result), m_tables(limits.maxTableCells)
    {}

    void run()
    {
        const ComputedStyle& body = m_styles[m_doc.body];
        QString bodyStyle;
        appendTextStyle(bodyStyle, body, nullptr);
        const ComputedStyle& html = m_styles[m_doc.html];
        // The root's background, or the body's, covers the canvas.
        const css::Color canvas =
            html.backgroundColor.alpha > 0 ? html.backgroundColor : body.backgroundColor;
        if (canvas.alpha > 0) {
            bodyStyle += u";background-color:"_s;
            bodyStyle += colorText(canvas);
        }
        const auto side = [&](int s) {
            return body.marginAuto[s] ? 0 : std::clamp<qreal>(body.margin[s], 0, kMaxLength);
        };
        // Qt never applies the top margin of a frame's first block, and a
        // browser collapses it with the body's (in quirks mode it ignores it).
        const qreal top =
            m_doc.quirks ? side(css::Top)
                         : std::max(side(css::Top),
                                    std::clamp<qreal>(firstBlockTop(m_doc.body), 0, kMaxLength));
        m_result.margins = QMarginsF(side(css::Left), top, side(css::Right), side(css::Bottom));
        m_out.reserve(4096);
        m_out += u"<html><head>"_s;
        title();
        m_out += u"</head><body"_s;
        appendAttribute(m_out, u"style", bodyStyle);
        m_out += u'>';
        children(m_doc.body, body);
        m_out += u"</body></html>"_s;
        m_result.html = std::move(m_out);
    }

private:
    void title()
    {
        for (int c = m_doc[m_doc.head].firstChild; c != kNone; c = m_doc[c].nextSibling) {
            if (!m_doc[c].isHtml(u"title"))
                continue;
            QString text;
            for (int t = m_doc[c].firstChild; t != kNone; t = m_doc[t].nextSibling)
                text += m_doc[t].text;
            m_out += u"<title>"_s;
            appendEscaped(m_out, text, Escape::Full);
            m_out += u"</title>"_s;
            return;
        }
    }

    // Qt's import costs grow with elements and their depth; its layout's
    // with the tables' grids.
    bool claim(Role role = Role::None, int colspan = 1, int rowspan = 1)
    {
        if (m_stopped)
            return false;
        if (m_depth + 2 >= m_limits.maxDepth) {
            m_result.capped = true;
            return false;
        }
        if (!m_tables.chargeTableCells(role, colspan, rowspan)) {
            m_result.capped = true;
            return false;
        }
        const qint64 nesting = m_nesting + m_depth + 3;
        if (m_elements >= m_limits.maxElements || nesting > m_limits.maxNesting) {
            m_stopped = true;
            m_result.capped = true;
            return false;
        }
        ++m_elements;
        m_nesting = nesting;
        return true;
    }

    bool open(QStringView name, const QString& attributes, Role role = Role::None, int colspan = 1,
              int rowspan = 1)
    {
        if (!claim(role, colspan, rowspan))
            return false;
        m_out += u'<';
        m_out += name;
        m_out += attributes;
        m_out += u'>';
        if (role == Role::Table)
            m_tables.opened(m_depth);
        ++m_depth;
        return true;
    }

    void close(QStringView name)
    {
        --m_depth;
        m_tables.popped(m_depth);
        m_out += u"</"_s;
        m_out += name;
        m_out += u'>';
    }

    static QString styleAttribute(const QString& declarations)
    {
        QString out;
        if (!declarations.isEmpty())
            appendAttribute(out, u"style", declarations);
        return out;
    }

    void children(int parent, const ComputedStyle& around)
    {
        const Node& p = m_doc[parent];
        // A closed <details> shows its first <summary> alone.
        const bool closedDetails = p.isHtml(u"details") && !p.attribute(u"open");
        for (int c = p.firstChild; c != kNone && !m_stopped; c = m_doc[c].nextSibling) {
            const Node& child = m_doc[c];
            if (closedDetails) {
                if (child.isHtml(u"summary")) {
                    node(c, around);
                    break;
                }
                continue;
            }
            node(c, around);
        }
    }

    void node(int n, const ComputedStyle& around)
    {
        const Node& e = m_doc[n];
        if (e.type == Node::Type::Text)
            return text(e.text);
        if (e.type != Node::Type::Element || m_styles[n].display == Display::None)
            return;
        if (e.ns == dom::Namespace::Svg)
            return; // no vector pictures here
        if (e.ns == dom::Namespace::MathMl)
            return inlineElement(n, u"span", around);
        const ElementRule* rule = ruleFor(e.name);
        switch (rule->treatment) {
        case Treatment::Drop:
        case Treatment::Ignore:
            return;
        case Treatment::Transparent:
            return children(n, around);
        case Treatment::Element:
            break;
        }
        const ComputedStyle& s = m_styles[n];
        switch (rule->role) {
        case Role::Link:
        case Role::Style:
        case Role::Title:
            return;
        case Role::Image:
            return image(n, around);
        case Role::Table:
        case Role::Section:
        case Role::Row:
        case Role::Cell:
        case Role::Caption:
            return tablePart(n, rule, around);
        default:
            break;
        }
        if (s.display == Display::Contents)
            return children(n, around);
        const QStringView out = rule->out;
        if (out == u"br") {
            if (claim())
                m_out += u"<br />"_s;
            return;
        }
        if (out == u"hr")
            return rule_(n, around);
        if (!isBlockLevel(s.display))
            return inlineElement(n, isBlockName(out) ? u"span" : out, around);
        // A list's padding is where Qt puts its markers: Qt indents lists itself.
        const bool list = out == u"ul" || out == u"ol";
        // An item in a table of its own would be away from its list: Qt's
        // importer would end the table there.
        const bool item = out == u"li" || out == u"dt" || out == u"dd";
        if (!item && (list ? needsBox(withoutPadding(s)) : needsBox(s)))
            return box(n, out, around);
        block(n, out, around, true);
    }

    // Body text. Runs of the spaces Qt would collapse and browsers never do
    // are kept in a span of their own, an element of the page's budget.
    void text(QStringView t)
    {
        qsizetype from = 0;
        for (qsizetype i = 0; i < t.size(); ++i) {
            if (!isKeptSpace(t[i].unicode()))
                continue;
            qsizetype end = i + 1;
            while (end < t.size() && isKeptSpace(t[end].unicode()))
                ++end;
            if (!claim())
                return;
            appendEscaped(m_out, t.sliced(from, i - from), Escape::Text);
            m_out += u"<span style=\"white-space:pre-wrap\">"_s;
            m_out += t.sliced(i, end - i);
            m_out += u"</span>"_s;
            from = end;
            i = end - 1;
        }
        appendEscaped(m_out, t.sliced(from), Escape::Text);
    }

    QString attributesOf(int n, QStringView out)
    {
        QString attributes;
        appendAttributes(attributes, out, m_doc[n], m_page.linkOf.value(n, -1));
        return attributes;
    }

    void inlineElement(int n, QStringView out, const ComputedStyle& around)
    {
        const ComputedStyle& s = m_styles[n];
        QString style;
        appendTextStyle(style, s, hasQtLook(out) ? nullptr : &around);
        if (s.backgroundColor.alpha > 0)
            style += (style.isEmpty() ? u""_s : u";"_s) + u"background-color:"_s +
                     colorText(s.backgroundColor);
        if (!open(out, attributesOf(n, out) + styleAttribute(style)))
            return;
        children(n, s);
        close(out);
    }

    // Whether Qt lays the element out as a table of ours: a box, a layout
    // or a table of the page's.
    bool writtenAsTable(int n) const
    {
        const Node& e = m_doc[n];
        const ComputedStyle& s = m_styles[n];
        if (e.type != Node::Type::Element || e.ns != dom::Namespace::Html ||
            !isBlockLevel(s.display) || s.floating != css::Float::None)
            return false;
        const ElementRule* rule = ruleFor(e.name);
        if (rule->treatment != Treatment::Element)
            return false;
        if (rule->role == Role::Table || (s.display == Display::Flex && s.flexRow) ||
            (s.display == Display::Grid && s.gridColumns > 1))
            return true;
        const QStringView out = rule->out;
        if (out == u"li" || out == u"dt" || out == u"dd" || out == u"hr")
            return false;
        return out == u"ul" || out == u"ol" ? needsBox(withoutPadding(s)) : needsBox(s);
    }

    // The largest top margin of the blocks that start `parent`, one inside
    // the other, with nothing between their tops; 0 when it starts with a
    // table of ours or with text.
    qreal firstBlockTop(int parent) const
    {
        qreal top = 0;
        for (int depth = 0; depth < m_limits.maxDepth; ++depth) {
            int c = m_doc[parent].firstChild;
            while (c != kNone && !startsFlow(c))
                c = m_doc[c].nextSibling;
            if (c == kNone || m_doc[c].type != Node::Type::Element)
                return top;
            const ComputedStyle& s = m_styles[c];
            if (!isBlockLevel(s.display) || s.floating != css::Float::None || s.outOfFlow ||
                s.display == Display::ListItem || writtenAsTable(c))
                return top;
            if (!s.marginAuto[css::Top])
                top = std::max(top, s.margin[css::Top]);
            if (s.border[css::Top].width > 0 || s.padding[css::Top] > 0)
                return top;
            parent = c;
        }
        return top;
    }

    // Text shown, or an element shown.
    bool startsFlow(int c) const
    {
        const Node& e = m_doc[c];
        if (e.type == Node::Type::Text)
            return !QStringView(e.text).trimmed().isEmpty();
        return e.type == Node::Type::Element && m_styles[c].display != Display::None;
    }

    // The block-level sibling right before n, with nothing shown between.
    int previousInFlow(int n) const
    {
        for (int p = m_doc[n].previousSibling; p != kNone; p = m_doc[p].previousSibling) {
            const Node& e = m_doc[p];
            if (e.type == Node::Type::Text) {
                if (!QStringView(e.text).trimmed().isEmpty())
                    return kNone;
                continue;
            }
            if (e.type != Node::Type::Element || m_styles[p].display == Display::None)
                continue;
            const ComputedStyle& s = m_styles[p];
            return isBlockLevel(s.display) && s.floating == css::Float::None && !s.outOfFlow
                       ? p
                       : kNone;
        }
        return kNone;
    }

    // Browsers keep the larger of two adjoining margins. Qt does so between
    // blocks only: it drops a block's bottom margin before a table and adds
    // a table's bottom margin to what follows it.
    qreal adjoiningTop(int n, bool asTable) const
    {
        const ComputedStyle& s = m_styles[n];
        const qreal top = s.marginAuto[css::Top] ? 0 : std::max<qreal>(0, s.margin[css::Top]);
        const int p = previousInFlow(n);
        if (p == kNone || s.floating != css::Float::None)
            return top;
        const ComputedStyle& before = m_styles[p];
        const qreal bottom =
            before.marginAuto[css::Bottom] ? 0 : std::max<qreal>(0, before.margin[css::Bottom]);
        if (writtenAsTable(p))
            return std::max<qreal>(0, top - bottom);
        return asTable ? std::max(top, bottom) : top;
    }

    // A block without a box: margins, alignment and typography of its own.
    void block(int n, QStringView out, const ComputedStyle& around, bool withMargins)
    {
        const ComputedStyle& s = m_styles[n];
        if ((s.display == Display::Flex && s.flexRow) ||
            (s.display == Display::Grid && s.gridColumns > 1))
            return layoutTable(n, around, withMargins);
        const bool blockOut = isBlockName(out);
        const QStringView name = blockOut ? out : u"div";
        QString style;
        appendTextStyle(style, s, hasQtLook(name) ? nullptr : &around);
        if (style.size())
            style += u';';
        const bool list = name == u"ul" || name == u"ol" || name == u"li";
        QString blockStyle;
        const qreal top = withMargins ? adjoiningTop(n, false) : 0;
        if (withMargins && !list && top != s.margin[css::Top]) {
            ComputedStyle adjoined = s;
            adjoined.margin[css::Top] = top;
            adjoined.marginAuto[css::Top] = false;
            appendBlockStyle(blockStyle, adjoined, true);
        } else {
            appendBlockStyle(blockStyle, s, withMargins && !list);
        }
        if (list && withMargins) {
            blockStyle += QString::asprintf(";margin-top:%dpx;margin-bottom:%dpx",
                                            int(std::lround(boundedPx(top))),
                                            int(std::lround(boundedPx(s.margin[css::Bottom]))));
        }
        if (name == u"ul" || name == u"ol")
            blockStyle += u";list-style-type:"_s + s.listStyleType;
        style += blockStyle;
        // An <a> shown as a block keeps its link inside.
        const bool anchor = out == u"a";
        if (!open(name, (anchor ? QString() : attributesOf(n, name)) + styleAttribute(style)))
            return;
        if (anchor && open(u"a", attributesOf(n, u"a"))) {
            children(n, s);
            close(u"a");
        } else if (!anchor) {
            children(n, s);
        }
        close(name);
    }

    // Borders, padding, a background, a width or a float: a one-cell table,
    // the only box Qt draws them on.
    void box(int n, QStringView out, const ComputedStyle& around)
    {
        const ComputedStyle& s = m_styles[n];
        QString table = u" cellspacing=\"0\" cellpadding=\"0\""_s;
        const qreal horizontal = s.padding[css::Left] + s.padding[css::Right] +
                                 s.border[css::Left].width + s.border[css::Right].width;
        if (!s.width.isAuto())
            appendAttribute(table, u"width", sizeText(s.width, horizontal));
        else if (s.floating == css::Float::None && s.maxWidth.isAuto())
            appendAttribute(table, u"width", u"100%"_s);
        else if (!s.maxWidth.isAuto())
            appendAttribute(table, u"width", sizeText(s.maxWidth, horizontal));
        if (s.marginAuto[css::Left] && s.marginAuto[css::Right])
            appendAttribute(table, u"align", u"center"_s);
        else if (s.marginAuto[css::Left])
            appendAttribute(table, u"align", u"right"_s);
        QString tableStyle = u"border-collapse:collapse"_s;
        static constexpr QStringView margins[] = {u"margin-top", u"margin-right", u"margin-bottom",
                                                  u"margin-left"};
        for (int side = 0; side < 4; ++side) {
            const qreal m = side == css::Top     ? adjoiningTop(n, true)
                            : s.marginAuto[side] ? 0
                                                 : std::max<qreal>(0, s.margin[side]);
            tableStyle += u';' + margins[side].toString() + u':' +
                          QString::number(std::lround(boundedPx(m))) + u"px"_s;
        }
        if (s.floating != css::Float::None)
            tableStyle += s.floating == css::Float::Left ? u";float:left"_s : u";float:right"_s;
        appendAttribute(table, u"style", tableStyle);
        if (!open(u"table", table, Role::Table))
            return;
        if (open(u"tr", QString(), Role::Row)) {
            QString cell;
            appendCellStyle(cell, s, true);
            cell += u";vertical-align:top"_s;
            if (open(u"td", styleAttribute(cell), Role::Cell)) {
                block(n, out, around, false);
                close(u"td");
            }
            close(u"tr");
        }
        close(u"table");
    }

    // A flex row as a one-row table, a grid of N columns as a table of N
    // columns: each item a cell, its box the cell's.
    void layoutTable(int n, const ComputedStyle& around, bool withMargins)
    {
        const ComputedStyle& s = m_styles[n];
        const int columns = s.display == Display::Grid ? std::max(1, s.gridColumns) : 0;
        // Qt has one spacing for both axes. A grid of several rows takes its
        // row gap, as a wrong one there would shift all that follows; a
        // single row its column gap.
        int items = 0;
        for (int c = m_doc[n].firstChild; c != kNone && items <= columns; c = m_doc[c].nextSibling)
            items += isItem(c) ? 1 : 0;
        const qreal gapPx = columns > 0 && items > columns ? s.rowGap : s.columnGap;
        const int gap = int(std::lround(std::clamp<qreal>(gapPx, 0, 1000)));
        // Qt's spacing is around the cells too, and a collapsing table has
        // none: separate cells, pulled out by the spacing at the edges.
        QString style = gap > 0 ? QString() : u"border-collapse:collapse"_s;
        QString textStyle;
        appendTextStyle(textStyle, s, &around);
        if (!textStyle.isEmpty())
            style += (style.isEmpty() ? u""_s : u";"_s) + textStyle;
        const auto margin = [&](int side) {
            const qreal m = !withMargins       ? 0
                            : side == css::Top ? adjoiningTop(n, true)
                                               : std::max<qreal>(0, s.margin[side]);
            return int(std::lround(boundedPx(m))) - gap;
        };
        if (withMargins || gap > 0) {
            style += (style.isEmpty() ? u""_s : u";"_s) +
                     QString::asprintf("margin-top:%dpx;margin-bottom:%dpx", margin(css::Top),
                                       margin(css::Bottom));
        }
        if (gap > 0)
            style += QString::asprintf(";margin-left:%dpx;margin-right:%dpx", -gap, -gap);
        QString table =
            u" cellspacing=\""_s + QString::number(gap) + u"\" cellpadding=\"0\" width=\"100%\""_s;
        appendAttribute(table, u"style", style);
        const QString itemAlign = flexAlign(s);
        if (!open(u"table", table, Role::Table))
            return;
        int inRow = 0;
        bool rowOpen = false;
        for (int c = m_doc[n].firstChild; c != kNone && !m_stopped; c = m_doc[c].nextSibling) {
            const Node& item = m_doc[c];
            if (!isItem(c))
                continue;
            if (!rowOpen || (columns > 0 && inRow == columns)) {
                if (rowOpen)
                    close(u"tr");
                rowOpen = open(u"tr", QString(), Role::Row);
                inRow = 0;
                if (!rowOpen)
                    break;
            }
            ++inRow;
            const ComputedStyle& is = m_styles[c];
            QString cell;
            if (item.type == Node::Type::Element)
                appendCellStyle(cell, is, true);
            cell += (cell.isEmpty() ? u""_s : u";"_s) + u"vertical-align:"_s + itemAlign;
            QString attributes;
            if (item.type == Node::Type::Element && !is.width.isAuto())
                appendAttribute(attributes, u"width", sizeText(is.width, 0));
            if (!open(u"td", attributes + styleAttribute(cell), Role::Cell))
                continue;
            if (item.type == Node::Type::Text) {
                text(item.text);
            } else {
                const ElementRule* rule = ruleFor(item.name);
                const QStringView out =
                    item.ns == dom::Namespace::Html && rule->treatment == Treatment::Element
                        ? rule->out
                        : u"div";
                // An item away from its list or table would make Qt's importer
                // close the table around it: only blocks that stand alone keep
                // their name.
                const bool standsAlone = isHeading(out) || out == u"p" || out == u"pre" ||
                                         out == u"blockquote" || out == u"address" ||
                                         out == u"center" || out == u"a";
                if (rule->role == Role::Image || out == u"br" || out == u"hr" ||
                    rule->treatment != Treatment::Element)
                    node(c, s);
                else
                    block(c, standsAlone ? out : u"div", s, false);
            }
            close(u"td");
        }
        if (rowOpen)
            close(u"tr");
        close(u"table");
    }

    // A flex or grid container's child that becomes one of its items.
    bool isItem(int c) const
    {
        const Node& item = m_doc[c];
        if (item.type == Node::Type::Text)
            return !QStringView(item.text).trimmed().isEmpty();
        return item.type == Node::Type::Element && m_styles[c].display != Display::None;
    }

    // Where the items sit across their row. Stretched ones fill it, as a
    // cell's background does anyway.
    static QString flexAlign(const ComputedStyle& s)
    {
        switch (s.alignItems) {
        case css::AlignItems::Center:
            return u"middle"_s;
        case css::AlignItems::End:
            return u"bottom"_s;
        default:
            return u"top"_s;
        }
    }

    void tablePart(int n, const ElementRule* rule, const ComputedStyle& around)
    {
        const ComputedStyle& s = m_styles[n];
        const Node& e = m_doc[n];
        const QStringView out = rule->out;
        QString style;
        appendTextStyle(style, s, hasQtLook(out) ? nullptr : &around);
        const auto add = [&style](const QString& declarations) {
            if (declarations.isEmpty())
                return;
            if (!style.isEmpty())
                style += u';';
            style += declarations;
        };
        QString attributes = attributesOf(n, out);
        int colspan = 1;
        int rowspan = 1;
        switch (rule->role) {
        case Role::Table: {
            QString own;
            if (s.borderCollapse)
                own += u"border-collapse:collapse;"_s;
            own += QString::asprintf(
                "margin-top:%dpx;margin-bottom:%dpx",
                int(std::lround(boundedPx(adjoiningTop(n, true)))),
                int(std::lround(boundedPx(std::max<qreal>(0, s.margin[css::Bottom])))));
            if (!e.attribute(u"border") && hasBorder(s)) {
                const css::BorderSide& b = s.border[css::Top];
                own += u";border-width:"_s + QString::number(std::lround(boundedPx(b.width))) +
                       u"px;border-style:solid;border-color:"_s + colorText(b.color);
            }
            if (!e.attribute(u"bgcolor") && s.backgroundColor.alpha > 0)
                own += u";background-color:"_s + colorText(s.backgroundColor);
            if (s.floating != css::Float::None)
                own += s.floating == css::Float::Left ? u";float:left"_s : u";float:right"_s;
            add(own);
            if (!e.attribute(u"width") && !s.width.isAuto())
                appendAttribute(attributes, u"width", sizeText(s.width, 0));
            if (!e.attribute(u"cellspacing"))
                appendAttribute(attributes, u"cellspacing",
                                QString::number(s.borderCollapse
                                                    ? 0
                                                    : std::lround(boundedPx(s.borderSpacing))));
            if (!e.attribute(u"align") && s.marginAuto[css::Left] && s.marginAuto[css::Right])
                appendAttribute(attributes, u"align", u"center"_s);
            break;
        }
        case Role::Row:
            if (!e.attribute(u"bgcolor") && s.backgroundColor.alpha > 0)
                add(u"background-color:"_s + colorText(s.backgroundColor));
            break;
        case Role::Cell: {
            QString block;
            appendBlockStyle(block, s, false);
            add(block);
            QString cell;
            // Cells of a table with a border attribute get Qt's own borders.
            const bool qtBorders = tableOf(n) != kNone && m_doc[tableOf(n)].attribute(u"border") &&
                                   !m_styles[tableOf(n)].borderCollapse;
            css::ComputedStyle borders = s;
            if (qtBorders)
                borders.border = {};
            appendCellStyle(cell, borders, !e.attribute(u"bgcolor"));
            add(cell);
            add(u"vertical-align:"_s + cellAlign(s.verticalAlign));
            if (const QString* v = e.attribute(u"colspan"))
                colspan = boundedInteger(*v, 1, kMaxColspan).value_or(1);
            if (const QString* v = e.attribute(u"rowspan"))
                rowspan = boundedInteger(*v, 1, kMaxRowspan).value_or(1);
            if (!e.attribute(u"width") && !s.width.isAuto())
                appendAttribute(attributes, u"width", sizeText(s.width, 0));
            break;
        }
        case Role::Caption: {
            QString block;
            appendBlockStyle(block, s, true);
            add(block);
            break;
        }
        default:
            break;
        }
        if (!open(out, attributes + styleAttribute(style), rule->role, colspan, rowspan))
            return;
        children(n, s);
        close(out);
    }

    static QString cellAlign(css::VerticalAlign v)
    {
        switch (v) {
        case css::VerticalAlign::Top:
        case css::VerticalAlign::TextTop:
            return u"top"_s;
        case css::VerticalAlign::Bottom:
        case css::VerticalAlign::TextBottom:
            return u"bottom"_s;
        default:
            return u"middle"_s;
        }
    }

    int tableOf(int n) const
    {
        for (int p = m_doc[n].parent; p != kNone; p = m_doc[p].parent)
            if (m_doc[p].isHtml(u"table"))
                return p;
        return kNone;
    }

    void rule_(int n, const ComputedStyle& around)
    {
        const ComputedStyle& s = m_styles[n];
        QString attributes = attributesOf(n, u"hr");
        QString style;
        appendBlockStyle(style, s, true);
        const css::BorderSide& b = s.border[css::Top];
        style += u";background-color:"_s + colorText(b.color);
        if (!m_doc[n].attribute(u"width") && !s.width.isAuto())
            appendAttribute(attributes, u"width", sizeText(s.width, 0));
        Q_UNUSED(around);
        if (claim()) {
            m_out += u"<hr"_s + attributes + styleAttribute(style) + u" />"_s;
        }
    }

    void image(int n, const ComputedStyle& around)
    {
        Q_UNUSED(around);
        const Node& e = m_doc[n];
        const QString* src = e.attribute(u"src");
        if (!src)
            return;
        const QUrl url = resolveReference(m_page.base, *src);
        if (!isWebUrl(url))
            return;
        const ResourceAddress address = resourceAddress(url);
        if (!m_images.contains(address.url) || !claim())
            return;
        const ComputedStyle& s = m_styles[n];
        // src first, as the view looks for it there.
        m_out += u"<img src=\""_s;
        appendEscaped(m_out, address.text, Escape::Attribute);
        m_out += u'"';
        for (const dom::Attribute& a : e.attributes) {
            if (a.name == u"alt" || a.name == u"title")
                appendAttribute(m_out, a.name, a.value);
        }
        const auto dimension = [&](QStringView name, const css::Size& size) {
            if (size.unit == css::Size::Unit::Px) {
                appendAttribute(m_out, name, sizeText(size, 0));
            } else if (const QString* v = e.attribute(name)) {
                if (const std::optional<QString> bounded = boundedValue(u"img", name, *v);
                    bounded && !bounded->isEmpty())
                    appendAttribute(m_out, name, *bounded);
            }
        };
        dimension(u"width", s.width);
        dimension(u"height", s.height);
        if (s.floating != css::Float::None)
            appendAttribute(m_out, u"style",
                            s.floating == css::Float::Left ? u"float:left"_s : u"float:right"_s);
        m_out += u" />"_s;
    }

    const dom::Document& m_doc;
    const QList<ComputedStyle>& m_styles;
    const PreparedMarkup& m_page;
    const QSet<QUrl>& m_images;
    const MarkupLimits& m_limits;
    WrittenMarkup& m_result;
    TableBudget m_tables;
    QString m_out;
    int m_depth = 0;
    int m_elements = 0;
    qint64 m_nesting = 0;
    bool m_stopped = false;
};

} // namespace

void writeForQt(const PreparedMarkup& page, const QList<ComputedStyle>& styles,
                const QSet<QUrl>& loadedImages, const MarkupLimits& limits, WrittenMarkup& result)
{
    Writer writer(page, styles, loadedImages, limits, result);
    writer.run();
}

} // namespace mizong::page::markup
