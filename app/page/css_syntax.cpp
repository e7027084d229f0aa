#include "css_syntax.h"

#include <QVarLengthArray>

#include <cmath>
#include <cstdlib>

namespace mizong::page::css {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kEnd = 0; // past the input (a NUL in it is U+FFFD by now)

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool isHex(char16_t c)
{
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isNameStart(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c >= 0x80;
}

bool isNameChar(char16_t c)
{
    return isNameStart(c) || isDigit(c) || c == u'-';
}

bool isSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isNonPrintable(char16_t c)
{
    return c <= 0x08 || c == 0x0B || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
}

// The standard's preprocessing: CR LF, CR and FF become LF; NUL and lone
// surrogates become U+FFFD.
QString preprocessed(QStringView in)
{
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char16_t c = in[i].unicode();
        if (c == u'\r') {
            if (i + 1 < in.size() && in[i + 1] == u'\n')
                ++i;
            out += u'\n';
        } else if (c == u'\f') {
            out += u'\n';
        } else if (c == 0) {
            out += QChar(kReplacement);
        } else if (QChar::isHighSurrogate(c) && i + 1 < in.size() && in[i + 1].isLowSurrogate()) {
            out += in.sliced(i, 2);
            ++i;
        } else if (QChar::isSurrogate(c)) {
            out += QChar(kReplacement);
        } else {
            out += QChar(c);
        }
    }
    return out;
}

class Tokenizer
{
public:
    explicit Tokenizer(const QString& in) : m_in(in) {}

    std::vector<Token> run()
    {
        std::vector<Token> out;
        out.reserve(size_t(m_in.size() / 4));
        Token token;
        while (next(token))
            out.push_back(std::move(token));
        return out;
    }

private:
    char16_t at(qsizetype k = 0) const
    {
        const qsizetype j = m_i + k;
        return j < m_in.size() ? m_in[j].unicode() : kEnd;
    }
    bool atEnd() const { return m_i >= m_in.size(); }

    bool validEscape(qsizetype k = 0) const { return at(k) == u'\\' && at(k + 1) != u'\n'; }

    bool startsIdent(qsizetype k = 0) const
    {
        const char16_t c = at(k);
        if (c == u'-')
            return isNameStart(at(k + 1)) || at(k + 1) == u'-' || validEscape(k + 1);
        if (c == u'\\')
            return validEscape(k);
        return isNameStart(c) && c != kEnd;
    }

    bool startsNumber() const
    {
        const char16_t c = at();
        if (c == u'+' || c == u'-')
            return isDigit(at(1)) || (at(1) == u'.' && isDigit(at(2)));
        if (c == u'.')
            return isDigit(at(1));
        return isDigit(c);
    }

    // After the backslash of a valid escape.
    void consumeEscape(QString& out)
    {
        if (atEnd()) {
            out += QChar(kReplacement);
            return;
        }
        if (!isHex(at())) {
            if (QChar::isHighSurrogate(at()) && QChar::isLowSurrogate(at(1))) {
                out += m_in.sliced(m_i, 2);
                m_i += 2;
                return;
            }
            out += QChar(at());
            ++m_i;
            return;
        }
        char32_t cp = 0;
        for (int n = 0; n < 6 && isHex(at()); ++n, ++m_i)
            cp = cp * 16 + char32_t(isDigit(at()) ? at() - u'0' : (at() | 0x20) - u'a' + 10);
        if (isSpace(at()))
            ++m_i;
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            cp = kReplacement;
        const char32_t one[] = {cp};
        out += QString::fromUcs4(one, 1);
    }

    QString consumeName()
    {
        QString name;
        for (;;) {
            if (isNameChar(at()) && !atEnd()) {
                const qsizetype start = m_i;
                while (!atEnd() && isNameChar(at()))
                    ++m_i;
                name += QStringView(m_in).sliced(start, m_i - start);
            } else if (validEscape()) {
                ++m_i;
                consumeEscape(name);
            } else {
                return name;
            }
        }
    }

