#include "html_elements.h"
#include "markup_attributes.h"
#include "markup_output.h"
#include "markup_writer_p.h"
#include "qt_style.h"

#include <algorithm>
#include <cmath>

// Flex rows and grids, written as the tables Qt lays out: each item a cell.
namespace mizong::page::markup {

using namespace Qt::StringLiterals;
using css::ComputedStyle;
using css::Display;
using dom::kNone;
using dom::Node;

void Writer::layoutTable(int n, const ComputedStyle& around, bool withMargins)
{
    const ComputedStyle& s = m_styles[n];
    const int columns = s.display == Display::Grid ? std::max(1, s.gridColumns) : 0;
    // Qt has one spacing for both axes. A grid of several rows takes its
    // row gap, as a wrong one there would shift all that follows; a
    // single row its column gap.
    int items = 0;
    for (int c = m_doc[n].firstChild; c != kNone && items <= columns; c = m_doc[c].nextSibling)
        items += startsFlow(c) ? 1 : 0;
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
    // Browsers make a flex item that does not grow as wide as its content
    // and share the row's free space out as justify-content says. Qt's table
    // shrinks to its cells' content when it has no width; space between
    // items is spread by empty cells, which share what fixed-width cells
    // leave, the items kept on one line so that their content is their width.
    int flexItems = 0;
    bool grows = false;
    bool allShort = true;
    // Items that all grow from nothing (flex: 1) share the row by their
    // factors, whatever their content.
    qreal growth = 0;
    for (int c = m_doc[n].firstChild; columns == 0 && c != kNone; c = m_doc[c].nextSibling) {
        if (!startsFlow(c))
            continue;
        ++flexItems;
        const bool element = m_doc[c].type == Node::Type::Element;
        const bool itemGrows = element && m_styles[c].flexGrow > 0;
        grows = grows || itemGrows;
        allShort = allShort && isShortItem(c);
        growth = growth >= 0 && itemGrows && m_styles[c].width.isAuto()
                     ? growth + m_styles[c].flexGrow
                     : -1;
    }
    const bool contentSized = columns == 0 && !grows && flexItems > 0;
    int lead = 0, between = 0, trail = 0;
    QString align;
    if (contentSized) {
        switch (s.justifyContent) {
        case css::JustifyContent::End:
            align = u"right"_s;
            break;
        case css::JustifyContent::Center:
            align = u"center"_s;
            break;
        case css::JustifyContent::SpaceBetween:
            between = flexItems > 1 && allShort ? 1 : 0;
            break;
        case css::JustifyContent::SpaceAround:
            lead = trail = allShort ? 1 : 0;
            between = 2 * lead;
            break;
        case css::JustifyContent::SpaceEvenly:
            lead = trail = between = allShort ? 1 : 0;
            break;
        case css::JustifyContent::Start:
            break;
        }
    }
    const bool spread = lead + between + trail > 0;
    const bool fullWidth =
        !contentSized || spread ||
        (s.justifyContent != css::JustifyContent::Start && !allShort && align.isEmpty());
    QString table = u" cellspacing=\""_s + QString::number(gap) + u"\" cellpadding=\"0\""_s;
    // Qt rounds each spacer's share up: at the full width a spread row
    // would come out a pixel wider than the page, which then scrolls sideways.
    if (fullWidth)
        appendAttribute(table, u"width", spread ? u"99.8%"_s : u"100%"_s);
    if (!align.isEmpty())
        appendAttribute(table, u"align", align);
    appendAttribute(table, u"style", style);
    const QString itemAlign = flexAlign(s);
    if (!open(u"table", table, Role::Table))
        return;
    const auto spacers = [&](int count) {
        for (int i = 0; i < count && !m_stopped; ++i) {
            // Its empty line as small as can be, so that it adds no height.
            if (open(u"td", u" style=\"font-size:1px\""_s, Role::Cell))
                close(u"td");
        }
    };
    // A grid's tracks of a fixed size keep it; when all are shares (fr) of
    // the row, they are those shares of the table, as Qt has no free space
    // to share out after the fixed ones.
    const QList<qreal>& tracks = s.gridTracks;
    const bool allShares =
        columns > 0 && tracks.size() == columns &&
        std::all_of(tracks.cbegin(), tracks.cend(), [](qreal t) { return t < 0; });
    qreal shares = 0;
    for (const qreal t : tracks)
        shares -= allShares ? t : 0;
    const auto trackWidth = [&](int column, qreal extra) -> QString {
        if (column >= tracks.size())
            return {};
        const qreal t = tracks.at(column);
        if (t > 0)
            return QString::number(std::lround(std::min<qreal>(t + extra, kMaxLength)));
        if (allShares && shares > 0)
            return QString::number(std::round(-t / shares * 1000) / 10) + u'%';
        return {};
    };
    const bool keepLines = m_keepLines;
    m_keepLines = m_keepLines || spread;
    int inRow = 0;
    int itemIndex = 0;
    bool rowOpen = false;
    for (int c = m_doc[n].firstChild; c != kNone && !m_stopped; c = m_doc[c].nextSibling) {
        const Node& item = m_doc[c];
        if (!startsFlow(c))
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
        if (spread)
            spacers(itemIndex == 0 ? lead : between);
        ++itemIndex;
        const ComputedStyle& is = m_styles[c];
        QString cell;
        // Qt's one spacing is the grid's row gap: an item that draws no box
        // makes up the rest of the column gap on its left.
        const qreal widerGap = columns > 0 && inRow > 1 && item.type == Node::Type::Element &&
                                       !hasBorder(is) && is.backgroundColor.alpha <= 0
                                   ? std::clamp<qreal>(s.columnGap - gap, 0, 1000)
                                   : 0;
        const QString picture =
            item.type == Node::Type::Element ? backgroundAttribute(is) : QString();
        if (item.type == Node::Type::Element) {
            // An item holds its blocks' margins whatever its edges.
            ComputedStyle padded = is;
            const auto [top, bottom] = innerMargins(c);
            padded.padding[css::Top] += top;
            padded.padding[css::Bottom] += bottom;
            padded.padding[css::Left] += widerGap;
            appendCellStyle(cell, padded, picture.isEmpty());
        }
        cell += (cell.isEmpty() ? u""_s : u";"_s) + u"vertical-align:"_s + itemAlign;
        if (spread)
            cell += u";white-space:nowrap"_s;
        QString attributes = picture;
        if (item.type == Node::Type::Element && !is.width.isAuto())
            appendAttribute(attributes, u"width", sizeText(is.width, 0));
        else if (const QString track = trackWidth(inRow - 1, widerGap); !track.isEmpty())
            appendAttribute(attributes, u"width", track);
        else if (growth > 0)
            appendAttribute(attributes, u"width",
                            QString::number(std::round(is.flexGrow / growth * 1000) / 10) + u'%');
        else if (spread)
            // A fixed column is never widened past its content, which its
            // unbroken line makes the narrowest it can be.
            appendAttribute(attributes, u"width", u"1"_s);
        if (!open(u"td", attributes + styleAttribute(cell), Role::Cell))
            continue;
        if (item.type == Node::Type::Text) {
            text(item.text);
        } else {
            const ElementRule* rule = ruleFor(item.name);
            const QStringView out =
                item.ns == dom::Namespace::Html && rule->treatment == Treatment::Element ? rule->out
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
    if (spread && rowOpen)
        spacers(trail);
    m_keepLines = keepLines;
    if (rowOpen)
        close(u"tr");
    close(u"table");
}

bool Writer::isShortItem(int c) const
{
    constexpr int kShortChars = 16;
    const Node& item = m_doc[c];
    if (item.type == Node::Type::Text)
        return QStringView(item.text).trimmed().size() <= kShortChars;
    int chars = 0;
    // Its descendants, depth first, without recursion: a page may nest deep.
    int at = item.firstChild;
    while (at != kNone) {
        const Node& e = m_doc[at];
        if (e.type == Node::Type::Text) {
            chars += int(QStringView(e.text).trimmed().size());
        } else if (e.type == Node::Type::Element) {
            if (m_styles[at].display == Display::None) {
                at = nextOutside(at, c);
                continue;
            }
            if (isBlockLevel(m_styles[at].display) || e.isHtml(u"img") || e.isHtml(u"br"))
                return false;
        }
        if (chars > kShortChars)
            return false;
        at = e.firstChild != kNone ? e.firstChild : nextOutside(at, c);
    }
    return true;
}

int Writer::nextOutside(int n, int root) const
{
    for (; n != kNone && n != root; n = m_doc[n].parent) {
        if (m_doc[n].nextSibling != kNone)
            return m_doc[n].nextSibling;
    }
    return kNone;
}

QString Writer::flexAlign(const ComputedStyle& s)
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

} // namespace mizong::page::markup
