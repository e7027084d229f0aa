#include "css_for_qt.h"

#include "css_cascade_p.h"
#include "css_media.h"
#include "css_selectors.h"

#include <QSet>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace mizong::page::css {

namespace {

// The largest number kept: Qt's layout works in 26.6 fixed point and hangs
// or overflows far below the range of int.
constexpr double kMaxNumber = 10000;

// The properties Qt's rich text reads; every other declaration is left out.
bool qtReads(const QString& name)
{
    static const QSet<QString> properties = [] {
        QSet<QString> p;
        const QString names =
            u"background background-color background-image background-repeat "
            u"background-position background-attachment background-clip "
            u"background-origin border border-collapse border-spacing border-radius "
            u"color display float font font-family font-size font-style "
            u"font-variant font-weight height width max-width max-height min-width "
            u"min-height letter-spacing word-spacing line-height list-style "
            u"list-style-type margin padding page-break-before page-break-after "
            u"text-align text-decoration text-indent text-transform vertical-align "
            u"white-space"_s;
        for (QStringView name : QStringView(names).split(u' '))
            p << name.toString();
        for (const QString& side : {u"top"_s, u"right"_s, u"bottom"_s, u"left"_s}) {
            p << u"margin-"_s + side << u"padding-"_s + side << u"border-"_s + side;
            for (const QString& part : {u"width"_s, u"style"_s, u"color"_s})
                p << u"border-"_s + side + u'-' + part << u"border-"_s + part;
        }
        for (const QString& corner :
             {u"top-left"_s, u"top-right"_s, u"bottom-left"_s, u"bottom-right"_s})
            p << u"border-"_s + corner + u"-radius"_s;
        return p;
    }();
    return properties.contains(name);
}

bool takesColorNames(const QString& property)
{
    return property == u"color" || property.endsWith(u"-color") ||
           property.startsWith(u"background") || property.startsWith(u"border") ||
           property == u"text-decoration";
}

QString number(double v)
{
    v = std::clamp(v, -kMaxNumber, kMaxNumber);
    QString s = QString::number(v, 'f', 3);
    while (s.endsWith(u'0'))
        s.chop(1);
    if (s.endsWith(u'.'))
        s.chop(1);
    return s == u"-0" ? u"0"_s : s;
}

QString hex2(int v)
{
    return QString::number(v, 16).rightJustified(2, u'0');
}

// A colour in the forms Qt's parser reads (an alpha at most 1 is a fraction
// to it).
QString colorText(const Color& c)
{
    if (c.alpha <= 0)
        return u"transparent"_s;
    if (c.alpha >= 1)
        return u'#' + hex2(c.red) + hex2(c.green) + hex2(c.blue);
    return u"rgba(%1,%2,%3,%4)"_s.arg(c.red).arg(c.green).arg(c.blue).arg(
        number(std::clamp(c.alpha, 0.001, 0.999)));
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// An identifier as Qt's scanner reads it back: it drops a backslash before
// any character and knows no code point escapes, so a name that needs one
// (or starts with a digit) cannot be written.
std::optional<QString> qtIdent(QStringView s)
{
    if (s.isEmpty() || isAsciiDigit(s[0]) ||
        (s[0] == u'-' && (s.size() == 1 || isAsciiDigit(s[1]) || s[1] == u'-')))
        return std::nullopt;
    QString out;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        const bool plain = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                           isAsciiDigit(c) || u == u'_' || u == u'-' || u >= 0x80;
        if (!plain && (u <= 0x20 || u >= 0x7F))
            return std::nullopt;
        if (!plain)
            out += u'\\';
        out += c;
    }
    return out;
}

// A string Qt's scanner reads whole; "url(" inside it loses its parenthesis
// all the same, so that no reading of it finds a url function there.
QString qtString(QStringView s)
{
    QString out = u"\""_s;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u'"' || c == u'\\')
            out += u'\\';
        if (c == u'\n') {
            out += u' ';
            continue;
        }
        out += c;
        if (c == u'(' && out.size() >= 4 &&
            out.sliced(out.size() - 4, 3).compare(u"url", Qt::CaseInsensitive) == 0) {
            out.chop(1);
            out += u"\\("_s;
        }
    }
    return out + u'"';
}

