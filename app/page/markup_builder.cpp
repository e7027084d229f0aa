#include "markup_builder.h"

#include "character_references.h"
#include "css_for_qt.h"
#include "html_elements.h"
#include "html_tokenizer.h"
#include "markup_attributes.h"
#include "markup_output.h"
#include "page_links_p.h"
#include "table_budget.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <algorithm>
#include <initializer_list>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;

namespace {

struct OpenElement
{
    const ElementRule* rule;
    QString name;
    qsizetype previousSame; // the next open element of the same name below, or -1
    // Innermost open elements at or below this one, or -1:
    qsizetype boundary;     // a scope boundary
    qsizetype tableContext; // a table (or template)
    qsizetype listScope;    // a boundary or list
    qsizetype special;      // an element that ends the <li>/<dd>/<dt> search
    bool shown;             // written out (not inside dropped content)
    // A <details> without "open": only its first <summary> is shown.
    bool closedDetails = false;
    bool summaryShown = false;
};

class Builder
{
public:
    Builder(const MarkupLimits& limits, const ViewMetrics& view, const QUrl& base,
            const QString& baseTarget, PreparedMarkup& result)
        : m_limits(limits), m_view(view), m_base(base), m_baseTarget(baseTarget), m_result(result),
          m_depthLimit(std::max(0, limits.maxDepth - 2)), m_tableBudget(limits.maxTableCells),
          m_attributes(m_view, m_base, m_baseTarget, m_rootProperties, m_varBudget, result.links)
    {}

    void run(QStringView input)
    {
        m_body.reserve(input.size() + input.size() / 8);
        Tokenizer tokenizer(input);
        Token token;
        while (!m_stopped && tokenizer.next(token)) {
            switch (token.type) {
            case Token::Text:
                if (m_firstHidden < 0)
                    text(token.text);
                break;
            case Token::StartTag:
                startTag(token);
                break;
            case Token::EndTag:
                endTag(token);
                break;
            }
        }
        popTo(0);
        m_result.nesting = m_nesting;
    }

    QString html() const
    {
        QString out;
        out.reserve(m_head.size() + m_body.size() + m_bodyAttributes.size() + 48);
        out += u"<html><head>"_s;
        out += m_head;
        out += u"</head><body"_s;
        out += m_bodyAttributes;
        out += u'>';
        out += m_body;
        out += u"</body></html>"_s;
        return out;
    }

private:
    qsizetype lastOpen(const QString& name) const { return m_lastOpen.value(name, -1); }

    qsizetype lastOpenOf(std::initializer_list<QString> names) const
    {
        qsizetype last = -1;
        for (const QString& n : names)
            last = std::max(last, lastOpen(n));
        return last;
    }

    const OpenElement* top() const { return m_open.isEmpty() ? nullptr : &m_open.last(); }
    qsizetype topBoundary() const { return top() ? top()->boundary : -1; }
    qsizetype topSpecial() const { return top() ? top()->special : -1; }

    // The table whose parts a table tag acts on, or -1.
    qsizetype currentTable() const
    {
        const qsizetype t = top() ? top()->tableContext : -1;
        return t >= 0 && m_open[t].rule->role == Role::Table ? t : -1;
    }

    qsizetype openSection(qsizetype table) const
    {
        const qsizetype s = lastOpenOf({u"tbody"_s, u"thead"_s, u"tfoot"_s});
        return s > table ? s : -1;
    }

    bool claimElement()
    {
        // Each element costs Qt's importer a style match per ancestor.
        const qint64 nesting = m_nesting + qint64(m_open.size()) + 1;
        if (m_elements >= m_limits.maxElements || nesting > m_limits.maxNesting) {
            m_stopped = true;
            m_result.capped = true;
            return false;
        }
        ++m_elements;
        m_nesting = nesting;
        return true;
    }

    bool push(const ElementRule* rule, const QString& name, const Token* token, bool dropContent)
    {
        const qsizetype index = m_open.size();
        bool shown = m_firstHidden < 0 && !dropContent;
        if (shown && (index >= m_depthLimit || !m_tableBudget.chargeTableCells(rule, token))) {
            shown = false;
            m_result.capped = true;
        }
        if (shown) {
            if (!claimElement())
                return false;
            m_attributes.appendStartTag(m_body, rule->out, token);
        } else if (m_firstHidden < 0) {
            m_firstHidden = index;
        }
        const OpenElement* below = top();
        const auto innermost = [&](quint8 flags, qsizetype belowValue) {
            return rule->flags & flags ? index : belowValue;
        };
        OpenElement e{rule,
                      name,
                      lastOpen(name),
                      innermost(Boundary, below ? below->boundary : -1),
                      innermost(TableScope, below ? below->tableContext : -1),
                      innermost(Boundary | ListScope, below ? below->listScope : -1),
                      innermost(Special | Boundary, below ? below->special : -1),
                      shown};
        m_lastOpen.insert(name, index);
        m_open.append(std::move(e));
        if (shown && rule->role == Role::Table)
            m_tableBudget.opened(index);
        return true;
    }

