#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <memory>
#include <span>
#include <vector>

// CSS Syntax Module Level 3: the tokenizer and the parser, with the
// standard's error recovery, so that what one page gets wrong (an unknown
// at-rule, a selector or a declaration nobody reads) drops only itself.
// Pure functions of text, bounded, linear in the input; the page view's
// cascade, and the search for a sheet's @imports, read what they give.
namespace mizong::page::css {

enum class TokenType : quint8
{
    Ident,
    Function, // name(
    AtKeyword,
    Hash,
    String,
    BadString,
    Url,
    BadUrl,
    Delim,
    Number,
    Percentage,
    Dimension,
    Whitespace,
    Cdo, // <!--
    Cdc, // -->
    Colon,
    Semicolon,
    Comma,
    LeftSquare,
    RightSquare,
    LeftParen,
    RightParen,
    LeftCurly,
    RightCurly,
};

struct Token
{
    TokenType type = TokenType::Whitespace;
    // A hash of the "id" type (it could be an identifier after '#').
    bool idHash = false;
    // A number written without '.' or an exponent.
    bool integer = false;
    // Delim: the code point.
    char32_t delim = 0;
    // A Function, LeftParen, LeftSquare or LeftCurly: how many tokens on its
    // closing token is (each block is closed, at the end if not before).
    qsizetype closeOffset = 0;
    // Number, Percentage, Dimension.
    double number = 0;
    // Ident, Function and AtKeyword names, Hash, String and Url values,
    // with escapes decoded; a Dimension's unit.
    QString text;

    bool is(TokenType t) const { return type == t; }
    bool isDelim(char32_t c) const { return type == TokenType::Delim && delim == c; }
    // `text` is `lower` in any ASCII case: a Function's or AtKeyword's name,
    // a Dimension's unit.
    bool named(QStringView lower) const;
    // An Ident named `lower`, in any case.
    bool isIdent(QStringView lower) const { return type == TokenType::Ident && named(lower); }
};

using Tokens = std::span<const Token>;

// The tokens of `css` after the standard's preprocessing (CR LF, CR and FF
// become LF, NUL and lone surrogates U+FFFD). Whitespace comes as one token
// per run; comments are dropped.
std::vector<Token> tokenize(QStringView css);

struct SyntaxLimits
{
    // Rules kept of one list (the sheet, or an at-rule's block); the rest
    // are dropped.
    int maxRules = 8192;
    // Blocks nested deeper than this are read as their tokens but never
    // parsed into rules or declarations.
    int maxDepth = 16;
    // Declarations kept of one block.
    int maxDeclarations = 1024;
};

// A rule as the standard's parser gives it: an at-rule (`atName` set) or a
// qualified rule. The token ranges are spans into the parsed sheet's
// tokens, and blocks keep their nested component values flat: a function or
// block's tokens are followed by its content and a closing token (added
// when the input ended first), so every range is balanced.
struct Rule
{
    QString atName; // without '@'; empty for a qualified rule
    Tokens prelude;
    bool hasBlock = false;
    Tokens block; // the content between the braces
    int depth = 0;

    bool isAt() const { return !atName.isEmpty(); }
};

struct Declaration
{
    QString name;
    Tokens value; // leading and trailing whitespace and !important removed
    bool important = false;

    bool isCustom() const { return name.startsWith(u"--"); }
};

// A parsed style sheet; its rules and their nested lists refer into its
// own tokens, so it moves but never copies.
class StyleSheet
{
public:
    StyleSheet() = default;
    StyleSheet(StyleSheet&&) = default;
    StyleSheet& operator=(StyleSheet&&) = default;
    StyleSheet(const StyleSheet&) = delete;
    StyleSheet& operator=(const StyleSheet&) = delete;

    QList<Rule> rules;

private:
    friend StyleSheet parseStyleSheet(QStringView css, const SyntaxLimits& limits);
    std::unique_ptr<std::vector<Token>> m_tokens;
};

// The standard's "parse a stylesheet": top-level rules, with <!-- and -->
// ignored and anything that is no rule dropped as far as it reaches.
StyleSheet parseStyleSheet(QStringView css, const SyntaxLimits& limits = {});

// The rules of a block (an at-rule's, such as @media): "consume a list of
// rules", not at the top level.
QList<Rule> parseRules(Tokens block, int depth, const SyntaxLimits& limits = {});

// A block's declarations in order ("consume a style block's contents"): an
// invalid one is skipped to its ';' and dropped alone; nested rules are
// skipped whole. Names of non-custom properties are lowered.
QList<Declaration> parseDeclarations(Tokens block, const SyntaxLimits& limits = {});

// A style attribute's declarations; `storage` keeps the tokens they refer to.
QList<Declaration> parseDeclarations(QStringView text, std::vector<Token>& storage,
                                     const SyntaxLimits& limits = {});

// Pairs every block and function with its closing token (closeOffset),
// closing at the end those left open; for tokens put together anew.
void pairBlocks(std::vector<Token>& tokens);

// `tokens` split at top-level commas, each part trimmed of whitespace.
QList<Tokens> splitCommas(Tokens tokens);
Tokens trimmed(Tokens tokens);
// The index after the component value starting at `i`: past a whole block
// or function, else past the one token.
inline qsizetype nextComponent(Tokens tokens, qsizetype i)
{
    return i + tokens[i].closeOffset + 1;
}
// The content of the block or function opening at `i`.
inline Tokens blockContent(Tokens tokens, qsizetype i)
{
    return tokens.subspan(i + 1, tokens[i].closeOffset - 1);
}

} // namespace mizong::page::css
