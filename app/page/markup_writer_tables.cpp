#include "html_elements.h"
#include "markup_attributes.h"
#include "markup_output.h"
#include "markup_writer_p.h"
#include "page_links_p.h"
#include "qt_style.h"

#include <algorithm>
#include <cmath>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;
using css::ComputedStyle;
using css::Display;
using dom::kNone;
using dom::Node;

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

bool hasBorder(const ComputedStyle& s)
{
    return std::any_of(s.border.cbegin(), s.border.cend(), [](const css::BorderSide& b) {
        return b.width > 0 && b.style != css::BorderStyle::None &&
               b.style != css::BorderStyle::Hidden;
    });
}

bool needsBox(const ComputedStyle& s)
{
    // A background picture that may load: the box is the same before it does.
    return hasBorder(s) || s.backgroundColor.alpha > 0 ||
           (!s.backgroundImage.isEmpty() && isWebUrl(QUrl(s.backgroundImage))) ||
           !s.width.isAuto() || s.floating != css::Float::None ||
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

qreal Writer::centringShift() const
{
    // Qt centres a table of the page's flow half the page's left margin
    // too far right (in a cell it does not centre one at all); the right
    // margin keeps the width a percentage gives it.
    return m_tables.inTable() ? 0 : -m_result.margins.left() / 2;
}

bool Writer::writtenAsTable(int n) const
{
    const Node& e = m_doc[n];
    const ComputedStyle& s = m_styles[n];
    if (e.type != Node::Type::Element || e.ns != dom::Namespace::Html || !isBlockLevel(s.display) ||
        s.floating != css::Float::None)
        return false;
    const ElementRule* rule = ruleFor(e.name);
    if (rule->treatment != Treatment::Element)
        return false;
    if (rule->role == Role::Table || (s.display == Display::Flex && s.flexRow) ||
        (s.display == Display::Grid && s.gridColumns > 1))
        return true;
    const QStringView out = rule->out;
    if (out == u"hr")
        return true;
    if (out == u"li" || out == u"dt" || out == u"dd")
        return false;
    return out == u"ul" || out == u"ol" ? needsBox(withoutPadding(s)) : needsBox(s);
}

qreal Writer::firstBlockTop(int parent) const
{
    qreal top = 0;
    for (int depth = 0; depth < m_limits.maxDepth; ++depth) {
        int c = m_doc[parent].firstChild;
        // Floats before the first block stand below its collapsed margin.
        while (c != kNone && (!startsFlow(c) || isFloat(c)))
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

bool Writer::isFloat(int c) const
{
    return m_doc[c].type == Node::Type::Element && m_styles[c].floating != css::Float::None;
}

quint8 Writer::floatSides(int n) const
{
    const Node& e = m_doc[n];
    if (e.type != Node::Type::Element)
        return 0;
    const ComputedStyle& s = m_styles[n];
    if (s.display == Display::None || s.outOfFlow)
        return 0;
    if (s.floating != css::Float::None)
        return s.floating == css::Float::Left ? kFloatLeft : kFloatRight;
    // A table of ours is as tall as the floats in it.
    if (writtenAsTable(n) || e.firstChild == kNone)
        return 0;
    if (m_floatSides.empty())
        m_floatSides.assign(size_t(m_doc.nodes.size()), -1);
    if (m_floatSides[size_t(n)] < 0) {
        // Floats a later child clears end inside.
        quint8 sides = 0;
        for (int c = e.firstChild; c != kNone; c = m_doc[c].nextSibling) {
            sides &= ~clearedSides(c);
            sides |= floatSides(c);
        }
        m_floatSides[size_t(n)] = qint8(sides);
    }
    return quint8(m_floatSides[size_t(n)]);
}

quint8 Writer::clearedSides(int n) const
{
    if (m_doc[n].type != Node::Type::Element)
        return 0;
    const ComputedStyle& s = m_styles[n];
    if (!isBlockLevel(s.display) || s.floating != css::Float::None || s.outOfFlow)
        return 0;
    switch (s.clear) {
    case css::Clear::None:
        return 0;
    case css::Clear::Left:
        return kFloatLeft;
    case css::Clear::Right:
        return kFloatRight;
    case css::Clear::Both:
        break;
    }
    return kFloatLeft | kFloatRight;
}

int Writer::clearingSibling(int first) const
{
    quint8 sides = floatSides(first);
    if (sides == 0)
        return kNone;
    for (int c = m_doc[first].nextSibling; c != kNone; c = m_doc[c].nextSibling) {
        if (m_doc[c].type != Node::Type::Element)
            continue;
        if ((clearedSides(c) & sides) != 0)
            return c;
        sides |= floatSides(c);
    }
    return kNone;
}

void Writer::enclosed(int first, int end, const ComputedStyle& around)
{
    // Qt drops the top margin of a cell's first block: it goes on the table.
    const qreal top =
        first == m_firstInBody || !startsFlow(first) || isFloat(first) ? 0
        : m_doc[first].type == Node::Type::Element && isBlockLevel(m_styles[first].display)
            ? adjoiningTop(first, true)
            : 0;
    const QString table =
        u" width=\"100%\" cellspacing=\"0\" cellpadding=\"0\" style=\"border-collapse:collapse;margin-top:"_s +
        QString::number(std::lround(boundedPx(top))) + u"px;margin-bottom:0px\""_s;
    if (open(u"table", table, Role::Table)) {
        if (open(u"tr", QString(), Role::Row)) {
            if (open(u"td", u" style=\"vertical-align:top\""_s, Role::Cell)) {
                for (int c = first; c != end && !m_stopped; c = m_doc[c].nextSibling) {
                    if (!floatsIntoNext(c)) {
                        node(c, around);
                        continue;
                    }
                    // A floating picture goes into the block after it only
                    // when that block is in here too.
                    int next = m_doc[c].nextSibling;
                    while (next != end && !startsFlow(next))
                        next = m_doc[next].nextSibling;
                    if (next == end)
                        node(c, around);
                    else
                        m_pendingFloat = c;
                }
                close(u"td");
            }
            close(u"tr");
        }
        close(u"table");
    }
    m_cleared = end;
}

int Writer::firstInBody() const
{
    int c = m_doc[m_doc.body].firstChild;
    while (c != kNone && (!startsFlow(c) || isFloat(c)))
        c = m_doc[c].nextSibling;
    return c;
}

bool Writer::startsFlow(int c) const
{
    const Node& e = m_doc[c];
    if (e.type == Node::Type::Text)
        return !QStringView(e.text).trimmed().isEmpty();
    return e.type == Node::Type::Element && m_styles[c].display != Display::None;
}

int Writer::previousInFlow(int n) const
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
        return isBlockLevel(s.display) && s.floating == css::Float::None && !s.outOfFlow ? p
                                                                                         : kNone;
    }
    return kNone;
}

qreal Writer::adjoiningTop(int n, bool asTable) const
{
    if (n == m_cleared)
        return 0;
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
    // Qt drops the bottom margin of the block before a table, which may be
    // that of a paragraph ending the block before: browsers collapse it
    // through to here.
    return asTable ? std::max(top, lastBlockBottom(p)) : top;
}

std::pair<qreal, qreal> Writer::innerMargins(int n) const
{
    // Qt applies neither in a cell.
    int last = m_doc[n].lastChild;
    while (last != kNone && !startsFlow(last))
        last = m_doc[last].previousSibling;
    qreal bottom = 0;
    if (last != kNone && m_doc[last].type == Node::Type::Element) {
        const ComputedStyle& l = m_styles[last];
        if (isBlockLevel(l.display) && l.floating == css::Float::None && !l.outOfFlow &&
            !writtenAsTable(last) && l.display != Display::ListItem)
            bottom = lastBlockBottom(last);
    }
    return {firstBlockTop(n), bottom};
}

qreal Writer::lastBlockBottom(int n) const
{
    qreal bottom = 0;
    for (int depth = 0; depth < m_limits.maxDepth; ++depth) {
        const ComputedStyle& s = m_styles[n];
        // A table's bottom margin Qt adds after it itself.
        if (depth > 0 && writtenAsTable(n))
            return bottom;
        if (!s.marginAuto[css::Bottom])
            bottom = std::max(bottom, s.margin[css::Bottom]);
        if (s.border[css::Bottom].width > 0 || s.padding[css::Bottom] > 0 ||
            s.display == Display::ListItem)
            return bottom;
        int c = m_doc[n].lastChild;
        while (c != kNone && !startsFlow(c))
            c = m_doc[c].previousSibling;
        if (c == kNone || m_doc[c].type != Node::Type::Element)
            return bottom;
        const ComputedStyle& last = m_styles[c];
        if (!isBlockLevel(last.display) || last.floating != css::Float::None || last.outOfFlow)
            return bottom;
        n = c;
    }
    return bottom;
}

void Writer::box(int n, QStringView out, const ComputedStyle& around)
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
    // Without a bottom border or padding the margin of the block it ends
    // with comes out below it, as Qt drops it in the cell.
    const bool bottomOpen = s.border[css::Bottom].width <= 0 && s.padding[css::Bottom] <= 0;
    for (int side = 0; side < 4; ++side) {
        qreal m = side == css::Top     ? adjoiningTop(n, true)
                  : s.marginAuto[side] ? 0
                                       : std::max<qreal>(0, s.margin[side]);
        if (s.marginAuto[css::Left] && s.marginAuto[css::Right] &&
            (side == css::Left || side == css::Right))
            m = side == css::Left ? centringShift() : -centringShift();
        if (side == css::Bottom && bottomOpen)
            m = std::max(m, innerMargins(n).second);
        tableStyle += u';' + margins[side].toString() + u':' +
                      QString::number(std::lround(boundedPx(m))) + u"px"_s;
    }
    if (s.floating != css::Float::None)
        tableStyle += s.floating == css::Float::Left ? u";float:left"_s : u";float:right"_s;
    appendAttribute(table, u"style", tableStyle);
    if (!open(u"table", table, Role::Table))
        return;
    if (open(u"tr", QString(), Role::Row)) {
        const QString picture = backgroundAttribute(s);
        QString cell;
        // Behind a border or padding the margins of the blocks it starts
        // and ends with stay inside the box.
        ComputedStyle padded = s;
        if (s.border[css::Top].width > 0 || s.padding[css::Top] > 0)
            padded.padding[css::Top] += innerMargins(n).first;
        if (s.border[css::Bottom].width > 0 || s.padding[css::Bottom] > 0)
            padded.padding[css::Bottom] += innerMargins(n).second;
        appendCellStyle(cell, padded, picture.isEmpty());
        cell += u";vertical-align:top"_s;
        if (open(u"td", picture + styleAttribute(cell), Role::Cell)) {
            block(n, out, around, false);
            close(u"td");
        }
        close(u"tr");
    }
    close(u"table");
}

