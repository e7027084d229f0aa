#include "css_media.h"

#include <QVarLengthArray>

#include <cmath>

using namespace Qt::StringLiterals;

namespace mizong::page::css {

namespace {

// Media Queries Level 4's three values: nothing is "unknown" (a feature not
// known here, or a query that does not parse), false at the top.
using Truth = std::optional<bool>;

Truth negate(Truth t)
{
    return t ? Truth(!*t) : std::nullopt;
}

Truth both(Truth a, Truth b)
{
    if ((a && !*a) || (b && !*b))
        return false;
    return a && b ? Truth(true) : std::nullopt;
}

Truth either(Truth a, Truth b)
{
    if ((a && *a) || (b && *b))
        return true;
    return a && b ? Truth(false) : std::nullopt;
}

enum class Compare
{
    Less,
    LessEqual,
    Equal,
    GreaterEqual,
    Greater,
};

bool compare(double actual, Compare how, double value)
{
    constexpr double epsilon = 1e-9;
    switch (how) {
    case Compare::Less:
        return actual < value - epsilon;
    case Compare::LessEqual:
        return actual <= value + epsilon;
    case Compare::Equal:
        return std::abs(actual - value) <= epsilon;
    case Compare::GreaterEqual:
        return actual >= value - epsilon;
    case Compare::Greater:
        return actual > value + epsilon;
    }
    return false;
}

Compare flipped(Compare c)
{
    switch (c) {
    case Compare::Less:
        return Compare::Greater;
    case Compare::LessEqual:
        return Compare::GreaterEqual;
    case Compare::GreaterEqual:
        return Compare::LessEqual;
    case Compare::Greater:
        return Compare::Less;
    default:
        return c;
    }
}

class QueryReader
{
public:
    QueryReader(Tokens tokens, const ViewMetrics& view, int depth = 0)
        : m_t(tokens), m_view(view), m_depth(depth)
    {}

    // [not|only] type [and condition] | condition
    Truth query()
    {
        skip();
        if (at().is(TokenType::Ident) && !at().isIdent(u"not") && !at().isIdent(u"only"))
            return typeQuery(false);
        if (at().isIdent(u"not") || at().isIdent(u"only")) {
            const qsizetype keep = m_i;
            const bool negated = at().isIdent(u"not");
            ++m_i;
            skip();
            if (at().is(TokenType::Ident))
                return typeQuery(negated);
            m_i = keep;
        }
        const Truth t = condition(true);
        skip();
        return atEnd() ? t : std::nullopt;
    }

    Truth condition(bool orAllowed)
    {
        skip();
        if (at().isIdent(u"not")) {
            ++m_i;
            return negate(inParens());
        }
        Truth t = inParens();
        bool isAnd = false;
        bool isOr = false;
        for (;;) {
            skip();
            if (atEnd() || !(at().isIdent(u"and") || (orAllowed && at().isIdent(u"or"))))
                return t;
            const bool andHere = at().isIdent(u"and");
            if ((andHere && isOr) || (!andHere && isAnd))
                return std::nullopt; // "and" and "or" mixed without parentheses
            isAnd = andHere;
            isOr = !andHere;
            ++m_i;
            const Truth next = inParens();
            t = andHere ? both(t, next) : either(t, next);
        }
    }

    bool atEnd() const { return m_i >= qsizetype(m_t.size()); }

private:
    const Token& at() const
    {
        static const Token none;
        return atEnd() ? none : m_t[m_i];
    }

    void skip()
    {
        while (!atEnd() && m_t[m_i].is(TokenType::Whitespace))
            ++m_i;
    }

    Truth typeQuery(bool negated)
    {
        const Token& type = at();
        ++m_i;
        if (type.isIdent(u"and") || type.isIdent(u"or") || type.isIdent(u"not") ||
            type.isIdent(u"only") || type.isIdent(u"layer"))
            return std::nullopt;
        Truth t = type.isIdent(u"all") || type.isIdent(u"screen");
        skip();
        if (!atEnd()) {
            if (!at().isIdent(u"and"))
                return std::nullopt;
            ++m_i;
            t = both(t, condition(false));
            skip();
            if (!atEnd())
                return std::nullopt;
        }
        // "not" turns a whole known query, and an unknown one stays false.
        return t ? Truth(negated != *t) : Truth(false);
    }

