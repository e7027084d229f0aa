#include "css_selectors.h"

namespace mizong::page::css {

namespace {

using Kind = SimpleSelector::Kind;

SimpleSelector simple(Kind kind, QString name)
{
    SimpleSelector s;
    s.kind = kind;
    s.name = std::move(name);
    return s;
}

class SelectorParser
{
public:
    SelectorParser(Tokens tokens, const SelectorLimits& limits) : m_t(tokens), m_limits(limits) {}

    std::optional<Selector> run()
    {
        Selector selector;
        Combinator combinator = Combinator::Descendant;
        for (;;) {
            CompoundSelector compound;
            compound.combinator = combinator;
            if (!compoundSelector(compound) || selector.compounds.size() >= m_limits.maxCompounds)
                return std::nullopt;
            selector.compounds.append(std::move(compound));
            const bool space = skipSpace();
            if (atEnd())
                return selector;
            if (m_t[m_i].isDelim(u'>') || m_t[m_i].isDelim(u'+') || m_t[m_i].isDelim(u'~')) {
                const char32_t c = m_t[m_i].delim;
                combinator = c == u'>'   ? Combinator::Child
                             : c == u'+' ? Combinator::NextSibling
                                         : Combinator::SubsequentSibling;
                ++m_i;
                skipSpace();
            } else if (space) {
                combinator = Combinator::Descendant;
            } else {
                return std::nullopt;
            }
            // Only the last compound may hold a pseudo-element.
            if (selector.compounds.back().simple.back().kind == Kind::PseudoElement)
                return std::nullopt;
        }
    }

private:
    bool atEnd() const { return m_i >= qsizetype(m_t.size()); }

    bool skipSpace()
    {
        bool any = false;
        while (!atEnd() && m_t[m_i].is(TokenType::Whitespace)) {
            ++m_i;
            any = true;
        }
        return any;
    }

    bool compoundSelector(CompoundSelector& compound)
    {
        if (!atEnd() && m_t[m_i].is(TokenType::Ident)) {
            compound.simple.append(simple(Kind::Type, m_t[m_i].text.toLower()));
            ++m_i;
        } else if (!atEnd() && m_t[m_i].isDelim(u'*')) {
            compound.simple.append(simple(Kind::Universal, {}));
            ++m_i;
        }
        bool pseudoElement = false;
        while (!atEnd()) {
            const Token& t = m_t[m_i];
            SimpleSelector s;
            if (t.is(TokenType::Hash)) {
                if (!t.idHash)
                    return false;
                s = simple(Kind::Id, t.text);
                ++m_i;
            } else if (t.isDelim(u'.')) {
                if (m_i + 1 >= qsizetype(m_t.size()) || !m_t[m_i + 1].is(TokenType::Ident))
                    return false;
                s = simple(Kind::Class, m_t[m_i + 1].text);
                m_i += 2;
            } else if (t.is(TokenType::LeftSquare)) {
                if (!attribute(blockContent(m_t, m_i), s))
                    return false;
                m_i = nextComponent(m_t, m_i);
            } else if (t.is(TokenType::Colon)) {
                if (!pseudo(s))
                    return false;
            } else {
                break;
            }
            // After a pseudo-element, only pseudo-classes (::before:hover).
            if (pseudoElement && s.kind != Kind::PseudoClass)
                return false;
            pseudoElement = pseudoElement || s.kind == Kind::PseudoElement;
            if (compound.simple.size() >= m_limits.maxSimple)
                return false;
            compound.simple.append(std::move(s));
        }
        return !compound.simple.isEmpty();
    }

    bool pseudo(SimpleSelector& s)
    {
        ++m_i;
        s.kind = Kind::PseudoClass;
        if (!atEnd() && m_t[m_i].is(TokenType::Colon)) {
            s.kind = Kind::PseudoElement;
            ++m_i;
        }
        if (atEnd())
            return false;
        const Token& name = m_t[m_i];
        if (name.is(TokenType::Ident)) {
            s.name = name.text.toLower();
            ++m_i;
            return true;
        }
        if (name.is(TokenType::Function)) {
            s.name = name.text.toLower();
            s.functional = true;
            s.arguments = trimmed(blockContent(m_t, m_i));
            m_i = nextComponent(m_t, m_i);
            return true;
        }
        return false;
    }

    static bool attribute(Tokens in, SimpleSelector& s)
    {
        in = trimmed(in);
        s.kind = Kind::Attribute;
        if (in.empty() || !in[0].is(TokenType::Ident))
            return false;
        s.name = in[0].text.toLower();
        in = trimmed(in.subspan(1));
        if (in.empty())
            return true;
        if (in[0].isDelim(u'=')) {
            s.match = AttributeMatch::Equals;
            in = trimmed(in.subspan(1));
        } else if (in.size() >= 2 && in[0].is(TokenType::Delim) && in[1].isDelim(u'=')) {
            switch (in[0].delim) {
            case u'~':
                s.match = AttributeMatch::Includes;
                break;
            case u'|':
                s.match = AttributeMatch::DashMatch;
                break;
            case u'^':
                s.match = AttributeMatch::Prefix;
                break;
            case u'$':
                s.match = AttributeMatch::Suffix;
                break;
            case u'*':
                s.match = AttributeMatch::Substring;
                break;
            default:
                return false;
            }
            in = trimmed(in.subspan(2));
        } else {
            return false;
        }
        if (in.empty() || !(in[0].is(TokenType::Ident) || in[0].is(TokenType::String)))
            return false;
        s.value = in[0].text;
        in = trimmed(in.subspan(1));
        if (in.size() == 1 && in[0].is(TokenType::Ident) &&
            (in[0].isIdent(u"i") || in[0].isIdent(u"s"))) {
            s.caseInsensitive = in[0].isIdent(u"i");
            return true;
        }
        return in.empty();
    }

    Tokens m_t;
    const SelectorLimits& m_limits;
    qsizetype m_i = 0;
};

} // namespace

std::optional<QList<Selector>> parseSelectorList(Tokens prelude, const SelectorLimits& limits)
{
    QList<Selector> list;
    for (Tokens part : splitCommas(prelude)) {
        if (part.empty() || list.size() >= limits.maxSelectors)
            return std::nullopt;
        std::optional<Selector> selector = SelectorParser(part, limits).run();
        if (!selector)
            return std::nullopt;
        list.append(std::move(*selector));
    }
    return list;
}

} // namespace mizong::page::css
