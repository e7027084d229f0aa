#include "html_elements.h"
#include "markup_attributes.h"
#include "markup_output.h"
#include "markup_writer_p.h"
#include "page_links_p.h"
#include "qt_style.h"

#include <algorithm>
#include <cmath>

// What takes room on a page without text: rules, pictures and drawings.
namespace mizong::page::markup {

using namespace Qt::StringLiterals;
using css::ComputedStyle;
using css::Display;
using dom::kNone;
using dom::Node;

void Writer::drawingsRoom(int n, const ComputedStyle& around)
{
    // An inline drawing takes a line as high as it is, which the text after
    // it in a browser stands below: an empty line of about its height keeps
    // that room. Nested drawings are the outer one's.
    if (m_doc[n].name != u"svg" || isBlockLevel(m_styles[n].display))
        return;
    const ComputedStyle& s = m_styles[n];
    qreal height = 150; // a browser's size for a drawing of no size
    if (s.height.unit == css::Size::Unit::Px) {
        height = s.height.value;
    } else if (const QString* h = m_doc[n].attribute(u"height")) {
        QStringView v = QStringView(*h).trimmed();
        if (v.endsWith(u"px"))
            v.chop(2);
        bool ok = false;
        const double parsed = v.toDouble(&ok);
        if (ok && std::isfinite(parsed) && parsed >= 0)
            height = parsed;
    }
    // Qt's line is some 1.17 times its font's size. A zero-width space, as
    // Qt drops a block of only spaces.
    const int size = int(std::lround(std::clamp<qreal>(height / 1.17, around.fontSize, 1000)));
    if (claim())
        m_out += u"<span style=\"font-size:"_s + QString::number(size) + u"px\">&#8203;</span>"_s;
}

void Writer::rule_(int n, const ComputedStyle& around)
{
    Q_UNUSED(around);
    // Qt's <hr> is a block a line of text high; a browser's is as high as
    // its borders and height. An empty cell of a 1 px font is 2 px high: a
    // band of the rule's colour, padded to the rule's height.
    const ComputedStyle& s = m_styles[n];
    QString table = u" cellspacing=\"0\" cellpadding=\"0\""_s;
    appendAttribute(table, u"width", s.width.isAuto() ? u"100%"_s : sizeText(s.width, 0));
    if (s.marginAuto[css::Left] && s.marginAuto[css::Right])
        appendAttribute(table, u"align", u"center"_s);
    else if (s.marginAuto[css::Left])
        appendAttribute(table, u"align", u"right"_s);
    const auto margin = [&](int side) {
        const bool centred = s.marginAuto[css::Left] && s.marginAuto[css::Right];
        const qreal m = side == css::Top                ? adjoiningTop(n, true)
                        : centred && side == css::Left  ? centringShift()
                        : centred && side == css::Right ? -centringShift()
                        : s.marginAuto[side]            ? 0
                                                        : std::max<qreal>(0, s.margin[side]);
        return int(std::lround(boundedPx(m)));
    };
    appendAttribute(table, u"style",
                    QString::asprintf("border-collapse:collapse;margin-top:%dpx;margin-right:%dpx;"
                                      "margin-bottom:%dpx;margin-left:%dpx",
                                      margin(css::Top), margin(css::Right), margin(css::Bottom),
                                      margin(css::Left)));
    const qreal height = s.border[css::Top].width + s.border[css::Bottom].width +
                         (s.height.unit == css::Size::Unit::Px ? s.height.value : 0);
    const css::Color colour =
        s.backgroundColor.alpha > 0 ? s.backgroundColor : s.border[css::Top].color;
    const QString cell = QString::asprintf(
        " style=\"font-size:1px;padding-top:%dpx;padding-right:0px;padding-bottom:0px;"
        "padding-left:0px;background-color:%s\"",
        int(std::lround(std::clamp<qreal>(height - 2, 0, 1000))), qPrintable(colorText(colour)));
    if (!open(u"table", table, Role::Table))
        return;
    if (open(u"tr", QString(), Role::Row)) {
        // Not empty: after a table of an empty cell Qt drops the next
        // block's top margin.
        if (open(u"td", cell, Role::Cell)) {
            m_out += u"&#8203;"_s;
            close(u"td");
        }
        close(u"tr");
    }
    close(u"table");
}

std::optional<ResourceAddress> Writer::loadedImage(int n) const
{
    const QString* src = m_doc[n].attribute(u"src");
    if (!src)
        return std::nullopt;
    const QUrl url = resolveReference(m_page.base, *src);
    if (!isWebUrl(url))
        return std::nullopt;
    ResourceAddress address = resourceAddress(url);
    if (!m_images.contains(address.url))
        return std::nullopt;
    return address;
}

bool Writer::pictureAlone(int n) const
{
    // Without a DOCTYPE a line of pictures alone is as tall as they are.
    const ComputedStyle& s = m_styles[n];
    if (m_doc.quirks || (s.lineHeight && *s.lineHeight > 0))
        return false;
    int pictures = 0;
    QList<int> stack;
    for (int c = m_doc[n].lastChild; c != kNone; c = m_doc[c].previousSibling)
        stack.append(c);
    while (!stack.isEmpty()) {
        const int c = stack.takeLast();
        const Node& e = m_doc[c];
        if (e.type == Node::Type::Text) {
            if (!QStringView(e.text).trimmed().isEmpty())
                return false;
            continue;
        }
        if (e.type != Node::Type::Element)
            continue;
        const ComputedStyle& cs = m_styles[c];
        if (cs.display == Display::None || cs.floating != css::Float::None || cs.outOfFlow)
            continue;
        if (isBlockLevel(cs.display) || e.ns != dom::Namespace::Html || e.isHtml(u"br"))
            return false;
        const ElementRule* rule = ruleFor(e.name);
        if (rule->treatment == Treatment::Drop || rule->treatment == Treatment::Ignore)
            continue;
        if (rule->role == Role::Image) {
            if (!loadedImage(c))
                continue;
            if (++pictures > 1 || cs.verticalAlign != css::VerticalAlign::Baseline)
                return false;
            continue;
        }
        for (int g = e.lastChild; g != kNone; g = m_doc[g].previousSibling)
            stack.append(g);
    }
    return pictures == 1;
}

void Writer::image(int n, const ComputedStyle& around)
{
    Q_UNUSED(around);
    const Node& e = m_doc[n];
    const std::optional<ResourceAddress> loaded = loadedImage(n);
    if (!loaded || !claim())
        return;
    const ResourceAddress& address = *loaded;
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

} // namespace mizong::page::markup