    void pop()
    {
        const OpenElement e = m_open.takeLast();
        if (e.previousSame >= 0)
            m_lastOpen.insert(e.name, e.previousSame);
        else
            m_lastOpen.remove(e.name);
        if (e.shown) {
            m_body += u"</"_s;
            m_body += e.rule->out;
            m_body += u'>';
        }
        if (m_firstHidden == m_open.size())
            m_firstHidden = -1;
        m_tableBudget.popped(m_open.size());
    }

    void popTo(qsizetype index)
    {
        while (m_open.size() > index)
            pop();
    }

    // Body text. Runs of the spaces Qt would collapse and browsers never do
    // are kept in a span of their own, an element of the page's budget.
    void text(QStringView raw)
    {
        if (top() && top()->closedDetails)
            return;
        QString decoded;
        if (raw.contains(u'&')) {
            decoded.reserve(raw.size());
            appendDecoded(decoded, raw, false);
            raw = decoded;
        }
        qsizetype from = 0;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (!isKeptSpace(raw[i].unicode()))
                continue;
            qsizetype end = i + 1;
            while (end < raw.size() && isKeptSpace(raw[end].unicode()))
                ++end;
            if (!leafAllowed() || !claimElement())
                break;
            appendEscaped(m_body, raw.sliced(from, i - from), Escape::Text);
            m_body += u"<span style=\"white-space:pre-wrap\">"_s;
            m_body += raw.sliced(i, end - i);
            m_body += u"</span>"_s;
            from = end;
            i = end - 1;
        }
        appendEscaped(m_body, raw.sliced(from), Escape::Text);
    }

    // What a closed <details> holds, but for its first <summary>.
    bool hiddenByClosedDetails(const QString& name)
    {
        if (!top() || !top()->closedDetails)
            return false;
        if (name == u"summary" && !top()->summaryShown) {
            m_open.last().summaryShown = true;
            return false;
        }
        return true;
    }

    void closeParagraph()
    {
        const qsizetype p = lastOpen(u"p"_s);
        if (p >= 0 && p > topBoundary())
            popTo(p);
    }

    // Leaves (void elements, preformatted blocks) go where an element could.
    bool leafAllowed()
    {
        if (m_firstHidden >= 0)
            return false;
        if (m_open.size() >= m_depthLimit) {
            m_result.capped = true;
            return false;
        }
        return true;
    }

    // HTML's implied end tags before a start tag; false: the tag is ignored.
    bool impliedEnds(const ElementRule* rule, const QString& name)
    {
        switch (rule->role) {
        case Role::ListItem:
        case Role::DefinitionItem: {
            const qsizetype item =
                rule->role == Role::ListItem ? lastOpen(u"li"_s) : lastOpenOf({u"dd"_s, u"dt"_s});
            if (item >= 0 && item >= topSpecial())
                popTo(item);
            break;
        }
        case Role::Anchor:
        case Role::Nobr: {
            const qsizetype same = lastOpen(name);
            if (same >= 0 && same >= topBoundary())
                popTo(same);
            break;
        }
        case Role::Option:
        case Role::OptGroup:
            if (top() && top()->rule->role == Role::Option)
                pop();
            if (rule->role == Role::OptGroup && top() && top()->rule->role == Role::OptGroup)
                pop();
            break;
        case Role::Table: {
            // A table directly inside a table (not in a cell) ends it.
            const qsizetype t = currentTable();
            if (t >= 0 && lastOpenOf({u"td"_s, u"th"_s, u"caption"_s}) < t)
                popTo(t);
            break;
        }
        case Role::Section:
        case Role::Caption: {
            const qsizetype t = currentTable();
            if (t < 0)
                return false;
            popTo(t + 1);
            break;
        }
        case Role::Row: {
            const qsizetype t = currentTable();
            if (t < 0)
                return false;
            const qsizetype s = openSection(t);
            popTo((s >= 0 ? s : t) + 1);
            break;
        }
        case Role::Cell: {
            const qsizetype t = currentTable();
            if (t < 0)
                return false;
            const qsizetype row = lastOpen(u"tr"_s);
            if (row > t) {
                popTo(row + 1);
            } else {
                const qsizetype s = openSection(t);
                popTo((s >= 0 ? s : t) + 1);
                if (!push(&kImpliedRowRule, u"tr"_s, nullptr, false))
                    return false;
            }
            break;
        }
        default:
            break;
        }
        if (rule->flags & ClosesP)
            closeParagraph();
        if (rule->role == Role::Heading && top() && top()->rule->role == Role::Heading)
            pop();
        return true;
    }