std::optional<QString> qtSelector(const Selector& selector)
{
    QString out;
    for (const CompoundSelector& compound : selector.compounds) {
        if (!out.isEmpty()) {
            switch (compound.combinator) {
            case Combinator::Descendant:
                out += u' ';
                break;
            case Combinator::Child:
                out += u'>';
                break;
            case Combinator::NextSibling:
                out += u'+';
                break;
            case Combinator::SubsequentSibling:
                out += u'~';
                break;
            }
        }
        for (const SimpleSelector& s : compound.simple) {
            using Kind = SimpleSelector::Kind;
            if (s.kind == Kind::Universal) {
                out += u'*';
                continue;
            }
            if (s.kind == Kind::PseudoClass || s.kind == Kind::PseudoElement ||
                (s.kind == Kind::Attribute && s.caseInsensitive))
                return std::nullopt;
            const std::optional<QString> name = qtIdent(s.name);
            if (!name)
                return std::nullopt;
            if (s.kind == Kind::Id)
                out += u'#';
            else if (s.kind == Kind::Class)
                out += u'.';
            else if (s.kind == Kind::Attribute)
                out += u'[';
            out += *name;
            if (s.kind != Kind::Attribute)
                continue;
            static constexpr QStringView kOps[] = {u"", u"=", u"~=", u"|=", u"^=", u"$=", u"*="};
            out += kOps[int(s.match)];
            if (s.match != AttributeMatch::Exists)
                out += qtString(s.value);
            out += u']';
        }
    }
    return out;
}

struct Written
{
    QString name;
    QString value;
};

class QtWriter
{
public:
    explicit QtWriter(QtSheetContext& context)
        : m_context(context), m_varBudget(context.varBudget ? *context.varBudget : m_ownBudget)
    {}

    QString sheet(QStringView css)
    {
        const StyleSheet parsed = parseStyleSheet(css);
        CustomProperties& root = *m_context.rootProperties;
        collectRoot(parsed.rules, root);
        m_resolver.emplace(root, nullptr, &m_varBudget);
        bool importsAllowed = true;
        rules(parsed.rules, importsAllowed);
        return std::move(m_out);
    }

    // The block's declarations for Qt, joined by ';'; with `body`, its
    // margins go there instead.
    QString declarations(const QList<Declaration>& list, const CustomProperties& root,
                         BodyMargins* body = nullptr)
    {
        // The block's own custom properties over the root's.
        CustomProperties own;
        for (const Declaration& d : list)
            if (d.isCustom())
                own[d.name] = std::vector<Token>(d.value.begin(), d.value.end());
        std::optional<VarResolver> local;
        if (!own.isEmpty())
            local.emplace(root, &own, &m_varBudget);
        else if (!m_resolver)
            m_resolver.emplace(root, nullptr, &m_varBudget);
        VarResolver& resolver = local ? *local : *m_resolver;
        QStringList out;
        for (const Declaration& d : list) {
            const bool margin = body && (d.name == u"margin" || d.name.startsWith(u"margin-"));
            if (d.isCustom() || (!margin && !qtReads(d.name)))
                continue;
            std::optional<std::vector<Token>> substituted;
            Tokens value = d.value;
            if (VarResolver::containsVar(value)) {
                substituted = resolver.substitute(value);
                if (!substituted)
                    continue; // invalid once substituted: dropped
                value = trimmed(Tokens(*substituted));
            }
            if (margin) {
                takeMargin(d.name, value, *body);
                continue;
            }
            const std::optional<Written> w = declaration(d.name, value);
            if (w)
                out += w->name + u':' + w->value + (d.important ? u" !important"_s : QString());
        }
        return out.join(u';');
    }

