#include "css_cascade_p.h"

namespace mizong::page::css {

namespace {

using DeclarationTest = std::function<bool(const QString&, Tokens)>;
using SelectorTest = std::function<bool(Tokens)>;

bool condition(Tokens t, const DeclarationTest& d, const SelectorTest& s, int depth);

bool inParens(Tokens t, const DeclarationTest& d, const SelectorTest& s, int depth)
{
    if (t.empty() || t.size() != size_t(t[0].closeOffset + 1))
        return false;
    const Tokens inner = trimmed(blockContent(t, 0));
    if (t[0].is(TokenType::Function))
        return t[0].named(u"selector") && s(inner);
    if (!t[0].is(TokenType::LeftParen) || inner.empty())
        return false;
    if (inner[0].is(TokenType::Ident) && !inner[0].isIdent(u"not")) {
        qsizetype k = 1;
        while (k < qsizetype(inner.size()) && inner[k].is(TokenType::Whitespace))
            ++k;
        if (k < qsizetype(inner.size()) && inner[k].is(TokenType::Colon)) {
            const QString name =
                inner[0].text.startsWith(u"--") ? inner[0].text : inner[0].text.toLower();
            return name.startsWith(u"--") || d(name, trimmed(inner.subspan(k + 1)));
        }
    }
    return condition(inner, d, s, depth + 1);
}

bool condition(Tokens t, const DeclarationTest& d, const SelectorTest& s, int depth)
{
    if (t.empty() || depth > 16)
        return false;
    if (t[0].isIdent(u"not"))
        return !inParens(trimmed(t.subspan(1)), d, s, depth);
    const auto skipSpace = [&t](qsizetype i) {
        while (i < qsizetype(t.size()) && t[i].is(TokenType::Whitespace))
            ++i;
        return i;
    };
    bool result = false;
    bool first = true;
    bool isAnd = false;
    qsizetype i = 0;
    while ((i = skipSpace(i)) < qsizetype(t.size())) {
        if (!first) {
            if (!t[i].isIdent(u"and") && !t[i].isIdent(u"or"))
                return false;
            isAnd = t[i].isIdent(u"and");
            if ((i = skipSpace(i + 1)) >= qsizetype(t.size()))
                return false;
        }
        const qsizetype end = nextComponent(t, i);
        const bool holds = inParens(t.subspan(i, end - i), d, s, depth);
        result = first ? holds : isAnd ? result && holds : result || holds;
        first = false;
        i = end;
    }
    return result;
}

} // namespace

bool evaluateSupports(Tokens t, const DeclarationTest& declaration, const SelectorTest& selector)
{
    return condition(trimmed(t), declaration, selector, 0);
}

} // namespace mizong::page::css