void Writer::tablePart(int n, const ElementRule* rule, const ComputedStyle& around)
{
    const ComputedStyle& s = m_styles[n];
    const Node& e = m_doc[n];
    const QStringView out = rule->out;
    QString style;
    appendTextStyle(style, s, &around, qtLookOf(out));
    const auto add = [&style](const QString& declarations) {
        if (declarations.isEmpty())
            return;
        if (!style.isEmpty())
            style += u';';
        style += declarations;
    };
    // A cell given the browsers' column width (below) drops the page's own.
    std::optional<qreal> cellWidth;
    if (const auto w = m_cellWidths.constFind(n);
        rule->role == Role::Cell && w != m_cellWidths.cend())
        cellWidth = *w;
    QString attributes = attributesOf(n, out, cellWidth ? u"width" : QStringView());
    int colspan = 1;
    int rowspan = 1;
    switch (rule->role) {
    case Role::Table: {
        const QString picture = backgroundAttribute(s);
        planColumns(n);
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
        } else if (hasBorder(s)) {
            // Qt's own grey otherwise; browsers draw the text's colour.
            own += u";border-color:"_s + colorText(s.border[css::Top].color);
        }
        if (!e.attribute(u"bgcolor") && picture.isEmpty() && s.backgroundColor.alpha > 0)
            own += u";background-color:"_s + colorText(s.backgroundColor);
        if (s.floating != css::Float::None)
            own += s.floating == css::Float::Left ? u";float:left"_s : u";float:right"_s;
        const QString* align = e.attribute(u"align");
        if ((align && align->compare(u"center", Qt::CaseInsensitive) == 0) ||
            (s.marginAuto[css::Left] && s.marginAuto[css::Right])) {
            if (const long shift = std::lround(centringShift()); shift != 0)
                own += u";margin-left:"_s + QString::number(shift) + u"px;margin-right:"_s +
                       QString::number(-shift) + u"px"_s;
        }
        add(own);
        if (!e.attribute(u"width") && !s.width.isAuto())
            appendAttribute(attributes, u"width", sizeText(s.width, 0));
        if (!e.attribute(u"cellspacing"))
            appendAttribute(
                attributes, u"cellspacing",
                QString::number(s.borderCollapse ? 0 : std::lround(boundedPx(s.borderSpacing))));
        if (!e.attribute(u"align") && s.marginAuto[css::Left] && s.marginAuto[css::Right])
            appendAttribute(attributes, u"align", u"center"_s);
        attributes += picture;
        break;
    }
    case Role::Row:
        if (!e.attribute(u"bgcolor") && s.backgroundColor.alpha > 0)
            add(u"background-color:"_s + colorText(s.backgroundColor));
        break;
    case Role::Cell: {
        const QString picture = backgroundAttribute(s);
        QString block;
        appendBlockStyle(block, s, false, normalLine(n));
        add(block);
        QString cell;
        // Cells of a table with a border attribute get Qt's own borders.
        const int table = tableOf(n);
        const bool qtBorders =
            table != kNone && m_doc[table].attribute(u"border") && !m_styles[table].borderCollapse;
        css::ComputedStyle borders = s;
        if (qtBorders)
            borders.border = {};
        // Qt has no row heights: a cell's height in px, over its one line of
        // text, is padding where its alignment leaves room.
        if (const auto inside = m_cellContents.constFind(n);
            inside != m_cellContents.cend() && s.height.unit == css::Size::Unit::Px) {
            const Extent e = m_extents.value(n);
            const qreal room = s.height.value - e.lineHeight;
            if (e.lineHeight > 0 && e.max <= *inside + 0.5 && room >= 1) {
                const qreal above = s.verticalAlign == css::VerticalAlign::Bottom ? room
                                    : s.verticalAlign == css::VerticalAlign::Top ||
                                            s.verticalAlign == css::VerticalAlign::Baseline
                                        ? 0
                                        : room / 2;
                borders.padding[css::Top] += above;
                borders.padding[css::Bottom] += room - above;
            }
        }
        appendCellStyle(cell, borders, !e.attribute(u"bgcolor") && picture.isEmpty());
        add(cell);
        add(u"vertical-align:"_s + cellAlign(s.verticalAlign));
        if (const QString* v = e.attribute(u"colspan"))
            colspan = boundedInteger(*v, 1, kMaxColspan).value_or(1);
        if (const QString* v = e.attribute(u"rowspan"))
            rowspan = boundedInteger(*v, 1, kMaxRowspan).value_or(1);
        if (cellWidth) {
            // The browsers' column widths, which Qt keeps. Qt's own cell
            // borders lie outside the width it is given, the page's inside;
            // a spanning cell's width Qt would spread unevenly.
            if (colspan == 1)
                appendAttribute(
                    attributes, u"width",
                    QString::number(std::max<qreal>(
                        0, *cellWidth - (qtBorders && hasBorder(m_styles[table]) ? 2 : 0))));
        } else if (!e.attribute(u"width") && !s.width.isAuto()) {
            appendAttribute(attributes, u"width", sizeText(s.width, 0));
        }
        attributes += picture;
        break;
    }
    case Role::Caption: {
        QString block;
        appendBlockStyle(block, s, true, normalLine(n));
        add(block);
        break;
    }
    default:
        break;
    }
    if (!open(out, attributes + styleAttribute(style), rule->role, colspan, rowspan))
        return;
    const qreal available = m_available;
    if (const auto inside = m_cellContents.constFind(n); inside != m_cellContents.cend())
        m_available = *inside;
    // A cell's lines after a block in it keep its typography too.
    children(n, s, rule->role == Role::Cell || rule->role == Role::Caption);
    m_available = available;
    close(out);
}

QString Writer::cellAlign(css::VerticalAlign v)
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

QString Writer::backgroundAttribute(const ComputedStyle& s)
{
    if (s.backgroundImage.isEmpty())
        return {};
    const QUrl url(s.backgroundImage);
    if (!isWebUrl(url))
        return {};
    const ResourceAddress address = resourceAddress(url);
    if (!m_result.backgroundImages.contains(address.url))
        m_result.backgroundImages.append(address.url);
    if (!m_images.contains(address.url) || (!s.backgroundTiles && s.backgroundColor.alpha > 0))
        return {};
    QString attribute;
    appendAttribute(attribute, u"background", address.text);
    return attribute;
}

int Writer::tableOf(int n) const
{
    for (int p = m_doc[n].parent; p != kNone; p = m_doc[p].parent)
        if (m_doc[p].isHtml(u"table"))
            return p;
    return kNone;
}

} // namespace mizong::page::markup
