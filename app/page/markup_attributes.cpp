#include "markup_attributes.h"

#include "css_for_qt.h"
#include "html_elements.h"
#include "markup_output.h"
#include "page_links_p.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cmath>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;

QMarginsF bodyMargins(const Token& token)
{
    QMarginsF margins(8, 8, 8, 8);
    const auto attribute = [&token](QStringView name) {
        bool present = false;
        const QStringView value = token.attribute(name, &present);
        return present ? boundedInteger(decodeAttribute(value), 0, int(kMaxLength))
                       : std::optional<int>();
    };
    if (const auto height = attribute(u"marginheight")) {
        margins.setTop(*height);
        margins.setBottom(*height);
    } else {
        if (const auto top = attribute(u"topmargin"))
            margins.setTop(*top);
        if (const auto bottom = attribute(u"bottommargin"))
            margins.setBottom(*bottom);
    }
    if (const auto width = attribute(u"marginwidth")) {
        margins.setLeft(*width);
        margins.setRight(*width);
    } else {
        if (const auto left = attribute(u"leftmargin"))
            margins.setLeft(*left);
        if (const auto right = attribute(u"rightmargin"))
            margins.setRight(*right);
    }
    return margins;
}

bool hiddenByAuthor(const Token& token)
{
    bool present = false;
    token.attribute(u"hidden", &present);
    if (present)
        return true;
    const QString style = decodeAttribute(token.attribute(u"style"));
    for (QStringView declaration : QStringView(style).split(u';')) {
        const qsizetype colon = declaration.indexOf(u':');
        if (colon < 0 || !equalsLowered(declaration.first(colon).trimmed(), u"display"))
            continue;
        QStringView value = declaration.sliced(colon + 1).trimmed();
        const qsizetype bang = value.indexOf(u'!');
        if (bang >= 0)
            value = value.first(bang).trimmed();
        // The last declaration wins, as in the cascade.
        present = equalsLowered(value, u"none");
    }
    return present;
}

void AttributeWriter::appendStartTag(QString& out, QStringView outName, const Token* token)
{
    out += u'<';
    out += outName;
    if (token)
        appendAttributes(out, outName, *token);
    if (outName == u"br" || outName == u"hr")
        out += u" /"_s;
    out += u'>';
}

void AttributeWriter::appendAttribute(QString& out, QStringView name, QStringView value)
{
    out += u' ';
    out += name;
    out += u"=\""_s;
    appendEscaped(out, value, Escape::Attribute);
    out += u'"';
}

void AttributeWriter::appendAttributes(QString& out, QStringView element, const Token& token)
{
    QVarLengthArray<QString, 8> written;
    for (const Attribute& a : token.attributes) {
        const QString name = lowered(a.name);
        if (std::find(written.cbegin(), written.cend(), name) != written.cend())
            continue;
        if (name == u"style") {
            written.append(name);
            const QString css = css::declarationsForQt(
                decodeAttribute(a.value), m_view, m_rootProperties, &m_varBudget,
                element == u"body" ? &bodyStyleMargins : nullptr);
            if (!QStringView(css).trimmed().isEmpty())
                appendAttribute(out, name, css);
        } else if (name == u"href" && element == u"a") {
            written.append(name);
            appendAttribute(out, name, linkHref(int(m_links.size())));
            m_links.append(link(a.value, token));
        } else if (attributeAllowed(element, name)) {
            written.append(name);
            const std::optional<QString> value =
                boundedValue(element, name, decodeAttribute(a.value));
            // Qt ignores attributes without a value.
            if (value && !value->isEmpty())
                appendAttribute(out, name, *value);
        }
    }
}

std::optional<QString> AttributeWriter::boundedValue(QStringView element, QStringView name,
                                                     const QString& value)
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

PageLink AttributeWriter::link(QStringView rawHref, const Token& token) const
{
    bool hasTarget = false;
    const QStringView rawTarget = token.attribute(u"target", &hasTarget);
    const QString target = hasTarget ? decodeAttribute(rawTarget) : m_baseTarget;
    const QString t = target.trimmed().toLower();
    const bool newWindow = !t.isEmpty() && t != u"_self" && t != u"_top" && t != u"_parent";
    return {resolveReference(m_base, decodeAttribute(rawHref)), newWindow};
}

} // namespace mizong::page::markup
