#include "markup_writer.h"

#include "html_elements.h"
#include "markup_attributes.h"
#include "markup_output.h"
#include "markup_writer_p.h"
#include "page_links_p.h"
#include "qt_style.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;
using css::ComputedStyle;
using css::Display;
using dom::kNone;
using dom::Node;

void Writer::run()
{
    const ComputedStyle& body = m_styles[m_doc.body];
    QString bodyStyle;
    appendTextStyle(bodyStyle, body, nullptr);
    const ComputedStyle& html = m_styles[m_doc.html];
    // The root's background, or the body's, covers the canvas.
    const ComputedStyle& canvasOf =
        html.backgroundColor.alpha > 0 || !html.backgroundImage.isEmpty() ? html : body;
    const QString picture = backgroundAttribute(canvasOf);
    const css::Color canvas = canvasOf.backgroundColor;
    if (canvas.alpha > 0 && picture.isEmpty()) {
        bodyStyle += u";background-color:"_s;
        bodyStyle += colorText(canvas);
    }
    const auto side = [&](int s) {
        return body.marginAuto[s] ? 0 : std::clamp<qreal>(body.margin[s], 0, kMaxLength);
    };
    // Qt never applies the top margin of a frame's first block, and a
    // browser collapses it with the body's (in quirks mode it ignores it).
    const qreal top =
        m_doc.quirks
            ? side(css::Top)
            : std::max(side(css::Top), std::clamp<qreal>(firstBlockTop(m_doc.body), 0, kMaxLength));
    m_firstInBody = firstInBody();
    m_result.margins = QMarginsF(side(css::Left), top, side(css::Right), side(css::Bottom));
    m_available = std::max<qreal>(0, m_viewWidth - side(css::Left) - side(css::Right));
    m_out.reserve(4096);
    m_out += u"<html><head>"_s;
    title();
    m_out += u"</head><body"_s;
    appendAttribute(m_out, u"style", bodyStyle);
    m_out += picture;
    m_out += u'>';
    children(m_doc.body, body);
    m_out += u"</body></html>"_s;
    m_result.html = std::move(m_out);
}

void Writer::title()
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

bool Writer::claim(Role role, int colspan, int rowspan)
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

bool Writer::open(QStringView name, const QString& attributes, Role role, int colspan, int rowspan)
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

void Writer::close(QStringView name)
{
    --m_depth;
    m_tables.popped(m_depth);
    m_out += u"</"_s;
    m_out += name;
    m_out += u'>';
}

QString Writer::styleAttribute(const QString& declarations)
{
    QString out;
    if (!declarations.isEmpty())
        appendAttribute(out, u"style", declarations);
    return out;
}

void Writer::children(int parent, const ComputedStyle& around, bool runs)
{
    const Node& p = m_doc[parent];
    // A closed <details> shows its first <summary> alone.
    const bool closedDetails = p.isHtml(u"details") && !p.attribute(u"open");
    const Display d = m_styles[parent].display;
    // Once no clearing sibling is found for some child's floats, none is for
    // a later child's, whose floats are fewer: each is looked for once.
    bool mayClear = d == Display::Block || d == Display::ListItem || d == Display::TableCell;
    bool afterBlock = false;
    bool inRun = false;
    QString run; // runStyle(parent), once: it walks the parent's content
    const auto endRun = [&] {
        if (std::exchange(inRun, false))
            close(u"div");
    };
    for (int c = p.firstChild; c != kNone && !m_stopped; c = m_doc[c].nextSibling) {
        const Node& child = m_doc[c];
        if (closedDetails) {
            if (child.isHtml(u"summary")) {
                node(c, around);
                break;
            }
            continue;
        }
        if (mayClear && floatSides(c) != 0) {
            const int end = clearingSibling(c);
            mayClear = end != kNone;
            if (end != kNone) {
                endRun();
                enclosed(c, end, around);
                c = m_doc[end].previousSibling;
                afterBlock = true;
                continue;
            }
        }
        if (runs && child.type == Node::Type::Element && m_styles[c].display != Display::None) {
            const ComputedStyle& cs = m_styles[c];
            if (isBlockLevel(cs.display) && cs.floating == css::Float::None && !cs.outOfFlow) {
                endRun();
                afterBlock = true;
            }
        }
        // Qt gives the block's own format to the lines before its first
        // block only: those after one go in a block of that format, as the
        // anonymous block a browser makes of them.
        if (runs && afterBlock && !inRun && startsFlow(c) &&
            (child.type == Node::Type::Text || !isBlockLevel(m_styles[c].display)) && !isFloat(c)) {
            if (run.isNull())
                run = styleAttribute(runStyle(parent));
            inRun = open(u"div", run);
        }
        writeChild(c, around);
    }
    endRun();
}

QString Writer::runStyle(int n) const
{
    ComputedStyle bare = m_styles[n];
    bare.margin = {};
    bare.marginAuto = {};
    QString style;
    appendBlockStyle(style, bare, true, normalLine(n));
    return style;
}

