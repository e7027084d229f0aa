#include "markup_attributes.h"

#include "html_elements.h"
#include "markup_output.h"
#include "page_links_p.h"

namespace mizong::page::markup {

using namespace Qt::StringLiterals;

void appendAttribute(QString& out, QStringView name, QStringView value)
{
    out += u' ';
    out += name;
    out += u"=\""_s;
    appendEscaped(out, value, Escape::Attribute);
    out += u'"';
}

void appendAttributes(QString& out, QStringView element, const dom::Node& node, int linkIndex,
                      QStringView except)
{
    // The tree keeps the first of each name, lower-cased.
    for (const dom::Attribute& a : node.attributes) {
        if (a.name == except) {
            continue;
        } else if (a.name == u"href" && element == u"a") {
            if (linkIndex >= 0)
                appendAttribute(out, a.name, linkHref(linkIndex));
        } else if (attributeAllowed(element, a.name)) {
            const std::optional<QString> value = boundedValue(element, a.name, a.value);
            // Qt ignores attributes without a value.
            if (value && !value->isEmpty())
                appendAttribute(out, a.name, *value);
        }
    }
}

std::optional<QString> boundedValue(QStringView element, QStringView name, const QString& value)
{
    if (name == u"colspan" || name == u"rowspan") {
        const std::optional<int> span =
            boundedInteger(value, 1, name == u"colspan" ? kMaxColspan : kMaxRowspan);
        return span ? std::optional(QString::number(*span)) : std::nullopt;
    }
    if (name == u"size" && element == u"font") {
        // 1 to 7, or a step from the base size.
        const std::optional<int> size = boundedInteger(value, -7, 7);
        if (!size)
            return std::nullopt;
        const QStringView v = QStringView(value).trimmed();
        const bool relative = v.startsWith(u'+') || v.startsWith(u'-');
        return (relative && *size >= 0 ? u"+"_s : QString()) + QString::number(*size);
    }
    if (name == u"width" || name == u"height")
        return boundedLength(value, element != u"img");
    if (name == u"border" || name == u"cellspacing" || name == u"cellpadding")
        return boundedLength(value, false);
    return value;
}

PageLink pageLink(const dom::Node& anchor, const QUrl& base, const QString& baseTarget)
{
    const QString* ownTarget = anchor.attribute(u"target");
    const QString target = ownTarget ? *ownTarget : baseTarget;
    const QString t = target.trimmed().toLower();
    const bool newWindow = !t.isEmpty() && t != u"_self" && t != u"_top" && t != u"_parent";
    const QString* href = anchor.attribute(u"href");
    return {resolveReference(base, href ? *href : QString()), newWindow};
}

} // namespace mizong::page::markup