    void consumeNumber(Token& token)
    {
        const qsizetype start = m_i;
        token.integer = true;
        if (at() == u'+' || at() == u'-')
            ++m_i;
        while (isDigit(at()))
            ++m_i;
        if (at() == u'.' && isDigit(at(1))) {
            token.integer = false;
            m_i += 2;
            while (isDigit(at()))
                ++m_i;
        }
        if ((at() == u'e' || at() == u'E') &&
            (isDigit(at(1)) || ((at(1) == u'+' || at(1) == u'-') && isDigit(at(2))))) {
            token.integer = false;
            m_i += 2;
            while (isDigit(at()))
                ++m_i;
        }
        const QByteArray text = QStringView(m_in).sliced(start, m_i - start).toLatin1();
        token.number = std::strtod(text.constData(), nullptr);
        if (!std::isfinite(token.number))
            token.number = std::copysign(1e300, token.number);
    }

    void consumeNumeric(Token& token)
    {
        consumeNumber(token);
        if (startsIdent()) {
            token.type = TokenType::Dimension;
            token.text = consumeName();
        } else if (at() == u'%') {
            ++m_i;
            token.type = TokenType::Percentage;
        } else {
            token.type = TokenType::Number;
        }
    }

    void consumeString(Token& token, char16_t quote)
    {
        token.type = TokenType::String;
        for (;;) {
            const char16_t c = at();
            if (atEnd())
                return;
            if (c == quote) {
                ++m_i;
                return;
            }
            if (c == u'\n') {
                token.type = TokenType::BadString;
                return;
            }
            if (c == u'\\') {
                ++m_i;
                if (atEnd())
                    continue;
                if (at() == u'\n')
                    ++m_i;
                else
                    consumeEscape(token.text);
                continue;
            }
            const qsizetype start = m_i;
            while (!atEnd() && at() != quote && at() != u'\n' && at() != u'\\')
                ++m_i;
            token.text += QStringView(m_in).sliced(start, m_i - start);
        }
    }

    void consumeBadUrlRemnants()
    {
        while (!atEnd()) {
            if (at() == u')') {
                ++m_i;
                return;
            }
            if (validEscape()) {
                ++m_i;
                QString ignored;
                consumeEscape(ignored);
            } else {
                ++m_i;
            }
        }
    }

    void consumeUrl(Token& token)
    {
        token.type = TokenType::Url;
        while (isSpace(at()))
            ++m_i;
        for (;;) {
            const char16_t c = at();
            if (atEnd())
                return;
            if (c == u')') {
                ++m_i;
                return;
            }
            if (isSpace(c)) {
                while (isSpace(at()))
                    ++m_i;
                if (atEnd() || at() == u')') {
                    m_i += atEnd() ? 0 : 1;
                    return;
                }
                token.type = TokenType::BadUrl;
                consumeBadUrlRemnants();
                return;
            }
            if (c == u'"' || c == u'\'' || c == u'(' || isNonPrintable(c)) {
                token.type = TokenType::BadUrl;
                consumeBadUrlRemnants();
                return;
            }
            if (c == u'\\') {
                if (!validEscape()) {
                    token.type = TokenType::BadUrl;
                    consumeBadUrlRemnants();
                    return;
                }
                ++m_i;
                consumeEscape(token.text);
                continue;
            }
            token.text += QChar(c);
            ++m_i;
        }
    }

    void consumeIdentLike(Token& token)
    {
        token.text = consumeName();
        if (at() != u'(') {
            token.type = TokenType::Ident;
            return;
        }
        ++m_i;
        if (token.named(u"url")) {
            while (isSpace(at()) && isSpace(at(1)))
                ++m_i;
            const qsizetype k = isSpace(at()) ? 1 : 0;
            if (at(k) != u'"' && at(k) != u'\'') {
                token.text.clear();
                consumeUrl(token);
                return;
            }
        }
        token.type = TokenType::Function;
    }