    // A declaration written for Qt, or nothing when Qt would not read it.
    std::optional<Written> declaration(const QString& name, Tokens value) const
    {
        if (value.empty())
            return std::nullopt;
        if (name == u"background" || name == u"background-image") {
            for (qsizetype i = 0; i < qsizetype(value.size()); i = nextComponent(value, i)) {
                if (value[i].is(TokenType::Function) &&
                    value[i].text.endsWith(u"gradient", Qt::CaseInsensitive)) {
                    const std::optional<Color> middle = gradientMiddle(blockContent(value, i));
                    if (!middle)
                        return std::nullopt;
                    return Written{u"background-color"_s, colorText(*middle)};
                }
            }
        }
        const bool colors = takesColorNames(name);
        QString out;
        bool space = false;
        for (qsizetype i = 0; i < qsizetype(value.size());) {
            const Token& t = value[i];
            if (t.is(TokenType::Whitespace)) {
                space = true;
                ++i;
                continue;
            }
            if (space && !out.isEmpty())
                out += u' ';
            space = false;
            qsizetype next = nextComponent(value, i);
            switch (t.type) {
            case TokenType::Comma:
                out += u',';
                break;
            case TokenType::Delim:
                if (!t.isDelim(u'/'))
                    return std::nullopt;
                out += u'/';
                break;
            case TokenType::Number:
                out += number(t.number);
                break;
            case TokenType::Percentage:
                out += number(t.number) + u'%';
                break;
            case TokenType::Dimension: {
                const std::optional<Length> l = parseLength(t, m_context.view);
                if (!l)
                    return std::nullopt;
                static constexpr QStringView kUnits[] = {u"px", u"pt", u"em", u"%"};
                out += number(l->value) + kUnits[int(l->unit)].toString();
                break;
            }
            case TokenType::String:
                out += qtString(t.text);
                break;
            case TokenType::Url:
                out += u"none"_s;
                break;
            case TokenType::Hash:
            case TokenType::Ident:
            case TokenType::Function: {
                if (t.is(TokenType::Function) && t.text.endsWith(u"url", Qt::CaseInsensitive)) {
                    out += u"none"_s; // images come only from <img>
                    break;
                }
                qsizetype k = i;
                const std::optional<Color> c =
                    t.is(TokenType::Ident) && !colors ? std::nullopt : colorAt(value, k);
                if (c) {
                    if (c->current)
                        return std::nullopt; // the cascade's to know
                    out += colorText(*c);
                    next = k;
                } else if (t.is(TokenType::Ident)) {
                    // Qt knows no CSS-wide keyword; left out, an inherited
                    // property is inherited all the same.
                    const std::optional<QString> ident = qtIdent(t.text);
                    if (!ident || t.isIdent(u"inherit") || t.isIdent(u"initial") ||
                        t.isIdent(u"unset") || t.isIdent(u"revert") || t.isIdent(u"revert-layer"))
                        return std::nullopt;
                    out += *ident;
                } else {
                    return std::nullopt;
                }
                break;
            }
            default:
                return std::nullopt;
            }
            i = next;
        }
        return Written{name, out};
    }

private:
    // A side's margin in pixels: px, pt and the view's units; auto is 0,
    // as a body's auto margins are; em (the body's font size is not known
    // here) and anything else: nothing.
    std::optional<qreal> marginPixels(const Token& token) const
    {
        if (token.isIdent(u"auto"))
            return 0;
        const std::optional<Length> length = parseLength(token, m_context.view);
        if (!length)
            return std::nullopt;
        switch (length->unit) {
        case Length::Unit::Px:
            return length->value;
        case Length::Unit::Pt:
            return length->value * 4 / 3;
        case Length::Unit::Percent:
            return length->value * m_context.view.width / 100;
        case Length::Unit::Em:
            break;
        }
        return std::nullopt;
    }

