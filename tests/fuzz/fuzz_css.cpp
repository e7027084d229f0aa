// Bytes, as UTF-8, through the CSS parser alone: the tokenizer, the rules
// and their nested blocks, declarations, selectors, media queries and var()
// substitution. The sanitizers watch every span; besides, every block and
// function is paired with a closing token of its kind inside the tokens, and
// a rule's ranges lie inside the sheet's tokens.

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString css = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    checkPaired(tokenize(css));
    const StyleSheet sheet = parseStyleSheet(css);
    const ViewMetrics view;
    CustomProperties properties;
    walk(sheet.rules, view, properties);
    VarResolver resolver(properties);
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        const std::optional<std::vector<Token>> value = resolver.substitute(it.value());
        if (value)
            checkPaired(*value);
    }
    return 0;
}