    Truth inParens()
    {
        skip();
        if (!at().is(TokenType::LeftParen))
            return std::nullopt;
        const Tokens inner = trimmed(blockContent(m_t, m_i));
        m_i = nextComponent(m_t, m_i);
        if (inner.empty())
            return std::nullopt;
        if (inner[0].is(TokenType::LeftParen) || inner[0].isIdent(u"not")) {
            if (m_depth >= 16)
                return std::nullopt; // no page nests its conditions deeper
            QueryReader nested(inner, m_view, m_depth + 1);
            const Truth t = nested.condition(true);
            nested.skip();
            return nested.atEnd() ? t : std::nullopt;
        }
        return feature(inner);
    }

    // The view's value of a numeric feature, and the unit its values need.
    std::optional<double> actual(QStringView name, bool* resolution) const
    {
        *resolution = false;
        if (name == u"width")
            return m_view.width;
        if (name == u"height")
            return m_view.height;
        *resolution = true;
        if (name == u"resolution" || name == u"-webkit-device-pixel-ratio" ||
            name == u"device-pixel-ratio")
            return m_view.devicePixelRatio;
        return std::nullopt;
    }

    std::optional<double> valueOf(const Token& t, bool resolution) const
    {
        if (!resolution) {
            const std::optional<Length> l = parseLength(t, m_view);
            if (!l || l->unit == Length::Unit::Percent)
                return std::nullopt;
            return l->unit == Length::Unit::Pt   ? l->value * 96 / 72
                   : l->unit == Length::Unit::Em ? l->value * 16
                                                 : l->value;
        }
        if (t.is(TokenType::Number))
            return t.number;
        if (t.named(u"dppx") || t.named(u"x"))
            return t.number;
        if (t.named(u"dpi"))
            return t.number / 96;
        if (t.named(u"dpcm"))
            return t.number * 2.54 / 96;
        return std::nullopt;
    }

    Truth numeric(QString name, Compare how, const Token& value) const
    {
        bool resolution = false;
        const std::optional<double> a = actual(name, &resolution);
        if (!a)
            return std::nullopt;
        // The -webkit- ratio is a plain number; resolution needs its unit.
        if (value.is(TokenType::Number) && name == u"resolution")
            return std::nullopt;
        const std::optional<double> v = valueOf(value, resolution);
        return v ? Truth(compare(*a, how, *v)) : std::nullopt;
    }

    Truth plain(QString name, Tokens value) const
    {
        // -webkit-min-device-pixel-ratio, min--moz-device-pixel-ratio...
        if (name.endsWith(u"device-pixel-ratio")) {
            const QString range = name.contains(u"min-")   ? u"min-"_s
                                  : name.contains(u"max-") ? u"max-"_s
                                                           : QString();
            name = range + u"-webkit-device-pixel-ratio"_s;
        }
        if (name == u"orientation") {
            const bool portrait = m_view.height >= m_view.width;
            if (value.size() != 1 ||
                !(value[0].isIdent(u"portrait") || value[0].isIdent(u"landscape")))
                return std::nullopt;
            return value[0].isIdent(u"portrait") == portrait;
        }
        if (value.size() != 1)
            return std::nullopt;
        const Token& v = value[0];
        if (v.is(TokenType::Ident)) {
            // A light screen with a mouse, and no scripts.
            static constexpr QStringView kMatching[][2] = {
                {u"prefers-color-scheme", u"light"},
                {u"hover", u"hover"},
                {u"any-hover", u"hover"},
                {u"pointer", u"fine"},
                {u"any-pointer", u"fine"},
                {u"prefers-reduced-motion", u"no-preference"},
                {u"scripting", u"none"},
                {u"update", u"fast"},
                {u"prefers-contrast", u"no-preference"},
            };
            for (const auto& m : kMatching)
                if (name == m[0])
                    return v.isIdent(m[1]);
            return std::nullopt;
        }
        if (name.startsWith(u"min-"))
            return numeric(name.sliced(4), Compare::GreaterEqual, v);
        if (name.startsWith(u"max-"))
            return numeric(name.sliced(4), Compare::LessEqual, v);
        return numeric(name, Compare::Equal, v);
    }

