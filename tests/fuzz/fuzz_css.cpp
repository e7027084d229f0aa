// Bytes, as UTF-8, through the CSS parser: the tokenizer, the rules and
// their nested blocks, declarations, selectors, media queries, var()
// substitution and a sheet's leading @imports; then through the cascade, as
// a sheet and as a style attribute, over a small document made here. The sanitizers watch every
// span; besides, every block and function is paired with a closing token of
// its kind inside the tokens, a rule's ranges lie inside the sheet's tokens,
// and the cascade gives every node a style.

#include "css_cascade.h"
#include "css_imports.h"
#include "css_media.h"
#include "css_selectors.h"
#include "css_syntax.h"
#include "css_values.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace mizong::page::css;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkPaired(Tokens tokens)
{
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        const bool opener = t.is(TokenType::Function) || t.is(TokenType::LeftParen) ||
                            t.is(TokenType::LeftSquare) || t.is(TokenType::LeftCurly);
        check(opener == (t.closeOffset > 0));
        if (!opener)
            continue;
        check(i + size_t(t.closeOffset) < tokens.size());
        const TokenType closer = tokens[i + size_t(t.closeOffset)].type;
        check(t.is(TokenType::LeftSquare)  ? closer == TokenType::RightSquare
              : t.is(TokenType::LeftCurly) ? closer == TokenType::RightCurly
                                           : closer == TokenType::RightParen);
    }
}

void walk(const QList<Rule>& rules, const ViewMetrics& view, CustomProperties& properties)
{
    for (const Rule& rule : rules) {
        checkPaired(rule.prelude);
        checkPaired(rule.block);
        if (rule.isAt()) {
            matchesMedia(rule.prelude, view);
            walk(parseRules(rule.block, rule.depth + 1), view, properties);
            continue;
        }
        parseSelectorList(rule.prelude);
        for (const Declaration& d : parseDeclarations(rule.block)) {
            checkPaired(d.value);
            parseColor(d.value);
            for (const Token& t : d.value)
                parseLength(t, view);
            if (d.isCustom())
                properties[d.name] = std::vector<Token>(d.value.begin(), d.value.end());
        }
    }
}

// <html><head></head><body class=a id=b><table border=1 cellpadding=2><tr>
// <td bgcolor=chucknorris style=…>text</td></tr></table><ul><li><a href=x>
// link</a></li></ul></body></html>, the style attribute the input.
mizong::page::dom::Document smallDocument(const QString& style)
{
    using namespace mizong::page::dom;
    Document d;
    const auto add = [&d](int parent, Node::Type type, const QString& name,
                          QList<Attribute> attributes = {}) {
        Node n;
        n.type = type;
        n.name = name;
        n.attributes = std::move(attributes);
        n.parent = parent;
        const int index = int(d.nodes.size());
        if (parent != kNone) {
            Node& p = d.nodes[parent];
            n.previousSibling = p.lastChild;
            if (p.lastChild != kNone)
                d.nodes[p.lastChild].nextSibling = index;
            else
                p.firstChild = index;
            p.lastChild = index;
        }
        d.nodes.append(std::move(n));
        return index;
    };
    const Node::Type e = Node::Type::Element;
    add(kNone, Node::Type::Document, {});
    d.html = add(0, e, QStringLiteral("html"));
    d.head = add(d.html, e, QStringLiteral("head"));
    d.body = add(d.html, e, QStringLiteral("body"),
                 {{QStringLiteral("class"), QStringLiteral("a")},
                  {QStringLiteral("id"), QStringLiteral("b")}});
    const int table = add(d.body, e, QStringLiteral("table"),
                          {{QStringLiteral("border"), QStringLiteral("1")},
                           {QStringLiteral("cellpadding"), QStringLiteral("2")}});
    const int tr = add(table, e, QStringLiteral("tr"));
    const int td = add(tr, e, QStringLiteral("td"),
                       {{QStringLiteral("bgcolor"), QStringLiteral("chucknorris")},
                        {QStringLiteral("style"), style}});
    add(td, Node::Type::Text, {});
    const int ul = add(d.body, e, QStringLiteral("ul"));
    const int li = add(ul, e, QStringLiteral("li"));
    add(li, e, QStringLiteral("a"), {{QStringLiteral("href"), QStringLiteral("x")}});
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString css = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    checkPaired(tokenize(css));
    const StyleSheet sheet = parseStyleSheet(css);
    const ViewMetrics view;
    CustomProperties properties;
    walk(sheet.rules, view, properties);
    check(leadingImports(css, view).size() <= sheet.rules.size());
    VarResolver resolver(properties);
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        const std::optional<std::vector<Token>> value = resolver.substitute(it.value());
        if (value)
            checkPaired(*value);
    }
    const mizong::page::dom::Document document = smallDocument(css);
    CascadeLimits limits;
    limits.maxMatchSteps = 100000;
    const Cascaded cascaded = cascade(document, {{css, {}}, {css, {}}}, view, limits);
    check(cascaded.styles.size() == document.nodes.size());
    return 0;
}