    void takeMargin(const QString& name, Tokens value, BodyMargins& body) const
    {
        QList<std::optional<qreal>> parts;
        for (const Token& t : value) {
            if (t.is(TokenType::Whitespace))
                continue;
            parts.append(marginPixels(t));
            if (!parts.last() || parts.size() > 4)
                return; // the declaration is invalid, or not known here
        }
        if (parts.isEmpty())
            return;
        static constexpr QStringView sides[] = {u"margin-top", u"margin-right", u"margin-bottom",
                                                u"margin-left"};
        if (name != u"margin") {
            for (int i = 0; i < 4; ++i)
                if (name == sides[i] && parts.size() == 1)
                    body.sides[size_t(i)] = parts[0];
            return;
        }
        // One to four lengths, top, right, bottom, left, as CSS fills them.
        const qsizetype n = parts.size();
        body.sides[0] = parts[0];
        body.sides[1] = parts[n > 1 ? 1 : 0];
        body.sides[2] = parts[n > 2 ? 2 : 0];
        body.sides[3] = parts[n > 3 ? 3 : n > 1 ? 1 : 0];
    }

    // body, html body, html > body: a rule for the body alone.
    static bool isBodySelector(const Selector& s)
    {
        for (qsizetype i = 0; i < s.compounds.size(); ++i) {
            const CompoundSelector& c = s.compounds[i];
            if (c.simple.size() != 1 || c.simple[0].kind != SimpleSelector::Kind::Type)
                return false;
            if (c.simple[0].name != (i + 1 == s.compounds.size() ? u"body" : u"html"))
                return false;
        }
        return !s.compounds.isEmpty();
    }

    static bool isRootSelector(const QList<Selector>& list)
    {
        return std::any_of(list.begin(), list.end(), [](const Selector& s) {
            if (s.compounds.size() != 1 || s.compounds[0].simple.size() != 1)
                return false;
            const SimpleSelector& simple = s.compounds[0].simple[0];
            using Kind = SimpleSelector::Kind;
            return simple.kind == Kind::Universal ||
                   (simple.kind == Kind::Type &&
                    (simple.name == u"html" || simple.name == u"body")) ||
                   (simple.kind == Kind::PseudoClass && !simple.functional &&
                    simple.name == u"root");
        });
    }

    // Whether an at-rule's block applies to the view.
    bool holds(const Rule& rule) const
    {
        if (!rule.hasBlock)
            return false;
        if (rule.atName.compare(u"media", Qt::CaseInsensitive) == 0)
            return matchesMedia(rule.prelude, m_context.view);
        if (rule.atName.compare(u"supports", Qt::CaseInsensitive) == 0)
            return supports(rule.prelude);
        return false;
    }

    void collectRoot(const QList<Rule>& list, CustomProperties& root) const
    {
        for (const Rule& rule : list) {
            if (rule.isAt()) {
                if (holds(rule))
                    collectRoot(parseRules(rule.block, rule.depth + 1), root);
                continue;
            }
            const std::optional<QList<Selector>> selectors = parseSelectorList(rule.prelude);
            if (!selectors || !isRootSelector(*selectors))
                continue;
            for (const Declaration& d : parseDeclarations(rule.block))
                if (d.isCustom())
                    root[d.name] = std::vector<Token>(d.value.begin(), d.value.end());
        }
    }

    void rules(const QList<Rule>& list, bool& importsAllowed)
    {
        for (const Rule& rule : list) {
            if (rule.isAt()) {
                if (rule.atName.compare(u"charset", Qt::CaseInsensitive) == 0)
                    continue;
                if (rule.atName.compare(u"import", Qt::CaseInsensitive) == 0) {
                    if (importsAllowed && rule.depth == 0)
                        import(rule);
                    continue;
                }
                importsAllowed = false;
                if (holds(rule)) {
                    bool none = false;
                    rules(parseRules(rule.block, rule.depth + 1), none);
                }
                continue;
            }
            importsAllowed = false;
            styleRule(rule);
        }
    }