    // The outermost open <svg> or <math>, or -1.
    qsizetype foreignRoot() const
    {
        if (lastOpen(u"svg"_s) < 0 && lastOpen(u"math"_s) < 0)
            return -1;
        for (qsizetype i = 0; i < m_open.size(); ++i)
            if (m_open[i].rule->flags & Foreign)
                return i;
        return -1;
    }

    void startTag(const Token& token)
    {
        if (const qsizetype foreign = foreignRoot(); foreign >= 0) {
            if (breaksOutOfForeign(token)) {
                popTo(foreign);
            } else if (token.selfClosing) {
                return; // "/>" ends an element in SVG and MathML
            }
        }
        const ElementRule* rule = ruleFor(token.name);
        if ((rule->flags & Foreign) && token.selfClosing)
            return;
        switch (rule->treatment) {
        case Treatment::Ignore:
            return;
        case Treatment::Transparent:
            if (rule->flags & ClosesP)
                closeParagraph();
            if (rule->role == Role::Body && !m_bodySeen && m_firstHidden < 0) {
                m_bodySeen = true;
                m_attributes.appendAttributes(m_bodyAttributes, u"body", token);
                m_result.bodyMargins = bodyMargins(token);
                m_result.bodyStyleMargins = m_attributes.bodyStyleMargins;
            }
            return;
        case Treatment::Drop:
            if (token.hasContent)
                return;
            impliedEnds(rule, token.name);
            push(rule, token.name, nullptr, true);
            return;
        case Treatment::Element:
            break;
        }
        if ((hiddenByAuthor(token) || hiddenByClosedDetails(token.name)) &&
            rule->role != Role::Link && rule->role != Role::Style && rule->role != Role::Title) {
            if (rule->role == Role::Preformatted || (rule->flags & Void)) {
                if (rule->flags & ClosesP)
                    closeParagraph();
                return;
            }
            if (impliedEnds(rule, token.name) && !m_stopped)
                push(rule, token.name, &token, true);
            return;
        }
        switch (rule->role) {
        case Role::Link:
            styleSheetLink(token);
            return;
        case Role::Style:
            styleElement(token);
            return;
        case Role::Title:
            titleElement(token);
            return;
        case Role::Preformatted:
            closeParagraph();
            if (leafAllowed() && claimElement()) {
                m_body += u"<pre>"_s;
                appendEscaped(m_body, token.text, Escape::Full);
                m_body += u"</pre>"_s;
            }
            return;
        default:
            break;
        }
        if (!impliedEnds(rule, token.name) || m_stopped)
            return;
        if (!(rule->flags & Void)) {
            bool open = false;
            token.attribute(u"open", &open);
            if (push(rule, token.name, &token, false) && token.name == u"details" && !open)
                m_open.last().closedDetails = true;
        } else if (rule->role == Role::Image) {
            image(token);
        } else if (leafAllowed() && claimElement()) {
            m_attributes.appendStartTag(m_body, rule->out, &token);
        }
    }

    void endTag(const Token& token)
    {
        if (token.name == u"br" || token.name == u"p") {
            if (const qsizetype foreign = foreignRoot(); foreign >= 0)
                popTo(foreign);
        }
        if (token.name == u"br") {
            // "</br>" is a line break in every browser.
            if (leafAllowed() && claimElement())
                m_body += u"<br />"_s;
            return;
        }
        const ElementRule* rule = ruleFor(token.name);
        const qsizetype open =
            rule->role == Role::Heading
                ? lastOpenOf({u"h1"_s, u"h2"_s, u"h3"_s, u"h4"_s, u"h5"_s, u"h6"_s})
                : lastOpen(token.name);
        if (open < 0 || !top())
            return;
        qsizetype scope = top()->boundary;
        switch (rule->role) {
        case Role::Table:
        case Role::Section:
        case Role::Row:
        case Role::Cell:
        case Role::Caption:
            scope = top()->tableContext;
            break;
        case Role::ListItem:
            scope = top()->listScope;
            break;
        default:
            break;
        }
        if (open >= scope)
            popTo(open);
    }

    // The listed address of a resource, if it is one this page may load.
    std::optional<ResourceAddress> resource(QStringView rawValue, const QList<QUrl>& listed)
    {
        const QUrl url = resolveReference(m_base, decodeAttribute(rawValue));
        if (!isWebUrl(url))
            return std::nullopt;
        ResourceAddress address = resourceAddress(url);
        if (!listed.contains(address.url) &&
            m_result.styleSheets.size() + m_result.images.size() >= m_limits.maxResources) {
            m_result.capped = true;
            return std::nullopt;
        }
        return address;
    }