    std::optional<Compare> comparison(Tokens t, qsizetype& i) const
    {
        if (i >= qsizetype(t.size()) || t[i].is(TokenType::Whitespace))
            return std::nullopt;
        const char32_t c = t[i].delim;
        const bool withEqual = i + 1 < qsizetype(t.size()) && t[i + 1].isDelim(u'=');
        if (t[i].isDelim(u'=')) {
            ++i;
            return Compare::Equal;
        }
        if (!t[i].isDelim(u'<') && !t[i].isDelim(u'>'))
            return std::nullopt;
        i += withEqual ? 2 : 1;
        if (c == u'<')
            return withEqual ? Compare::LessEqual : Compare::Less;
        return withEqual ? Compare::GreaterEqual : Compare::Greater;
    }

    Truth feature(Tokens t)
    {
        // The operands and comparisons of a range, whitespace left out.
        QVarLengthArray<const Token*, 5> parts;
        QVarLengthArray<Compare, 2> ops;
        qsizetype i = 0;
        if (t[0].is(TokenType::Ident)) {
            qsizetype k = 1;
            while (k < qsizetype(t.size()) && t[k].is(TokenType::Whitespace))
                ++k;
            const QString name = t[0].text.toLower();
            if (k == qsizetype(t.size())) {
                // A feature alone: true unless its value is "none" or zero.
                static constexpr QStringView kTrue[] = {
                    u"width", u"height",    u"resolution", u"color",       u"orientation",
                    u"hover", u"any-hover", u"pointer",    u"any-pointer", u"prefers-color-scheme",
                    u"update"};
                static constexpr QStringView kFalse[] = {u"monochrome", u"grid", u"scripting",
                                                         u"prefers-reduced-motion",
                                                         u"prefers-contrast"};
                for (QStringView f : kTrue)
                    if (name == f)
                        return true;
                for (QStringView f : kFalse)
                    if (name == f)
                        return false;
                return std::nullopt;
            }
            if (t[k].is(TokenType::Colon)) {
                if (name == u"color" || name == u"min-color")
                    return true; // eight bits a channel and more
                return plain(name, trimmed(t.subspan(k + 1)));
            }
        }
        while (i < qsizetype(t.size()) && parts.size() < 4) {
            while (i < qsizetype(t.size()) && t[i].is(TokenType::Whitespace))
                ++i;
            if (i >= qsizetype(t.size()))
                break;
            if (parts.size() > ops.size()) {
                const std::optional<Compare> op = comparison(t, i);
                if (!op)
                    return std::nullopt;
                ops.append(*op);
            } else {
                parts.append(&t[i++]);
            }
        }
        if (i < qsizetype(t.size()) || parts.size() < 2 || parts.size() != ops.size() + 1)
            return std::nullopt;
        // "name op value", "value op name", or "value op name op value".
        const qsizetype at = parts[0]->is(TokenType::Ident) ? 0 : 1;
        if (!parts[at]->is(TokenType::Ident))
            return std::nullopt;
        const QString name = parts[at]->text.toLower();
        if (at == 0)
            return numeric(name, ops[0], *parts[1]);
        Truth result = numeric(name, flipped(ops[0]), *parts[0]);
        if (parts.size() == 3)
            result = both(result, numeric(name, ops[1], *parts[2]));
        return result;
    }

    Tokens m_t;
    const ViewMetrics& m_view;
    int m_depth;
    qsizetype m_i = 0;
};

} // namespace

bool matchesMedia(Tokens queries, const ViewMetrics& view)
{
    queries = trimmed(queries);
    if (queries.empty())
        return true;
    for (Tokens query : splitCommas(queries)) {
        QueryReader reader(query, view);
        if (reader.query() == true)
            return true;
    }
    return false;
}

} // namespace mizong::page::css