void Writer::writeChild(int c, const ComputedStyle& around)
{
    if (floatsIntoNext(c))
        m_pendingFloat = c;
    else
        node(c, around);
}

bool Writer::floatsIntoNext(int c) const
{
    const Node& e = m_doc[c];
    if (e.type != Node::Type::Element || !e.isHtml(u"img") || !isFloat(c) ||
        m_pendingFloat != kNone)
        return false;
    int next = e.nextSibling;
    while (next != kNone && !startsFlow(next))
        next = m_doc[next].nextSibling;
    if (next == kNone || m_doc[next].type != Node::Type::Element || writtenAsTable(next) ||
        isFloat(next) || !isBlockLevel(m_styles[next].display) ||
        m_doc[next].ns != dom::Namespace::Html)
        return false;
    const ElementRule* rule = ruleFor(m_doc[next].name);
    const QStringView out = rule->out;
    return rule->treatment == Treatment::Element &&
           (rule->role == Role::None || rule->role == Role::Heading) &&
           (out == u"p" || out == u"div" || isHeading(out) || out == u"blockquote" ||
            out == u"address" || out == u"center");
}

void Writer::node(int n, const ComputedStyle& around)
{
    const Node& e = m_doc[n];
    if (e.type == Node::Type::Text)
        return text(e.text);
    if (e.type != Node::Type::Element || m_styles[n].display == Display::None)
        return;
    if (e.ns == dom::Namespace::Svg)
        return drawingsRoom(n, around); // no vector pictures here
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

void Writer::text(QStringView t)
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

void Writer::textStyle(QString& out, const ComputedStyle& s, const ComputedStyle* around,
                       quint16 look) const
{
    if (!m_keepLines || s.whiteSpace != css::WhiteSpace::Normal)
        return appendTextStyle(out, s, around, look);
    ComputedStyle kept = s;
    kept.whiteSpace = css::WhiteSpace::Nowrap;
    if (!around)
        return appendTextStyle(out, kept, nullptr, look);
    ComputedStyle keptAround = *around;
    if (keptAround.whiteSpace == css::WhiteSpace::Normal)
        keptAround.whiteSpace = css::WhiteSpace::Nowrap;
    appendTextStyle(out, kept, &keptAround, look);
}

QString Writer::attributesOf(int n, QStringView out, QStringView except)
{
    QString attributes;
    appendAttributes(attributes, out, m_doc[n], m_page.linkOf.value(n, -1), except);
    return attributes;
}

void Writer::inlineElement(int n, QStringView out, const ComputedStyle& around)
{
    const ComputedStyle& s = m_styles[n];
    QString style;
    textStyle(style, s, &around, qtLookOf(out));
    if (s.backgroundColor.alpha > 0)
        style += (style.isEmpty() ? u""_s : u";"_s) + u"background-color:"_s +
                 colorText(s.backgroundColor);
    if (!open(out, attributesOf(n, out) + styleAttribute(style)))
        return;
    children(n, s);
    close(out);
}

void Writer::block(int n, QStringView out, const ComputedStyle& around, bool withMargins)
{
    const ComputedStyle& s = m_styles[n];
    if ((s.display == Display::Flex && s.flexRow) ||
        (s.display == Display::Grid && s.gridColumns > 1))
        return layoutTable(n, around, withMargins);
    const bool blockOut = isBlockName(out);
    const QStringView name = blockOut ? out : u"div";
    QString style;
    textStyle(style, s, &around, qtLookOf(name));
    if (style.size())
        style += u';';
    const bool list = name == u"ul" || name == u"ol" || name == u"li";
    QString blockStyle;
    // Qt drops the first block's top margin itself, but not after floats.
    const qreal top = withMargins && n != m_firstInBody ? adjoiningTop(n, false) : 0;
    if (withMargins && !list && top != s.margin[css::Top]) {
        ComputedStyle adjoined = s;
        adjoined.margin[css::Top] = top;
        adjoined.marginAuto[css::Top] = false;
        appendBlockStyle(blockStyle, adjoined, true, normalLine(n));
    } else if (!withMargins) {
        // Its margins are its table's: without a zero Qt's importer would
        // give a heading or a paragraph its own inside the cell.
        ComputedStyle bare = s;
        bare.margin = {};
        bare.marginAuto = {};
        appendBlockStyle(blockStyle, bare, true, normalLine(n));
    } else {
        appendBlockStyle(blockStyle, s, !list, normalLine(n));
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
    // A floating picture right before this block floats from its top: in a
    // block of its own Qt would give it a line that pushes this one down.
    if (const int floating = std::exchange(m_pendingFloat, kNone); floating != kNone)
        image(floating, around);
    if (anchor && open(u"a", attributesOf(n, u"a"))) {
        children(n, s);
        close(u"a");
    } else if (!anchor) {
        children(n, s, true);
    }
    // A picture alone on its line stands on the baseline, and browsers keep
    // the font's descent below it: Qt does so for text only.
    if (name != u"li" && pictureAlone(n) && open(u"span", u" style=\"white-space:pre\""_s)) {
        m_out += u' ';
        close(u"span");
    }
    close(name);
}

namespace {

bool isCollapsibleSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool keepsSpaces(css::WhiteSpace w)
{
    return w == css::WhiteSpace::Pre || w == css::WhiteSpace::PreWrap;
}

} // namespace

qreal Writer::normalLine(int n) const
{
    const ComputedStyle& s = m_styles[n];
    if (!m_measure || (s.lineHeight && *s.lineHeight > 0))
        return 0;
    // In quirks mode only a box with text of its own on a line (or a border
    // or padding) makes that line tall: a block of nothing but small print
    // has the small print's lines. Elsewhere the block's own font always
    // counts, and every inline box in it.
    const bool quirks = m_doc.quirks;
    struct Piece
    {
        int owner; // the element whose box the text is in; kNone for a line break
        QStringView text;
    };
    QList<Piece> pieces;
    // Only where every line is of one font: a larger word or a picture makes
    // a browser's line taller, which a fixed one would not.
    const auto sameLines = [](const ComputedStyle& a, const ComputedStyle& b) {
        return a.fontSize == b.fontSize && a.fontFamilies == b.fontFamilies &&
               a.verticalAlign == b.verticalAlign && a.lineHeight == b.lineHeight;
    };
    const ComputedStyle* lines = quirks ? nullptr : &s;
    const auto counts = [&](const ComputedStyle& cs) {
        if (!lines)
            lines = &cs;
        return sameLines(cs, *lines);
    };
    QList<int> stack;
    for (int c = m_doc[n].lastChild; c != kNone; c = m_doc[c].previousSibling)
        stack.append(c);
    while (!stack.isEmpty()) {
        const int c = stack.takeLast();
        const Node& e = m_doc[c];
        if (e.type == Node::Type::Text) {
            if (quirks)
                pieces.append(Piece{e.parent, e.text});
            continue;
        }
        if (e.type != Node::Type::Element)
            continue;
        const ComputedStyle& cs = m_styles[c];
        if (cs.display == Display::None || isBlockLevel(cs.display) ||
            cs.floating != css::Float::None || cs.outOfFlow)
            continue; // lines of their own, or none
        const ElementRule* rule = ruleFor(e.name);
        if (e.ns == dom::Namespace::Html &&
            (rule->treatment == Treatment::Drop || rule->treatment == Treatment::Ignore))
            continue;
        // A marquee is given to Qt as an inline run.
        if (e.ns != dom::Namespace::Html || rule->role == Role::Image ||
            (rule->treatment == Treatment::Element && cs.display != Display::Inline &&
             e.name != u"marquee"))
            return 0;
        if (quirks) {
            if (rule->out == u"br")
                pieces.append(Piece{kNone, {}});
            // Borders and padding put a box on its lines (margins do not).
            const bool edges = hasBorder(cs) || std::any_of(cs.padding.begin(), cs.padding.end(),
                                                            [](qreal p) { return p != 0; });
            if (cs.verticalAlign != css::VerticalAlign::Baseline || (edges && !counts(cs)))
                return 0;
        } else if (!sameLines(cs, s)) {
            return 0;
        }
        for (int k = e.lastChild; k != kNone; k = m_doc[k].previousSibling)
            stack.append(k);
    }
    // Spaces that start or end a line, or follow a space, are gone; the rest
    // put their box on the line.
    const auto blank = [&](const Piece& p) {
        return !keepsSpaces(m_styles[p.owner].whiteSpace) &&
               std::all_of(p.text.begin(), p.text.end(), isCollapsibleSpace);
    };
    // Whether a word follows each piece on its line.
    QList<bool> wordFollows(pieces.size(), false);
    for (qsizetype i = pieces.size() - 1; i > 0; --i) {
        const Piece& p = pieces[i];
        wordFollows[i - 1] =
            p.owner != kNone && (wordFollows[i] || (!p.text.isEmpty() && !blank(p)));
    }
    bool afterWord = false; // on this line, after text that does not end in a space
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        if (p.owner == kNone) {
            afterWord = false;
            continue;
        }
        if (p.text.isEmpty() || (blank(p) && (!afterWord || !wordFollows[i])))
            continue;
        if (!counts(m_styles[p.owner]))
            return 0;
        afterWord = keepsSpaces(m_styles[p.owner].whiteSpace) || !isCollapsibleSpace(p.text.back());
    }
    return m_measure->normalLineHeight(lines ? *lines : s);
}

void writeForQt(const PreparedMarkup& page, const QList<ComputedStyle>& styles,
                const QSet<QUrl>& loadedImages, const MarkupLimits& limits, const ViewMetrics& view,
                const TextMeasure* measure, WrittenMarkup& result)
{
    Writer writer(page, styles, loadedImages, limits, measure, result);
    writer.setViewWidth(view.width - view.scrollBarWidth);
    writer.run();
}

} // namespace mizong::page::markup