    void import(const Rule& rule)
    {
        const Tokens prelude = trimmed(rule.prelude);
        if (prelude.empty() || rule.hasBlock || !m_context.import)
            return;
        QString target;
        const Token& first = prelude[0];
        if (first.is(TokenType::String) || first.is(TokenType::Url)) {
            target = first.text;
        } else if (first.is(TokenType::Function) && first.named(u"url")) {
            const Tokens inside = trimmed(blockContent(prelude, 0));
            if (inside.size() != 1 || !inside[0].is(TokenType::String))
                return;
            target = inside[0].text;
        } else {
            return;
        }
        if (!matchesMedia(prelude.subspan(nextComponent(prelude, 0)), m_context.view))
            return;
        const std::optional<QString> address = m_context.import(target);
        if (address)
            m_out += u"@import "_s + qtString(*address) + u';';
    }

    void styleRule(const Rule& rule)
    {
        const std::optional<QList<Selector>> selectors = parseSelectorList(rule.prelude);
        if (!selectors)
            return;
        QStringList written;
        for (const Selector& s : *selectors)
            if (const std::optional<QString> text = qtSelector(s))
                written += *text;
        if (written.isEmpty())
            return;
        const bool bodyOnly = std::all_of(selectors->begin(), selectors->end(), isBodySelector);
        const QString body = declarations(parseDeclarations(rule.block), *m_context.rootProperties,
                                          bodyOnly ? m_context.bodyMargins : nullptr);
        if (body.isEmpty())
            return;
        m_out += written.join(u',') + u'{' + body + u'}';
    }

    // @supports: a declaration holds when Qt is given it; selector() when
    // Qt reads the selector.
    bool supports(Tokens condition) const
    {
        return evaluateSupports(
            condition,
            [this](const QString& name, Tokens value) {
                return qtReads(name) && !VarResolver::containsVar(value) &&
                       declaration(name, value).has_value();
            },
            [](Tokens selector) {
                const std::optional<QList<Selector>> list = parseSelectorList(selector);
                return list && list->size() == 1 && qtSelector(list->front());
            });
    }

    QtSheetContext& m_context;
    qsizetype m_ownBudget = kVarBudget;
    qsizetype& m_varBudget;
    std::optional<VarResolver> m_resolver;
    QString m_out;
};

} // namespace

QString styleSheetForQt(QStringView css, QtSheetContext& context)
{
    CustomProperties none;
    if (!context.rootProperties)
        context.rootProperties = &none;
    QString out = QtWriter(context).sheet(css);
    if (context.rootProperties == &none)
        context.rootProperties = nullptr;
    return out;
}

void BodyMargins::applyTo(QMarginsF& margins) const
{
    if (sides[0])
        margins.setTop(*sides[0]);
    if (sides[1])
        margins.setRight(*sides[1]);
    if (sides[2])
        margins.setBottom(*sides[2]);
    if (sides[3])
        margins.setLeft(*sides[3]);
}

void BodyMargins::merge(const BodyMargins& later)
{
    for (size_t i = 0; i < sides.size(); ++i)
        if (later.sides[i])
            sides[i] = later.sides[i];
}

QString declarationsForQt(QStringView declarations, const ViewMetrics& view,
                          const CustomProperties& rootProperties, qsizetype* varBudget,
                          BodyMargins* bodyMargins)
{
    std::vector<Token> storage;
    const QList<Declaration> list = parseDeclarations(declarations, storage);
    QtSheetContext context;
    context.view = view;
    context.varBudget = varBudget;
    return QtWriter(context).declarations(list, rootProperties, bodyMargins);
}

} // namespace mizong::page::css