    bool next(Token& token)
    {
        // Comments are no tokens.
        while (at() == u'/' && at(1) == u'*') {
            const qsizetype close = m_in.indexOf(u"*/", m_i + 2);
            m_i = close < 0 ? m_in.size() : close + 2;
        }
        if (atEnd())
            return false;
        token = Token();
        const char16_t c = at();
        if (isSpace(c)) {
            while (isSpace(at()))
                ++m_i;
            token.type = TokenType::Whitespace;
        } else if (c == u'"' || c == u'\'') {
            ++m_i;
            consumeString(token, c);
        } else if (c == u'#' && (isNameChar(at(1)) || validEscape(1))) {
            ++m_i;
            token.type = TokenType::Hash;
            token.idHash = startsIdent();
            token.text = consumeName();
        } else if (startsNumber()) {
            consumeNumeric(token);
        } else if (c == u'-' && at(1) == u'-' && at(2) == u'>') {
            m_i += 3;
            token.type = TokenType::Cdc;
        } else if (c == u'<' && at(1) == u'!' && at(2) == u'-' && at(3) == u'-') {
            m_i += 4;
            token.type = TokenType::Cdo;
        } else if (c == u'@' && startsIdent(1)) {
            ++m_i;
            token.type = TokenType::AtKeyword;
            token.text = consumeName();
        } else if (startsIdent()) {
            consumeIdentLike(token);
        } else {
            ++m_i;
            switch (c) {
            case u'(':
                token.type = TokenType::LeftParen;
                break;
            case u')':
                token.type = TokenType::RightParen;
                break;
            case u'[':
                token.type = TokenType::LeftSquare;
                break;
            case u']':
                token.type = TokenType::RightSquare;
                break;
            case u'{':
                token.type = TokenType::LeftCurly;
                break;
            case u'}':
                token.type = TokenType::RightCurly;
                break;
            case u',':
                token.type = TokenType::Comma;
                break;
            case u':':
                token.type = TokenType::Colon;
                break;
            case u';':
                token.type = TokenType::Semicolon;
                break;
            default:
                token.type = TokenType::Delim;
                if (QChar::isHighSurrogate(c) && QChar::isLowSurrogate(at())) {
                    token.delim = QChar::surrogateToUcs4(c, at());
                    ++m_i;
                } else {
                    token.delim = c;
                }
            }
        }
        return true;
    }

    const QString& m_in;
    qsizetype m_i = 0;
};

TokenType closerOf(TokenType opener)
{
    switch (opener) {
    case TokenType::LeftSquare:
        return TokenType::RightSquare;
    case TokenType::LeftCurly:
        return TokenType::RightCurly;
    default:
        return TokenType::RightParen;
    }
}

bool isOpener(TokenType t)
{
    return t == TokenType::Function || t == TokenType::LeftParen || t == TokenType::LeftSquare ||
           t == TokenType::LeftCurly;
}

} // namespace

// A closing token that closes nothing stays an ordinary token, as the
// standard's component values have it.
void pairBlocks(std::vector<Token>& tokens)
{
    std::vector<size_t> open;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const TokenType t = tokens[i].type;
        tokens[i].closeOffset = 0;
        if (isOpener(t)) {
            open.push_back(i);
        } else if (!open.empty() && t == closerOf(tokens[open.back()].type)) {
            tokens[open.back()].closeOffset = qsizetype(i - open.back());
            open.pop_back();
        }
    }
    while (!open.empty()) {
        Token closer;
        closer.type = closerOf(tokens[open.back()].type);
        tokens.push_back(closer);
        tokens[open.back()].closeOffset = qsizetype(tokens.size() - 1 - open.back());
        open.pop_back();
    }
}

namespace {

// Past the component values up to the first top-level token of one of the
// given types, or the end.
qsizetype skipUntil(Tokens tokens, qsizetype i, TokenType a, TokenType b)
{
    while (i < qsizetype(tokens.size()) && !tokens[i].is(a) && !tokens[i].is(b))
        i = nextComponent(tokens, i);
    return i;
}

QList<Rule> consumeRules(Tokens tokens, bool topLevel, int depth, const SyntaxLimits& limits)
{
    QList<Rule> rules;
    if (depth > limits.maxDepth)
        return rules;
    const qsizetype n = qsizetype(tokens.size());
    qsizetype i = 0;
    while (i < n) {
        const Token& t = tokens[i];
        if (t.is(TokenType::Whitespace) ||
            (topLevel && (t.is(TokenType::Cdo) || t.is(TokenType::Cdc)))) {
            ++i;
            continue;
        }
        Rule rule;
        rule.depth = depth;
        qsizetype start = i;
        if (t.is(TokenType::AtKeyword)) {
            rule.atName = t.text; // never empty: an at-keyword starts a name
            ++start;
        }
        const qsizetype end =
            rule.isAt() ? skipUntil(tokens, start, TokenType::Semicolon, TokenType::LeftCurly)
                        : skipUntil(tokens, start, TokenType::LeftCurly, TokenType::LeftCurly);
        rule.prelude = tokens.subspan(start, end - start);
        if (end < n && tokens[end].is(TokenType::LeftCurly)) {
            rule.hasBlock = true;
            rule.block = blockContent(tokens, end);
            i = nextComponent(tokens, end);
        } else {
            i = end + 1; // past the ';', or the end
            if (!rule.isAt())
                continue; // a qualified rule needs its block
        }
        if (rules.size() < limits.maxRules)
            rules.append(rule);
    }
    return rules;
}

Declaration consumeDeclaration(Tokens tokens, bool* valid)
{
    Declaration d;
    *valid = false;
    const bool custom = tokens[0].text.startsWith(u"--");
    d.name = custom ? tokens[0].text : tokens[0].text.toLower();
    qsizetype i = 1;
    while (i < qsizetype(tokens.size()) && tokens[i].is(TokenType::Whitespace))
        ++i;
    if (i >= qsizetype(tokens.size()) || !tokens[i].is(TokenType::Colon))
        return d;
    Tokens value = trimmed(tokens.subspan(i + 1));
    // A trailing "! important" (any case, whitespace allowed between).
    if (!value.empty() && value.back().isIdent(u"important")) {
        const Tokens before = trimmed(value.first(value.size() - 1));
        if (!before.empty() && before.back().isDelim(u'!')) {
            d.important = true;
            value = trimmed(before.first(before.size() - 1));
        }
    }
    d.value = value;
    *valid = true;
    return d;
}

} // namespace

