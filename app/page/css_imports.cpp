#include "css_imports.h"

#include "css_cascade_p.h"
#include "css_media.h"

namespace mizong::page::css {

namespace {

qsizetype skipSpace(Tokens t, qsizetype i)
{
    while (i < qsizetype(t.size()) && t[i].is(TokenType::Whitespace))
        ++i;
    return i;
}

// A supports() argument: a condition, or a declaration alone, which reads
// as the condition of that declaration in parentheses.
bool supportsArgument(Tokens argument, const ViewMetrics& view)
{
    argument = trimmed(argument);
    const qsizetype colon = skipSpace(argument, 1);
    if (argument.empty() || !argument[0].is(TokenType::Ident) ||
        colon >= qsizetype(argument.size()) || !argument[colon].is(TokenType::Colon))
        return supportsCondition(argument, view);
    std::vector<Token> condition(1);
    condition.reserve(argument.size() + 2);
    condition.front().type = TokenType::LeftParen;
    condition.insert(condition.end(), argument.begin(), argument.end());
    condition.emplace_back().type = TokenType::RightParen;
    pairBlocks(condition);
    return supportsCondition(condition, view);
}

// The target of an @import that holds for `view`, or nothing.
std::optional<QString> holdingTarget(const Rule& rule, const ViewMetrics& view)
{
    const Tokens prelude = trimmed(rule.prelude);
    if (prelude.empty() || rule.hasBlock)
        return std::nullopt;
    QString target;
    const Token& first = prelude[0];
    if (first.is(TokenType::String) || first.is(TokenType::Url)) {
        target = first.text;
    } else if (first.is(TokenType::Function) && first.named(u"url")) {
        const Tokens inside = trimmed(blockContent(prelude, 0));
        if (inside.size() != 1 || !inside[0].is(TokenType::String))
            return std::nullopt;
        target = inside[0].text;
    } else {
        return std::nullopt;
    }
    qsizetype i = skipSpace(prelude, nextComponent(prelude, 0));
    if (i < qsizetype(prelude.size()) &&
        (prelude[i].isIdent(u"layer") ||
         (prelude[i].is(TokenType::Function) && prelude[i].named(u"layer"))))
        return std::nullopt;
    if (i < qsizetype(prelude.size()) && prelude[i].is(TokenType::Function) &&
        prelude[i].named(u"supports")) {
        if (!supportsArgument(blockContent(prelude, i), view))
            return std::nullopt;
        i = nextComponent(prelude, i);
    }
    if (!matchesMedia(prelude.subspan(i), view))
        return std::nullopt;
    return target;
}

} // namespace

QList<QString> leadingImports(QStringView css, const ViewMetrics& view)
{
    QList<QString> targets;
    const StyleSheet sheet = parseStyleSheet(css);
    bool imported = false;
    for (const Rule& rule : sheet.rules) {
        if (rule.atName.compare(u"charset", Qt::CaseInsensitive) == 0)
            continue;
        if (rule.atName.compare(u"layer", Qt::CaseInsensitive) == 0 && !rule.hasBlock && !imported)
            continue;
        if (rule.atName.compare(u"import", Qt::CaseInsensitive) != 0)
            break;
        imported = true;
        if (std::optional<QString> target = holdingTarget(rule, view))
            targets.append(std::move(*target));
    }
    return targets;
}

} // namespace mizong::page::css
