#include "css_cascade_p.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace mizong::page::css {

namespace {

using Kind = CompiledSimple::Kind;

constexpr Specificity kId = 1u << 20;
constexpr Specificity kClass = 1u << 10;
constexpr Specificity kType = 1u;

Specificity addSpecificity(Specificity a, Specificity b)
{
    const auto part = [](Specificity s, int shift) { return (s >> shift) & 1023u; };
    Specificity out = 0;
    for (int shift : {20, 10, 0})
        out |= std::min(1023u, part(a, shift) + part(b, shift)) << shift;
    return out;
}

// Pseudo-classes that depend on the user (or on history) and never hold for
// a page nobody points at, and pseudo-elements written with one colon.
bool neverMatches(const QString& name)
{
    static const QStringList names = {
        u"hover"_s,         u"focus"_s,
        u"active"_s,        u"visited"_s,
        u"focus-within"_s,  u"focus-visible"_s,
        u"target"_s,        u"target-within"_s,
        u"before"_s,        u"after"_s,
        u"first-line"_s,    u"first-letter"_s,
        u"host"_s,          u"placeholder-shown"_s,
        u"indeterminate"_s, u"default"_s,
        u"invalid"_s,       u"valid"_s,
        u"required"_s,      u"optional"_s,
        u"read-only"_s,     u"read-write"_s,
        u"in-range"_s,      u"out-of-range"_s,
        u"fullscreen"_s,    u"-webkit-autofill"_s,
        u"autofill"_s,      u"playing"_s,
        u"paused"_s,        u"popover-open"_s,
        u"modal"_s,         u"user-invalid"_s,
        u"user-valid"_s,
    };
    return names.contains(name);
}

// An+B, as its tokens write it; `rest` gets what follows "of".
std::optional<std::pair<int, int>> parseAnPlusB(Tokens args, Tokens* rest)
{
    QString text;
    qsizetype i = 0;
    for (; i < qsizetype(args.size()); ++i) {
        const Token& t = args[i];
        if (t.isIdent(u"of") && rest) {
            *rest = trimmed(args.subspan(i + 1));
            if (rest->empty())
                return std::nullopt;
            break;
        }
        if (t.is(TokenType::Whitespace))
            continue;
        if (t.is(TokenType::Ident)) {
            text += t.text.toLower();
        } else if (t.is(TokenType::Dimension) && t.integer) {
            text += QString::number(qint64(t.number)) + t.text.toLower();
        } else if (t.is(TokenType::Number) && t.integer) {
            // "2n + 1": the sign came as its own token.
            const bool signedAlready = text.endsWith(u'+') || text.endsWith(u'-');
            if (signedAlready && t.number < 0)
                return std::nullopt;
            text += (t.number < 0 || signedAlready ? QString() : u"+"_s) +
                    QString::number(qint64(t.number));
        } else if (t.isDelim(u'+') || t.isDelim(u'-')) {
            text += QChar(char16_t(t.delim));
        } else {
            return std::nullopt;
        }
    }
    if (text == u"odd")
        return std::pair(2, 1);
    if (text == u"even")
        return std::pair(2, 0);
    static const QRegularExpression form(u"^([+-]?\\d*)n([+-]\\d+)?$"_s);
    static const QRegularExpression integer(u"^[+-]?\\d+$"_s);
    const auto clamp = [](qint64 v) { return int(std::clamp<qint64>(v, -1000000, 1000000)); };
    if (integer.match(text).hasMatch())
        return std::pair(0, clamp(text.toLongLong()));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QString a = m.captured(1);
    const int av = a.isEmpty() || a == u"+" ? 1 : a == u"-" ? -1 : clamp(a.toLongLong());
    return std::pair(av, m.captured(2).isEmpty() ? 0 : clamp(m.captured(2).toLongLong()));
}

// A selector list as :is() and :where() read it: invalid ones dropped.
QList<CompiledSelector> forgivingList(Tokens args, const SelectorLimits& limits, int depth)
{
    QList<CompiledSelector> out;
    for (Tokens part : splitCommas(args)) {
        const std::optional<QList<Selector>> parsed = parseSelectorList(part, limits);
        if (!parsed || parsed->size() != 1)
            continue;
        if (std::optional<CompiledSelector> c = compileSelector(parsed->front(), limits, depth))
            out.append(std::move(*c));
    }
    return out;
}

std::optional<QList<CompiledSelector>> strictList(Tokens args, const SelectorLimits& limits,
                                                  int depth)
{
    const std::optional<QList<Selector>> parsed = parseSelectorList(args, limits);
    if (!parsed)
        return std::nullopt;
    QList<CompiledSelector> out;
    for (const Selector& s : *parsed) {
        std::optional<CompiledSelector> c = compileSelector(s, limits, depth);
        if (!c)
            return std::nullopt;
        out.append(std::move(*c));
    }
    return out;
}

Specificity mostSpecific(const QList<CompiledSelector>& list)
{
    Specificity out = 0;
    for (const CompiledSelector& s : list)
        out = std::max(out, s.specificity);
    return out;
}

std::optional<CompiledSimple> compilePseudo(const SimpleSelector& s, const SelectorLimits& limits,
                                            int depth, Specificity& specificity)
{
    CompiledSimple c;
    const QString& n = s.name;
    specificity = kClass;
    if (!s.functional) {
        static const std::pair<QStringView, Kind> plain[] = {
            {u"root", Kind::Root},       {u"scope", Kind::Root},
            {u"empty", Kind::Empty},     {u"link", Kind::Link},
            {u"any-link", Kind::Link},   {u"-webkit-any-link", Kind::Link},
            {u"checked", Kind::Checked}, {u"disabled", Kind::Disabled},
            {u"enabled", Kind::Enabled},
        };
        for (const auto& [name, kind] : plain) {
            if (n == name) {
                c.kind = kind;
                return c;
            }
        }
        if (n == u"first-child" || n == u"last-child" || n == u"first-of-type" ||
            n == u"last-of-type") {
            c.kind = n.endsWith(u"child") ? Kind::NthChild : Kind::NthOfType;
            c.b = 1;
            c.fromEnd = n.startsWith(u"last");
            return c;
        }
        if (n == u"only-child" || n == u"only-of-type") {
            c.kind = n == u"only-child" ? Kind::OnlyChild : Kind::OnlyOfType;
            return c;
        }
        if (neverMatches(n)) {
            c.kind = Kind::Never;
            if (n == u"before" || n == u"after" || n == u"first-line" || n == u"first-letter")
                specificity = kType;
            return c;
        }
        return std::nullopt;
    }
    if (n == u"nth-child" || n == u"nth-last-child" || n == u"nth-of-type" ||
        n == u"nth-last-of-type") {
        const bool child = n.endsWith(u"child");
        Tokens rest;
        const std::optional<std::pair<int, int>> ab =
            parseAnPlusB(s.arguments, child ? &rest : nullptr);
        if (!ab)
            return std::nullopt;
        c.kind = child ? Kind::NthChild : Kind::NthOfType;
        c.a = ab->first;
        c.b = ab->second;
        c.fromEnd = n.contains(u"last");
        if (!rest.empty()) {
            std::optional<QList<CompiledSelector>> of = strictList(rest, limits, depth + 1);
            if (!of)
                return std::nullopt;
            c.arguments = std::move(*of);
            specificity = addSpecificity(kClass, mostSpecific(c.arguments));
        }
        return c;
    }
    if (n == u"not") {
        std::optional<QList<CompiledSelector>> list = strictList(s.arguments, limits, depth + 1);
        if (!list)
            return std::nullopt;
        c.kind = Kind::Not;
        c.arguments = std::move(*list);
        specificity = mostSpecific(c.arguments);
        return c;
    }
    if (n == u"is" || n == u"where" || n == u"matches" || n == u"-webkit-any") {
        c.kind = Kind::Is;
        c.arguments = forgivingList(s.arguments, limits, depth + 1);
        specificity = n == u"where" ? 0 : mostSpecific(c.arguments);
        return c;
    }
    if (n == u"lang") {
        QStringList ranges;
        for (Tokens part : splitCommas(s.arguments)) {
            if (part.size() != 1 ||
                !(part[0].is(TokenType::Ident) || part[0].is(TokenType::String)))
                return std::nullopt;
            ranges << part[0].text;
        }
        if (ranges.isEmpty())
            return std::nullopt;
        c.kind = Kind::Lang;
        c.value = ranges.join(u',');
        return c;
    }
    if (n == u"has" || n == u"dir" || n == u"host" || n == u"host-context") {
        c.kind = Kind::Never;
        return c;
    }
    return std::nullopt;
}

bool equalsCase(QStringView a, QStringView b, bool insensitive)
{
    return a.compare(b, insensitive ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
}

bool attributeMatches(const CompiledSimple& s, const QString& v, bool insensitive)
{
    const Qt::CaseSensitivity cs = insensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
    switch (s.match) {
    case AttributeMatch::Exists:
        return true;
    case AttributeMatch::Equals:
        return equalsCase(v, s.value, insensitive);
    case AttributeMatch::Includes:
        if (s.value.isEmpty() || s.value.contains(u' '))
            return false;
        for (QStringView word : QStringView(v).split(u' ', Qt::SkipEmptyParts))
            if (equalsCase(word.trimmed(), s.value, insensitive))
                return true;
        return false;
    case AttributeMatch::DashMatch:
        return equalsCase(v, s.value, insensitive) || (v.startsWith(s.value + u'-', cs));
    case AttributeMatch::Prefix:
        return !s.value.isEmpty() && v.startsWith(s.value, cs);
    case AttributeMatch::Suffix:
        return !s.value.isEmpty() && v.endsWith(s.value, cs);
    case AttributeMatch::Substring:
        return !s.value.isEmpty() && v.contains(s.value, cs);
    }
    return false;
}

bool isFormControl(const dom::Node& n)
{
    return n.isHtml(u"input") || n.isHtml(u"button") || n.isHtml(u"select") ||
           n.isHtml(u"textarea") || n.isHtml(u"option") || n.isHtml(u"optgroup") ||
           n.isHtml(u"fieldset");
}

} // namespace

std::optional<CompiledSelector> compileSelector(const Selector& selector,
                                                const SelectorLimits& limits, int depth)
{
    // Nested :is() and :not() as deep as this are no page's.
    if (depth > 4)
        return std::nullopt;
    CompiledSelector out;
    for (const CompoundSelector& compound : selector.compounds) {
        CompiledCompound cc;
        cc.combinator = compound.combinator;
        for (const SimpleSelector& s : compound.simple) {
            using SKind = SimpleSelector::Kind;
            CompiledSimple c;
            Specificity sp = 0;
            switch (s.kind) {
            case SKind::Type:
                c.kind = Kind::Type;
                c.name = s.name;
                sp = kType;
                break;
            case SKind::Universal:
                c.kind = Kind::Universal;
                break;
            case SKind::Id:
                c.kind = Kind::Id;
                c.name = s.name;
                sp = kId;
                break;
            case SKind::Class:
                c.kind = Kind::Class;
                c.name = s.name;
                sp = kClass;
                break;
            case SKind::Attribute:
                c.kind = Kind::Attribute;
                c.name = s.name;
                c.value = s.value;
                c.match = s.match;
                c.caseInsensitive = s.caseInsensitive;
                sp = kClass;
                break;
            case SKind::PseudoElement:
                // Nothing of the page view draws them.
                c.kind = Kind::Never;
                sp = kType;
                break;
            case SKind::PseudoClass: {
                std::optional<CompiledSimple> p = compilePseudo(s, limits, depth, sp);
                if (!p)
                    return std::nullopt;
                c = std::move(*p);
                break;
            }
            }
            out.specificity = addSpecificity(out.specificity, sp);
            cc.simple.append(std::move(c));
        }
        out.compounds.append(std::move(cc));
    }
    return out;
}

Matcher::Matcher(const dom::Document& document, qint64 maxSteps)
    : m_document(document), m_positions(size_t(document.nodes.size())),
      m_classes(size_t(document.nodes.size())), m_maxSteps(maxSteps)
{
    QHash<QString, int> typeCounts;
    for (int p = 0; p < int(document.nodes.size()); ++p) {
        if (document[p].firstChild == dom::kNone)
            continue;
        typeCounts.clear();
        int count = 0;
        for (int c = document[p].firstChild; c != dom::kNone; c = document[c].nextSibling) {
            if (!document[c].isElement())
                continue;
            Positions& pos = m_positions[size_t(c)];
            pos.index = ++count;
            pos.typeIndex = ++typeCounts[document[c].name];
        }
        for (int c = document[p].firstChild; c != dom::kNone; c = document[c].nextSibling) {
            if (!document[c].isElement())
                continue;
            m_positions[size_t(c)].count = count;
            m_positions[size_t(c)].typeCount = typeCounts.value(document[c].name);
        }
    }
}

QString Matcher::idOf(int element) const
{
    const QString* id = m_document[element].attribute(u"id");
    return id ? key(*id) : QString();
}

const QStringList& Matcher::classesOf(int element) const
{
    // Read once per element: every class selector tried on it needs them.
    std::optional<QStringList>& cached = m_classes[size_t(element)];
    if (cached)
        return *cached;
    cached.emplace();
    const QString* c = m_document[element].attribute(u"class");
    if (!c)
        return *cached;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= c->size(); ++i) {
        const bool space = i == c->size() || (*c)[i] == u' ' || (*c)[i] == u'\t' ||
                           (*c)[i] == u'\n' || (*c)[i] == u'\f' || (*c)[i] == u'\r';
        if (space && start >= 0) {
            cached->append(key(QStringView(*c).sliced(start, i - start)));
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
    return *cached;
}

int Matcher::previousElement(int node) const
{
    for (node = m_document[node].previousSibling; node != dom::kNone;
         node = m_document[node].previousSibling)
        if (m_document[node].isElement())
            return node;
    return dom::kNone;
}

int Matcher::nextElement(int node) const
{
    for (node = m_document[node].nextSibling; node != dom::kNone;
         node = m_document[node].nextSibling)
        if (m_document[node].isElement())
            return node;
    return dom::kNone;
}

bool Matcher::matches(const CompiledSelector& selector, int element)
{
    return !selector.compounds.isEmpty() &&
           matchFrom(selector, selector.compounds.size() - 1, element) == Result::Matches;
}

// Besides failing where it is, a match can fail for every further ancestor
// or every further sibling, and then the combinators to its right stop
// looking: a descendant selector whose leftmost compound no ancestor
// matches fails at once instead of trying every way to place the others.
Matcher::Result Matcher::matchFrom(const CompiledSelector& s, qsizetype i, int element)
{
    if (++m_steps > m_maxSteps && m_bounded)
        return Result::FailsCompletely;
    if (!matchCompound(s.compounds[i], element))
        return Result::FailsLocally;
    if (i == 0)
        return Result::Matches;
    const auto isElement = [this](int n) { return n != dom::kNone && m_document[n].isElement(); };
    switch (s.compounds[i].combinator) {
    case Combinator::Child: {
        const int p = m_document[element].parent;
        return isElement(p) ? matchFrom(s, i - 1, p) : Result::FailsCompletely;
    }
    case Combinator::Descendant:
        for (int p = m_document[element].parent; isElement(p); p = m_document[p].parent) {
            const Result r = matchFrom(s, i - 1, p);
            if (r == Result::Matches || r == Result::FailsCompletely)
                return r;
        }
        return Result::FailsCompletely;
    case Combinator::NextSibling: {
        const int p = previousElement(element);
        return p != dom::kNone ? matchFrom(s, i - 1, p) : Result::FailsAllSiblings;
    }
    case Combinator::SubsequentSibling:
        for (int p = previousElement(element); p != dom::kNone; p = previousElement(p)) {
            const Result r = matchFrom(s, i - 1, p);
            if (r != Result::FailsLocally)
                return r;
        }
        return Result::FailsAllSiblings;
    }
    return Result::FailsLocally;
}

bool Matcher::matchCompound(const CompiledCompound& c, int element)
{
    for (const CompiledSimple& s : c.simple)
        if (!matchSimple(s, element))
            return false;
    return true;
}

bool Matcher::nthMatches(const CompiledSimple& s, int element)
{
    const Positions& pos = m_positions[size_t(element)];
    int index = 0;
    if (s.kind == Kind::NthOfType) {
        index = s.fromEnd ? pos.typeCount - pos.typeIndex + 1 : pos.typeIndex;
    } else if (s.arguments.isEmpty()) {
        index = s.fromEnd ? pos.count - pos.index + 1 : pos.index;
    } else {
        // "of S": only siblings matching S count, the element among them.
        const auto matchesAny = [this, &s](int e) {
            return std::any_of(s.arguments.begin(), s.arguments.end(),
                               [&](const CompiledSelector& a) { return matches(a, e); });
        };
        if (!matchesAny(element))
            return false;
        index = 1;
        for (int e = s.fromEnd ? nextElement(element) : previousElement(element); e != dom::kNone;
             e = s.fromEnd ? nextElement(e) : previousElement(e)) {
            if (++m_steps > m_maxSteps && m_bounded)
                return false;
            index += matchesAny(e) ? 1 : 0;
        }
    }
    const qint64 n = qint64(index) - s.b;
    if (s.a == 0)
        return n == 0;
    return n % s.a == 0 && n / s.a >= 0;
}

bool Matcher::matchSimple(const CompiledSimple& s, int element)
{
    const dom::Node& node = m_document[element];
    const bool html = node.ns == dom::Namespace::Html;
    switch (s.kind) {
    case Kind::Universal:
        return true;
    case Kind::Type:
        return html ? node.name == s.name : node.name.compare(s.name, Qt::CaseInsensitive) == 0;
    case Kind::Id: {
        const QString* id = node.attribute(u"id");
        return id && equalsCase(*id, s.name, m_document.quirks);
    }
    case Kind::Class: {
        const QStringList& classes = classesOf(element);
        return std::any_of(classes.begin(), classes.end(), [&](const QString& c) {
            return equalsCase(c, s.name, m_document.quirks);
        });
    }
    case Kind::Attribute:
        for (const dom::Attribute& a : node.attributes) {
            if (html ? a.name != s.name : a.name.compare(s.name, Qt::CaseInsensitive) != 0)
                continue;
            return attributeMatches(s, a.value, s.caseInsensitive);
        }
        return false;
    case Kind::Root:
        return element == m_document.html ||
               (node.parent != dom::kNone &&
                m_document[node.parent].type == dom::Node::Type::Document);
    case Kind::Empty:
        for (int c = node.firstChild; c != dom::kNone; c = m_document[c].nextSibling)
            if (m_document[c].isElement() || !m_document[c].text.isEmpty())
                return false;
        return true;
    case Kind::Link:
        return html && (node.name == u"a" || node.name == u"area") && node.attribute(u"href");
    case Kind::Checked:
        return html && ((node.name == u"input" && node.attribute(u"checked")) ||
                        (node.name == u"option" && node.attribute(u"selected")));
    case Kind::Disabled:
    case Kind::Enabled:
        return html && isFormControl(node) &&
               (node.attribute(u"disabled") != nullptr) == (s.kind == Kind::Disabled);
    case Kind::NthChild:
    case Kind::NthOfType:
        return nthMatches(s, element);
    case Kind::OnlyChild:
        return m_positions[size_t(element)].count == 1;
    case Kind::OnlyOfType:
        return m_positions[size_t(element)].typeCount == 1;
    case Kind::Not:
        return std::none_of(s.arguments.begin(), s.arguments.end(),
                            [&](const CompiledSelector& a) { return matches(a, element); });
    case Kind::Is:
        return std::any_of(s.arguments.begin(), s.arguments.end(),
                           [&](const CompiledSelector& a) { return matches(a, element); });
    case Kind::Lang: {
        // The language is the nearest lang attribute's, the element's own
        // or an ancestor's; a range matches it and its subtags.
        const QString* lang = nullptr;
        for (int e = element; e != dom::kNone && !lang; e = m_document[e].parent) {
            ++m_steps;
            if (m_document[e].isElement())
                lang = m_document[e].attribute(u"lang");
        }
        if (!lang || lang->isEmpty())
            return false;
        for (QStringView range : QStringView(s.value).split(u',')) {
            if (lang->compare(range, Qt::CaseInsensitive) == 0 ||
                (lang->size() > range.size() && lang->at(range.size()) == u'-' &&
                 QStringView(*lang).first(range.size()).compare(range, Qt::CaseInsensitive) == 0))
                return true;
        }
        return false;
    }
    case Kind::Never:
        return false;
    }
    return false;
}

} // namespace mizong::page::css