bool Token::named(QStringView lower) const
{
    if (text.size() != lower.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c >= u'A' && c <= u'Z')
            c += 0x20;
        if (c != lower[i].unicode())
            return false;
    }
    return true;
}

std::vector<Token> tokenize(QStringView css)
{
    const QString in = preprocessed(css);
    std::vector<Token> tokens = Tokenizer(in).run();
    pairBlocks(tokens);
    return tokens;
}

StyleSheet parseStyleSheet(QStringView css, const SyntaxLimits& limits)
{
    StyleSheet sheet;
    sheet.m_tokens = std::make_unique<std::vector<Token>>(tokenize(css));
    sheet.rules = consumeRules(*sheet.m_tokens, true, 0, limits);
    return sheet;
}

QList<Rule> parseRules(Tokens block, int depth, const SyntaxLimits& limits)
{
    return consumeRules(block, false, depth, limits);
}

QList<Declaration> parseDeclarations(Tokens block, const SyntaxLimits& limits)
{
    QList<Declaration> out;
    const qsizetype n = qsizetype(block.size());
    qsizetype i = 0;
    while (i < n) {
        const Token& t = block[i];
        if (t.is(TokenType::Whitespace) || t.is(TokenType::Semicolon)) {
            ++i;
            continue;
        }
        // An at-rule in a declaration list is read to its ';' or block and
        // dropped; anything else that is no declaration to its ';'.
        const qsizetype end = t.is(TokenType::AtKeyword)
                                  ? skipUntil(block, i, TokenType::Semicolon, TokenType::LeftCurly)
                                  : skipUntil(block, i, TokenType::Semicolon, TokenType::Semicolon);
        if (t.is(TokenType::AtKeyword)) {
            i = end < n && block[end].is(TokenType::LeftCurly) ? nextComponent(block, end)
                                                               : end + 1;
            continue;
        }
        if (t.is(TokenType::Ident)) {
            bool valid = false;
            Declaration d = consumeDeclaration(block.subspan(i, end - i), &valid);
            if (valid && out.size() < limits.maxDeclarations)
                out.append(std::move(d));
        }
        i = end + 1;
    }
    return out;
}

QList<Declaration> parseDeclarations(QStringView text, std::vector<Token>& storage,
                                     const SyntaxLimits& limits)
{
    storage = tokenize(text);
    return parseDeclarations(Tokens(storage), limits);
}

Tokens trimmed(Tokens tokens)
{
    while (!tokens.empty() && tokens.front().is(TokenType::Whitespace))
        tokens = tokens.subspan(1);
    while (!tokens.empty() && tokens.back().is(TokenType::Whitespace))
        tokens = tokens.first(tokens.size() - 1);
    return tokens;
}

QList<Tokens> splitCommas(Tokens tokens)
{
    QList<Tokens> parts;
    qsizetype start = 0;
    qsizetype i = 0;
    const qsizetype n = qsizetype(tokens.size());
    while (i <= n) {
        if (i == n || tokens[i].is(TokenType::Comma)) {
            parts.append(trimmed(tokens.subspan(start, i - start)));
            start = ++i;
            continue;
        }
        i = nextComponent(tokens, i);
    }
    return parts;
}

} // namespace mizong::page::css