    void image(const Token& token)
    {
        if (!leafAllowed())
            return;
        const std::optional<ResourceAddress> src =
            resource(token.attribute(u"src"), m_result.images);
        if (!src || !claimElement())
            return;
        if (!m_result.images.contains(src->url))
            m_result.images.append(src->url);
        // src first: withLoadedImages() looks for it there.
        m_body += u"<img src=\""_s;
        appendEscaped(m_body, src->text, Escape::Attribute);
        m_body += u'"';
        m_attributes.appendAttributes(m_body, u"img", token);
        m_body += u" />"_s;
    }

    void styleSheetLink(const Token& token)
    {
        if (m_firstHidden >= 0)
            return;
        bool isStyleSheet = false;
        const QString rel = decodeAttribute(token.attribute(u"rel")).simplified();
        for (QStringView word : QStringView(rel).split(u' ', Qt::SkipEmptyParts)) {
            if (word.compare(u"stylesheet", Qt::CaseInsensitive) == 0)
                isStyleSheet = true;
            else if (word.compare(u"alternate", Qt::CaseInsensitive) == 0)
                return;
        }
        if (!isStyleSheet)
            return;
        const std::optional<ResourceAddress> href =
            resource(token.attribute(u"href"), m_result.styleSheets);
        if (!href || m_result.styleSheets.contains(href->url) || !claimElement())
            return;
        m_result.styleSheets.append(href->url);
        // Qt imports a linked sheet only with this type.
        m_head += u"<link rel=\"stylesheet\" type=\"text/css\" href=\""_s;
        appendEscaped(m_head, href->text, Escape::Attribute);
        m_head += u"\" />"_s;
    }

    void styleElement(const Token& token)
    {
        if (m_firstHidden >= 0 || !claimElement())
            return;
        int rules = 0;
        const qsizetype fit =
            styleSheetFit(token.text, m_limits.maxStyleRules - m_result.styleRules,
                          m_limits.maxStyleChars - m_result.styleChars, rules);
        if (fit < token.text.size())
            m_result.capped = true;
        css::QtSheetContext context;
        context.view = m_view;
        context.rootProperties = &m_rootProperties;
        context.varBudget = &m_varBudget;
        context.bodyMargins = &m_result.sheetBodyMargins;
        context.import = [this](const QString& target) {
            return importAddress(m_base, target, [this](const QUrl& url) {
                if (m_result.styleSheets.contains(url))
                    return true;
                if (m_result.styleSheets.size() + m_result.images.size() >= m_limits.maxResources) {
                    m_result.capped = true;
                    return false;
                }
                m_result.styleSheets.append(url);
                return true;
            });
        };
        const QString css = css::styleSheetForQt(token.text.first(fit), context);
        m_result.styleChars += css.size();
        m_result.styleRules += rules;
        m_head += u"<style>"_s;
        appendEscaped(m_head, css, Escape::Full);
        m_head += u"</style>"_s;
    }

    void titleElement(const Token& token)
    {
        if (m_firstHidden >= 0 || m_titleSeen || !claimElement())
            return;
        m_titleSeen = true;
        m_head += u"<title>"_s;
        appendText(m_head, token.text, Escape::Full);
        m_head += u"</title>"_s;
    }

    const MarkupLimits& m_limits;
    ViewMetrics m_view;
    // The custom properties of the <style> elements' root rules so far, for
    // var() in later ones and in style attributes.
    css::CustomProperties m_rootProperties;
    qsizetype m_varBudget = css::kVarBudget;
    QUrl m_base;
    QString m_baseTarget;
    PreparedMarkup& m_result;
    qsizetype m_depthLimit;
    QList<OpenElement> m_open;
    QHash<QString, qsizetype> m_lastOpen;
    TableBudget m_tableBudget;
    qsizetype m_firstHidden = -1; // the outermost open element whose content is dropped
    int m_elements = 0;
    qint64 m_nesting = 0;
    bool m_stopped = false;
    bool m_bodySeen = false;
    bool m_titleSeen = false;
    QString m_head;
    QString m_body;
    QString m_bodyAttributes;
    AttributeWriter m_attributes;
};

} // namespace

void buildMarkup(QStringView input, const QUrl& base, const QString& baseTarget,
                 const MarkupLimits& limits, const ViewMetrics& view, PreparedMarkup& result)
{
    Builder builder(limits, view, base, baseTarget, result);
    builder.run(input);
    result.html = builder.html();
}

} // namespace mizong::page::markup
