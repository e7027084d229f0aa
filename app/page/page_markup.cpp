#include "page_markup.h"

#include "character_references.h"
#include "css_for_qt.h"

#include <QHash>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>

namespace mizong::page {

namespace {

using namespace Qt::StringLiterals;

constexpr char16_t kReplacement = 0xFFFD;

bool isAsciiAlpha(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool isAsciiAlnum(char16_t c)
{
    return isAsciiAlpha(c) || isAsciiDigit(c);
}

bool isHtmlSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
}

char16_t asciiLower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

QString lowered(QStringView s)
{
    QString out(s.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        d[i] = c == 0 ? kReplacement : asciiLower(c);
    }
    return out;
}

bool equalsLowered(QStringView s, QStringView lower)
{
    if (s.size() != lower.size())
        return false;
    for (qsizetype i = 0; i < s.size(); ++i)
        if (asciiLower(s[i].unicode()) != lower[i].unicode())
            return false;
    return true;
}

enum class Escape
{
    Text,      // body text: NULs dropped, as HTML's tree builder drops them there
    Attribute, // a double-quoted attribute value
    Full,      // text Qt must get back exactly (style sheets, raw text, decoded values)
};

// Appends `s` so that Qt's importer reads it back as text, never as markup
// and never as a character reference. Unpaired surrogates become U+FFFD, and
// so do NULs but in body text.
void appendEscaped(QString& out, QStringView s, Escape mode)
{
    qsizetype run = 0;
    const auto flush = [&](qsizetype i) {
        if (i > run)
            out += s.sliced(run, i - run);
        run = i + 1;
    };
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        switch (c) {
        case u'<':
            flush(i);
            out += u"&lt;"_s;
            continue;
        case u'>':
            flush(i);
            out += u"&gt;"_s;
            continue;
        case u'&':
            flush(i);
            out += u"&amp;"_s;
            continue;
        case u'"':
            if (mode == Escape::Attribute) {
                flush(i);
                out += u"&quot;"_s;
            }
            continue;
        case 0:
            flush(i);
            if (mode != Escape::Text)
                out += QChar(kReplacement);
            continue;
        default:
            break;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < s.size() &&
            QChar::isLowSurrogate(s[i + 1].unicode())) {
            ++i;
        } else if (QChar::isSurrogate(c)) {
            flush(i);
            out += QChar(kReplacement);
        }
    }
    flush(s.size());
}

// ---------------------------------------------------------------------------
// Character references

// An attribute value as the page means it: character references decoded,
// NULs replaced, as HTML's tokenizer reads it.
QString decodeAttribute(QStringView raw)
{
    QString out;
    out.reserve(raw.size());
    appendDecoded(out, raw, true);
    out.replace(QChar(0), QChar(kReplacement));
    return out;
}

// Spaces that are not ASCII's: browsers never collapse them (Chinese
// paragraphs are indented with U+3000), Qt's importer collapses them all.
bool isKeptSpace(char16_t c)
{
    return c == 0x3000 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F;
}

// Element content that may hold character references (body text, and the
// title's RCDATA), decoded here and written for Qt escaped.
void appendText(QString& out, QStringView raw, Escape mode)
{
    if (!raw.contains(u'&')) {
        appendEscaped(out, raw, mode);
        return;
    }
    QString decoded;
    decoded.reserve(raw.size());
    appendDecoded(decoded, raw, false);
    appendEscaped(out, decoded, mode);
}

// ---------------------------------------------------------------------------
// Numbers

// The largest length kept: Qt's layout works in 26.6 fixed point and hangs
// or overflows far below the range of int (a cellpadding of 2^31 never ends).
constexpr double kMaxLength = 10000;

// A length attribute as Qt reads it (a number, or a percentage where
// allowed), bounded; nothing when Qt would not read it.
std::optional<QString> boundedLength(QStringView value, bool percentAllowed)
{
    value = value.trimmed();
    qsizetype end = 0;
    while (end < value.size() && isAsciiDigit(value[end].unicode()))
        ++end;
    if (end == 0)
        return std::nullopt;
    qsizetype fraction = end;
    if (fraction < value.size() && value[fraction] == u'.') {
        ++fraction;
        while (fraction < value.size() && isAsciiDigit(value[fraction].unicode()))
            ++fraction;
        if (fraction > end + 1)
            end = fraction;
    }
    const bool percent = fraction < value.size() && value[fraction] == u'%';
    if (percent && !percentAllowed)
        return std::nullopt; // Qt would ignore it
    const double number = std::min(value.first(end).toDouble(), percent ? 100.0 : kMaxLength);
    return QString::number(number) + (percent ? u"%"_s : QString());
}

// An integer attribute (its leading digits, after an optional sign) within
// [low, high]; nothing when it has no digits.
std::optional<int> boundedInteger(QStringView value, int low, int high)
{
    value = value.trimmed();
    const bool negative = value.startsWith(u'-');
    if (value.startsWith(u'-') || value.startsWith(u'+'))
        value = value.sliced(1);
    qint64 number = 0;
    qsizetype i = 0;
    for (; i < value.size() && isAsciiDigit(value[i].unicode()); ++i)
        number = std::min<qint64>(number * 10 + (value[i].unicode() - u'0'), 1LL << 32);
    if (i == 0)
        return std::nullopt;
    return int(std::clamp<qint64>(negative ? -number : number, low, high));
}

constexpr int kMaxColspan = 1000;  // as browsers
constexpr int kMaxRowspan = 65534; // as browsers

// ---------------------------------------------------------------------------
// URLs

bool isWebUrl(const QUrl& url)
{
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty();
}

// An attribute's URL resolved as a browser would: surrounding blanks and
// embedded tabs and line breaks do not count.
QUrl resolveReference(const QUrl& base, QStringView value)
{
    QString cleaned;
    cleaned.reserve(value.size());
    for (QChar c : value.trimmed())
        if (c != u'\t' && c != u'\n' && c != u'\r')
            cleaned += c;
    const QUrl relative(cleaned, QUrl::TolerantMode);
    if (!relative.isValid())
        return relative;
    return base.isEmpty() ? relative : base.resolved(relative);
}

// The text a resource's address is written as, and the QUrl Qt will look it
// up by: the same for the lists and the markup.
struct ResourceAddress
{
    QString text;
    QUrl url;
};

ResourceAddress resourceAddress(const QUrl& url)
{
    QString text = url.toString(QUrl::FullyEncoded);
    QUrl parsed(text);
    return {std::move(text), std::move(parsed)};
}

// ---------------------------------------------------------------------------
// Style sheets

bool isCssNewline(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == u'\f';
}

// How much of a style sheet holds at most `maxRules` rules and `maxChars`
// characters, ending after a whole statement; `rules` receives the rules
// within it.
qsizetype styleSheetFit(QStringView css, int maxRules, qsizetype maxChars, int& rules)
{
    const qsizetype end = std::min(css.size(), std::max<qsizetype>(maxChars, 0));
    qsizetype fit = 0;
    int depth = 0;
    int count = 0;
    rules = 0;
    for (qsizetype i = 0; i < end; ++i) {
        const char16_t c = css[i].unicode();
        if (c == u'/' && i + 1 < end && css[i + 1] == u'*') {
            const qsizetype close = css.indexOf(u"*/", i + 2);
            i = close < 0 ? css.size() : close + 1;
        } else if (c == u'"' || c == u'\'') {
            for (++i; i < css.size() && css[i] != c && !isCssNewline(css[i].unicode()); ++i) {
                if (css[i] == u'\\')
                    ++i;
            }
        } else if (c == u'\\') {
            ++i;
        } else if (c == u'{') {
            ++depth;
            if (++count > maxRules)
                return fit;
        } else if (c == u'}' || (c == u';' && depth == 0)) {
            depth = std::max(depth - (c == u'}' ? 1 : 0), 0);
            if (depth == 0) {
                fit = std::min(i + 1, end);
                rules = count;
            }
        }
    }
    if (end == css.size()) {
        fit = end;
        rules = count;
    }
    return fit;
}

// The address an @import's target is written as for Qt, when it is http(s)
// and `accept` takes it (the resources' limit).
std::optional<QString> importAddress(const QUrl& base, const QString& target,
                                     const std::function<bool(const QUrl&)>& accept)
{
    const QUrl url = resolveReference(base, target);
    if (!isWebUrl(url))
        return std::nullopt;
    ResourceAddress address = resourceAddress(url);
    if (!accept(address.url))
        return std::nullopt;
    return std::move(address.text);
}

// ---------------------------------------------------------------------------
// Tokens

struct Attribute
{
    QStringView name;
    QStringView value; // as written: character references not decoded
};

struct Token
{
    enum Type
    {
        Text,
        StartTag,
        EndTag,
    };
    Type type = Text;
    // Text: the characters as written. StartTag of a raw-text element
    // (script, style, title, ...): its whole content, taken with the tag.
    QStringView text;
    bool hasContent = false;
    QString name; // lower-case
    QList<Attribute> attributes;
    bool selfClosing = false;

    QStringView attribute(QStringView lowerName, bool* present = nullptr) const
    {
        for (const Attribute& a : attributes) {
            if (equalsLowered(a.name, lowerName)) {
                if (present)
                    *present = true;
                return a.value;
            }
        }
        if (present)
            *present = false;
        return {};
    }
};

enum class RawText
{
    None,
    Script,
    Until, // until its end tag: style, title, textarea, xmp, iframe, ...
    Rest,  // plaintext: the rest of the input
};

RawText rawTextOf(QStringView name)
{
    if (name == u"script")
        return RawText::Script;
    if (name == u"plaintext")
        return RawText::Rest;
    // <noscript> is not among them: no script runs here, so a browser with
    // scripts off shows its content, and so does the view.
    static constexpr QStringView until[] = {u"style",  u"title",   u"textarea", u"xmp",
                                            u"iframe", u"noembed", u"noframes"};
    for (QStringView u : until)
        if (u == name)
            return RawText::Until;
    return RawText::None;
}

// HTML's tokenizer, tolerant as browsers are. A tag cut off by the end of the
// input yields nothing.
class Tokenizer
{
public:
    explicit Tokenizer(QStringView input) : m_in(input) {}

    bool next(Token& token)
    {
        const qsizetype n = m_in.size();
        while (m_pos < n) {
            const qsizetype lt = m_in.indexOf(u'<', m_pos);
            if (lt != m_pos) {
                const qsizetype end = lt < 0 ? n : lt;
                token.type = Token::Text;
                token.text = m_in.sliced(m_pos, end - m_pos);
                m_pos = end;
                return true;
            }
            if (m_pos + 1 >= n) {
                m_pos = n;
                return false;
            }
            const char16_t c = at(m_pos + 1);
            if (c == u'!') {
                if (startsWithAt(m_pos, u"<!--"))
                    skipComment();
                else
                    skipPast(u'>', m_pos + 2);
            } else if (c == u'?') {
                skipPast(u'>', m_pos + 2);
            } else if (c == u'/') {
                if (m_pos + 2 >= n) {
                    m_pos = n;
                    return false;
                }
                const char16_t d = at(m_pos + 2);
                if (isAsciiAlpha(d))
                    return readTag(token, m_pos + 2, Token::EndTag);
                if (d == u'>')
                    m_pos += 3;
                else
                    skipPast(u'>', m_pos + 2);
            } else if (isAsciiAlpha(c)) {
                if (!readTag(token, m_pos + 1, Token::StartTag))
                    return false;
                readContent(token);
                return true;
            } else {
                // A '<' that starts nothing is text.
                token.type = Token::Text;
                token.text = m_in.sliced(m_pos, 1);
                ++m_pos;
                return true;
            }
        }
        return false;
    }

private:
    char16_t at(qsizetype i) const { return m_in[i].unicode(); }

    bool startsWithAt(qsizetype i, QStringView what) const
    {
        return m_in.size() - i >= what.size() && m_in.sliced(i, what.size()) == what;
    }

    void skipPast(char16_t c, qsizetype from)
    {
        const qsizetype i = m_in.indexOf(c, from);
        m_pos = i < 0 ? m_in.size() : i + 1;
    }

    void skipComment()
    {
        const qsizetype n = m_in.size();
        qsizetype from = m_pos + 4;
        if (startsWithAt(from, u">")) {
            m_pos = from + 1;
            return;
        }
        if (startsWithAt(from, u"->")) {
            m_pos = from + 2;
            return;
        }
        for (;;) {
            const qsizetype dashes = m_in.indexOf(u"--", from);
            if (dashes < 0) {
                m_pos = n;
                return;
            }
            if (startsWithAt(dashes + 2, u">")) {
                m_pos = dashes + 3;
                return;
            }
            if (startsWithAt(dashes + 2, u"!>")) {
                m_pos = dashes + 4;
                return;
            }
            from = dashes + 1;
        }
    }

    bool readTag(Token& token, qsizetype nameStart, Token::Type type)
    {
        const qsizetype n = m_in.size();
        qsizetype i = nameStart;
        while (i < n && !isHtmlSpace(at(i)) && at(i) != u'/' && at(i) != u'>')
            ++i;
        token.type = type;
        token.name = lowered(m_in.sliced(nameStart, i - nameStart));
        token.attributes.clear();
        token.selfClosing = false;
        token.hasContent = false;
        token.text = {};
        for (;;) {
            while (i < n && isHtmlSpace(at(i)))
                ++i;
            if (i >= n)
                break;
            if (at(i) == u'>') {
                m_pos = i + 1;
                return true;
            }
            if (at(i) == u'/') {
                ++i;
                if (i < n && at(i) == u'>') {
                    token.selfClosing = true;
                    m_pos = i + 1;
                    return true;
                }
                continue;
            }
            const qsizetype attributeStart = i;
            ++i; // a leading '=' belongs to the name
            while (i < n && !isHtmlSpace(at(i)) && at(i) != u'/' && at(i) != u'>' && at(i) != u'=')
                ++i;
            Attribute attribute{m_in.sliced(attributeStart, i - attributeStart), {}};
            qsizetype j = i;
            while (j < n && isHtmlSpace(at(j)))
                ++j;
            if (j < n && at(j) == u'=') {
                ++j;
                while (j < n && isHtmlSpace(at(j)))
                    ++j;
                if (j >= n)
                    break;
                const char16_t quote = at(j);
                if (quote == u'"' || quote == u'\'') {
                    const qsizetype close = m_in.indexOf(quote, j + 1);
                    if (close < 0)
                        break;
                    attribute.value = m_in.sliced(j + 1, close - j - 1);
                    i = close + 1;
                } else {
                    qsizetype k = j;
                    while (k < n && !isHtmlSpace(at(k)) && at(k) != u'>')
                        ++k;
                    attribute.value = m_in.sliced(j, k - j);
                    i = k;
                }
            } else {
                i = j;
            }
            if (type == Token::StartTag)
                token.attributes.append(attribute);
        }
        m_pos = n;
        return false;
    }

    // "</name" followed by a blank, '/' or '>', case aside.
    bool isEndTagAt(qsizetype i, QStringView lowerName) const
    {
        const qsizetype after = i + 2 + lowerName.size();
        if (after >= m_in.size() || at(i) != u'<' || at(i + 1) != u'/')
            return false;
        if (!equalsLowered(m_in.sliced(i + 2, lowerName.size()), lowerName))
            return false;
        const char16_t c = at(after);
        return isHtmlSpace(c) || c == u'/' || c == u'>';
    }

    bool isScriptStartAt(qsizetype i) const
    {
        const qsizetype after = i + 7;
        if (after >= m_in.size() || at(i) != u'<')
            return false;
        if (!equalsLowered(m_in.sliced(i + 1, 6), u"script"))
            return false;
        const char16_t c = at(after);
        return isHtmlSpace(c) || c == u'/' || c == u'>';
    }

    // Script data with its escape states: "</script>" inside "<!-- <script>
    // ... -->" does not end the element.
    qsizetype scriptEnd(qsizetype i) const
    {
        enum
        {
            Data,
            Escaped,
            DoubleEscaped,
        } state = Data;
        const qsizetype n = m_in.size();
        while (i < n) {
            const char16_t c = at(i);
            if (c == u'<') {
                if (isEndTagAt(i, u"script")) {
                    if (state != DoubleEscaped)
                        return i;
                    state = Escaped;
                    i += 8;
                    continue;
                }
                if (state == Data && startsWithAt(i, u"<!--")) {
                    state = Escaped;
                    i += 2; // "<!-->" ends as soon as it starts
                    continue;
                }
                if (state == Escaped && isScriptStartAt(i)) {
                    state = DoubleEscaped;
                    i += 7;
                    continue;
                }
            } else if (c == u'-' && state != Data && startsWithAt(i, u"-->")) {
                state = Data;
                i += 3;
                continue;
            }
            ++i;
        }
        return -1;
    }

    qsizetype rawEnd(qsizetype i, QStringView lowerName) const
    {
        for (;;) {
            const qsizetype close = m_in.indexOf(u"</", i);
            if (close < 0 || isEndTagAt(close, lowerName))
                return close;
            i = close + 1;
        }
    }

    void readContent(Token& token)
    {
        const RawText kind = rawTextOf(token.name);
        if (kind == RawText::None)
            return;
        token.hasContent = true;
        const qsizetype begin = m_pos;
        const qsizetype end = kind == RawText::Rest     ? -1
                              : kind == RawText::Script ? scriptEnd(begin)
                                                        : rawEnd(begin, token.name);
        if (end < 0) {
            token.text = m_in.sliced(begin);
            m_pos = m_in.size();
            return;
        }
        token.text = m_in.sliced(begin, end - begin);
        readTag(m_scratch, end + 2, Token::EndTag);
    }

    QStringView m_in;
    qsizetype m_pos = 0;
    Token m_scratch;
};

// ---------------------------------------------------------------------------
// Elements

enum class Kind : quint8
{
    Element,     // kept, under its output name
    Transparent, // its tags dropped, its content kept
    Drop,        // dropped with its content
    Ignore,      // a void element dropped
};

enum class Role : quint8
{
    None,
    Anchor,
    Nobr,
    Heading,
    ListItem,
    DefinitionItem,
    Image,
    Table,
    Section,
    Row,
    Cell,
    Caption,
    Option,
    OptGroup,
    Body,
    Link,
    Style,
    Title,
    Preformatted,
};

enum Flag : quint8
{
    Void = 0x01,
    ClosesP = 0x02,    // its start tag ends an open <p>
    Special = 0x04,    // ends the search for an open <li>, <dd> or <dt>
    Boundary = 0x08,   // end tags and implied ends do not reach past it
    Foreign = 0x10,    // honours "/>"
    ListScope = 0x20,  // ends the scope of </li>
    TableScope = 0x40, // ends the scope of table parts
};

struct ElementRule
{
    QStringView name;
    Kind kind;
    QStringView out;
    Role role;
    quint8 flags;
};

constexpr quint8 kBlock = ClosesP | Special;

// Every element kept is written under a name Qt's importer knows; Qt takes
// any other for an inline element that stays open.
constexpr ElementRule kRules[] = {
    {u"a", Kind::Element, u"a", Role::Anchor, 0},
    {u"address", Kind::Element, u"address", Role::None, ClosesP},
    {u"applet", Kind::Drop, {}, Role::None, Special | Boundary},
    {u"area", Kind::Ignore, {}, Role::None, 0},
    {u"article", Kind::Element, u"div", Role::None, kBlock},
    {u"aside", Kind::Element, u"div", Role::None, kBlock},
    {u"audio", Kind::Drop, {}, Role::None, 0},
    {u"b", Kind::Element, u"b", Role::None, 0},
    {u"base", Kind::Ignore, {}, Role::None, 0},
    {u"basefont", Kind::Ignore, {}, Role::None, 0},
    {u"bgsound", Kind::Ignore, {}, Role::None, 0},
    {u"big", Kind::Element, u"big", Role::None, 0},
    {u"blockquote", Kind::Element, u"blockquote", Role::None, kBlock},
    {u"body", Kind::Transparent, {}, Role::Body, 0},
    {u"br", Kind::Element, u"br", Role::None, Void | Special},
    {u"button", Kind::Drop, {}, Role::None, Special | Boundary},
    {u"canvas", Kind::Drop, {}, Role::None, 0},
    {u"caption", Kind::Element, u"caption", Role::Caption, Special | Boundary},
    {u"center", Kind::Element, u"center", Role::None, kBlock},
    {u"cite", Kind::Element, u"cite", Role::None, 0},
    {u"code", Kind::Element, u"code", Role::None, 0},
    {u"col", Kind::Ignore, {}, Role::None, 0},
    {u"colgroup", Kind::Transparent, {}, Role::None, 0},
    {u"datalist", Kind::Drop, {}, Role::None, 0},
    {u"dd", Kind::Element, u"dd", Role::DefinitionItem, kBlock},
    {u"del", Kind::Element, u"s", Role::None, 0},
    {u"details", Kind::Element, u"div", Role::None, kBlock},
    {u"dfn", Kind::Element, u"dfn", Role::None, 0},
    {u"dialog", Kind::Drop, {}, Role::None, kBlock},
    {u"dir", Kind::Element, u"ul", Role::None, kBlock | ListScope},
    {u"div", Kind::Element, u"div", Role::None, ClosesP},
    {u"dl", Kind::Element, u"dl", Role::None, kBlock},
    {u"dt", Kind::Element, u"dt", Role::DefinitionItem, kBlock},
    {u"em", Kind::Element, u"em", Role::None, 0},
    {u"embed", Kind::Ignore, {}, Role::None, 0},
    {u"fieldset", Kind::Element, u"div", Role::None, kBlock},
    {u"figcaption", Kind::Element, u"div", Role::None, kBlock},
    {u"figure", Kind::Element, u"div", Role::None, kBlock},
    {u"font", Kind::Element, u"font", Role::None, 0},
    {u"footer", Kind::Element, u"div", Role::None, kBlock},
    {u"form", Kind::Transparent, {}, Role::None, ClosesP},
    {u"frame", Kind::Ignore, {}, Role::None, 0},
    {u"frameset", Kind::Drop, {}, Role::None, Special},
    {u"h1", Kind::Element, u"h1", Role::Heading, kBlock},
    {u"h2", Kind::Element, u"h2", Role::Heading, kBlock},
    {u"h3", Kind::Element, u"h3", Role::Heading, kBlock},
    {u"h4", Kind::Element, u"h4", Role::Heading, kBlock},
    {u"h5", Kind::Element, u"h5", Role::Heading, kBlock},
    {u"h6", Kind::Element, u"h6", Role::Heading, kBlock},
    {u"head", Kind::Transparent, {}, Role::None, 0},
    {u"header", Kind::Element, u"div", Role::None, kBlock},
    {u"hgroup", Kind::Element, u"div", Role::None, kBlock},
    {u"hr", Kind::Element, u"hr", Role::None, Void | kBlock},
    {u"html", Kind::Transparent, {}, Role::None, 0},
    {u"i", Kind::Element, u"i", Role::None, 0},
    {u"iframe", Kind::Drop, {}, Role::None, 0},
    {u"image", Kind::Element, u"img", Role::Image, Void | Special},
    {u"img", Kind::Element, u"img", Role::Image, Void | Special},
    {u"input", Kind::Ignore, {}, Role::None, 0},
    {u"ins", Kind::Element, u"u", Role::None, 0},
    {u"isindex", Kind::Ignore, {}, Role::None, 0},
    {u"kbd", Kind::Element, u"kbd", Role::None, 0},
    {u"keygen", Kind::Ignore, {}, Role::None, 0},
    {u"label", Kind::Transparent, {}, Role::None, 0},
    {u"legend", Kind::Element, u"div", Role::None, 0},
    {u"li", Kind::Element, u"li", Role::ListItem, kBlock},
    {u"link", Kind::Element, u"link", Role::Link, Void},
    {u"listing", Kind::Element, u"pre", Role::None, kBlock},
    {u"main", Kind::Element, u"div", Role::None, kBlock},
    {u"map", Kind::Transparent, {}, Role::None, 0},
    {u"marquee", Kind::Element, u"div", Role::None, Special | Boundary},
    // MathML's text is drawn by browsers, as plain inline text here.
    {u"math", Kind::Element, u"span", Role::None, Special | Foreign},
    {u"menu", Kind::Element, u"ul", Role::None, kBlock | ListScope},
    {u"meta", Kind::Ignore, {}, Role::None, 0},
    {u"nav", Kind::Element, u"div", Role::None, kBlock},
    {u"nobr", Kind::Element, u"nobr", Role::Nobr, 0},
    {u"noembed", Kind::Drop, {}, Role::None, 0},
    {u"noframes", Kind::Drop, {}, Role::None, 0},
    {u"noscript", Kind::Transparent, {}, Role::None, 0},
    {u"object", Kind::Drop, {}, Role::None, Special | Boundary},
    {u"ol", Kind::Element, u"ol", Role::None, kBlock | ListScope},
    {u"optgroup", Kind::Drop, {}, Role::OptGroup, 0},
    {u"option", Kind::Drop, {}, Role::Option, 0},
    {u"p", Kind::Element, u"p", Role::None, ClosesP},
    {u"param", Kind::Ignore, {}, Role::None, 0},
    {u"picture", Kind::Transparent, {}, Role::None, 0},
    {u"plaintext", Kind::Element, u"pre", Role::Preformatted, kBlock},
    {u"pre", Kind::Element, u"pre", Role::None, kBlock},
    {u"rp", Kind::Drop, {}, Role::None, 0}, // ruby's fallback brackets, never shown beside ruby
    {u"s", Kind::Element, u"s", Role::None, 0},
    {u"samp", Kind::Element, u"samp", Role::None, 0},
    {u"script", Kind::Drop, {}, Role::None, 0},
    {u"search", Kind::Element, u"div", Role::None, kBlock},
    {u"section", Kind::Element, u"div", Role::None, kBlock},
    {u"select", Kind::Drop, {}, Role::None, Special},
    {u"small", Kind::Element, u"small", Role::None, 0},
    {u"source", Kind::Ignore, {}, Role::None, 0},
    {u"span", Kind::Element, u"span", Role::None, 0},
    {u"strike", Kind::Element, u"s", Role::None, 0},
    {u"strong", Kind::Element, u"strong", Role::None, 0},
    {u"style", Kind::Element, u"style", Role::Style, 0},
    {u"sub", Kind::Element, u"sub", Role::None, 0},
    {u"summary", Kind::Element, u"div", Role::None, kBlock},
    {u"sup", Kind::Element, u"sup", Role::None, 0},
    {u"svg", Kind::Drop, {}, Role::None, Special | Boundary | Foreign},
    {u"table", Kind::Element, u"table", Role::Table, kBlock | Boundary | TableScope},
    {u"tbody", Kind::Element, u"tbody", Role::Section, Special},
    {u"td", Kind::Element, u"td", Role::Cell, Special | Boundary},
    {u"template", Kind::Drop, {}, Role::None, Special | Boundary | TableScope},
    {u"textarea", Kind::Drop, {}, Role::None, 0},
    {u"tfoot", Kind::Element, u"tfoot", Role::Section, Special},
    {u"th", Kind::Element, u"th", Role::Cell, Special | Boundary},
    {u"thead", Kind::Element, u"thead", Role::Section, Special},
    {u"title", Kind::Element, u"title", Role::Title, 0},
    {u"tr", Kind::Element, u"tr", Role::Row, Special},
    {u"track", Kind::Ignore, {}, Role::None, 0},
    {u"tt", Kind::Element, u"tt", Role::None, 0},
    {u"u", Kind::Element, u"u", Role::None, 0},
    {u"ul", Kind::Element, u"ul", Role::None, kBlock | ListScope},
    {u"var", Kind::Element, u"var", Role::None, 0},
    {u"video", Kind::Drop, {}, Role::None, 0},
    {u"wbr", Kind::Ignore, {}, Role::None, 0},
    {u"xmp", Kind::Element, u"pre", Role::Preformatted, kBlock},
};

constexpr ElementRule kUnknownRule{{}, Kind::Element, u"span", Role::None, 0};
constexpr ElementRule kImpliedRowRule{u"tr", Kind::Element, u"tr", Role::Row, Special};

const ElementRule* ruleFor(const QString& name)
{
    static const QHash<QStringView, const ElementRule*> rules = [] {
        QHash<QStringView, const ElementRule*> h;
        for (const ElementRule& r : kRules)
            h.insert(r.name, &r);
        return h;
    }();
    return rules.value(QStringView(name), &kUnknownRule);
}

// Attributes Qt's importer reads, by output element; every other attribute
// (event handlers, background, ...) is dropped.
bool attributeAllowed(QStringView element, QStringView attribute)
{
    static constexpr QStringView everywhere[] = {u"id",    u"class",  u"title",
                                                 u"align", u"valign", u"dir"};
    for (QStringView a : everywhere)
        if (a == attribute)
            return true;
    struct PerElement
    {
        QStringView element;
        QStringView attributes[7];
    };
    static constexpr PerElement perElement[] = {
        {u"a", {u"name"}},
        {u"body", {u"bgcolor"}},
        {u"font", {u"size", u"face", u"color"}},
        {u"hr", {u"width"}},
        {u"img", {u"width", u"height", u"alt"}},
        {u"ol", {u"type"}},
        {u"table",
         {u"border", u"bgcolor", u"bordercolor", u"cellspacing", u"cellpadding", u"width",
          u"height"}},
        {u"td", {u"width", u"height", u"bgcolor", u"rowspan", u"colspan", u"nowrap"}},
        {u"th", {u"width", u"height", u"bgcolor", u"rowspan", u"colspan", u"nowrap"}},
        {u"tr", {u"bgcolor"}},
        {u"ul", {u"type"}},
    };
    for (const PerElement& p : perElement) {
        if (p.element != element)
            continue;
        for (QStringView a : p.attributes)
            if (!a.isEmpty() && a == attribute)
                return true;
        return false;
    }
    return false;
}

// A margin of the body's style in pixels: a number of px, or 0; nothing for
// the lengths that depend on what Qt does not know here (em, %, auto).
std::optional<qreal> stylePixels(QStringView value)
{
    value = value.trimmed();
    if (value.endsWith(u"px", Qt::CaseInsensitive))
        value.chop(2);
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return std::clamp(number, -kMaxLength, kMaxLength);
}

// The body's margins as browsers take them: 8 px, then its presentational
// attributes, then its own style.
QMarginsF bodyMargins(const Token& token)
{
    QMarginsF margins(8, 8, 8, 8);
    const auto attribute = [&token](QStringView name) {
        bool present = false;
        const QStringView value = token.attribute(name, &present);
        return present ? boundedInteger(decodeAttribute(value), 0, int(kMaxLength))
                       : std::optional<int>();
    };
    if (const auto height = attribute(u"marginheight")) {
        margins.setTop(*height);
        margins.setBottom(*height);
    } else {
        if (const auto top = attribute(u"topmargin"))
            margins.setTop(*top);
        if (const auto bottom = attribute(u"bottommargin"))
            margins.setBottom(*bottom);
    }
    if (const auto width = attribute(u"marginwidth")) {
        margins.setLeft(*width);
        margins.setRight(*width);
    } else {
        if (const auto left = attribute(u"leftmargin"))
            margins.setLeft(*left);
        if (const auto right = attribute(u"rightmargin"))
            margins.setRight(*right);
    }
    const QString style = decodeAttribute(token.attribute(u"style"));
    for (QStringView declaration : QStringView(style).split(u';')) {
        const qsizetype colon = declaration.indexOf(u':');
        if (colon < 0)
            continue;
        const QString name = lowered(declaration.first(colon).trimmed());
        QStringView value = declaration.sliced(colon + 1).trimmed();
        if (const qsizetype bang = value.indexOf(u'!'); bang >= 0)
            value = value.first(bang).trimmed();
        if (name == u"margin") {
            // One to four lengths: top, right, bottom, left, as CSS fills them.
            const QList<QStringView> parts = value.split(u' ', Qt::SkipEmptyParts);
            if (parts.isEmpty() || parts.size() > 4)
                continue;
            std::optional<qreal> side[4];
            for (qsizetype i = 0; i < parts.size(); ++i)
                side[i] = stylePixels(parts[i]);
            const qsizetype n = parts.size();
            const std::optional<qreal>& top = side[0];
            const std::optional<qreal>& right = side[n > 1 ? 1 : 0];
            const std::optional<qreal>& bottom = side[n > 2 ? 2 : 0];
            const std::optional<qreal>& left = side[n > 3 ? 3 : n > 1 ? 1 : 0];
            margins = QMarginsF(left.value_or(margins.left()), top.value_or(margins.top()),
                                right.value_or(margins.right()), bottom.value_or(margins.bottom()));
        } else if (name.startsWith(u"margin-")) {
            const std::optional<qreal> pixels = stylePixels(value);
            if (!pixels)
                continue;
            if (name == u"margin-top")
                margins.setTop(*pixels);
            else if (name == u"margin-right")
                margins.setRight(*pixels);
            else if (name == u"margin-bottom")
                margins.setBottom(*pixels);
            else if (name == u"margin-left")
                margins.setLeft(*pixels);
        }
    }
    return margins;
}

// Hidden by the page itself: the hidden attribute, or display:none in the
// element's own style. No browser shows such an element or its content.
bool hiddenByAuthor(const Token& token)
{
    bool present = false;
    token.attribute(u"hidden", &present);
    if (present)
        return true;
    const QString style = decodeAttribute(token.attribute(u"style"));
    for (QStringView declaration : QStringView(style).split(u';')) {
        const qsizetype colon = declaration.indexOf(u':');
        if (colon < 0 || !equalsLowered(declaration.first(colon).trimmed(), u"display"))
            continue;
        QStringView value = declaration.sliced(colon + 1).trimmed();
        const qsizetype bang = value.indexOf(u'!');
        if (bang >= 0)
            value = value.first(bang).trimmed();
        // The last declaration wins, as in the cascade.
        present = equalsLowered(value, u"none");
    }
    return present;
}

struct OpenElement
{
    const ElementRule* rule;
    QString name;
    qsizetype previousSame; // the next open element of the same name below, or -1
    // Innermost open elements at or below this one, or -1:
    qsizetype boundary;     // a scope boundary
    qsizetype tableContext; // a table (or template)
    qsizetype listScope;    // a boundary or list
    qsizetype special;      // an element that ends the <li>/<dd>/<dt> search
    bool shown;             // written out (not inside dropped content)
    // A <details> without "open": only its first <summary> is shown.
    bool closedDetails = false;
    bool summaryShown = false;
};

// A shown table's grid as Qt will lay it out.
struct Table
{
    qsizetype element = 0; // in the open elements
    qint64 weight = 1;     // 2^(nesting - 1)
    qint64 rows = 0;
    qint64 columns = 0;
    qsizetype cursor = 0; // the next column of the current row
    QList<int> covered;   // per column: further rows a cell above spans
};

class Builder
{
public:
    Builder(const MarkupLimits& limits, const ViewMetrics& view, const QUrl& base,
            const QString& baseTarget, PreparedMarkup& result)
        : m_limits(limits), m_view(view), m_base(base), m_baseTarget(baseTarget), m_result(result),
          m_depthLimit(std::max(0, limits.maxDepth - 2))
    {}

    void run(QStringView input)
    {
        m_body.reserve(input.size() + input.size() / 8);
        Tokenizer tokenizer(input);
        Token token;
        while (!m_stopped && tokenizer.next(token)) {
            switch (token.type) {
            case Token::Text:
                if (m_firstHidden < 0)
                    text(token.text);
                break;
            case Token::StartTag:
                startTag(token);
                break;
            case Token::EndTag:
                endTag(token);
                break;
            }
        }
        popTo(0);
        m_result.nesting = m_nesting;
    }

    QString html() const
    {
        QString out;
        out.reserve(m_head.size() + m_body.size() + m_bodyAttributes.size() + 48);
        out += u"<html><head>"_s;
        out += m_head;
        out += u"</head><body"_s;
        out += m_bodyAttributes;
        out += u'>';
        out += m_body;
        out += u"</body></html>"_s;
        return out;
    }

private:
    qsizetype lastOpen(const QString& name) const { return m_lastOpen.value(name, -1); }

    qsizetype lastOpenOf(std::initializer_list<QString> names) const
    {
        qsizetype last = -1;
        for (const QString& n : names)
            last = std::max(last, lastOpen(n));
        return last;
    }

    const OpenElement* top() const { return m_open.isEmpty() ? nullptr : &m_open.last(); }
    qsizetype topBoundary() const { return top() ? top()->boundary : -1; }
    qsizetype topSpecial() const { return top() ? top()->special : -1; }

    // The table whose parts a table tag acts on, or -1.
    qsizetype currentTable() const
    {
        const qsizetype t = top() ? top()->tableContext : -1;
        return t >= 0 && m_open[t].rule->role == Role::Table ? t : -1;
    }

    qsizetype openSection(qsizetype table) const
    {
        const qsizetype s = lastOpenOf({u"tbody"_s, u"thead"_s, u"tfoot"_s});
        return s > table ? s : -1;
    }

    bool claimElement()
    {
        // Each element costs Qt's importer a style match per ancestor.
        const qint64 nesting = m_nesting + qint64(m_open.size()) + 1;
        if (m_elements >= m_limits.maxElements || nesting > m_limits.maxNesting) {
            m_stopped = true;
            m_result.capped = true;
            return false;
        }
        ++m_elements;
        m_nesting = nesting;
        return true;
    }

    bool push(const ElementRule* rule, const QString& name, const Token* token, bool dropContent)
    {
        const qsizetype index = m_open.size();
        bool shown = m_firstHidden < 0 && !dropContent;
        if (shown && (index >= m_depthLimit || !chargeTableCells(rule, token))) {
            shown = false;
            m_result.capped = true;
        }
        if (shown) {
            if (!claimElement())
                return false;
            appendStartTag(m_body, rule->out, token);
        } else if (m_firstHidden < 0) {
            m_firstHidden = index;
        }
        const OpenElement* below = top();
        const auto innermost = [&](quint8 flags, qsizetype belowValue) {
            return rule->flags & flags ? index : belowValue;
        };
        OpenElement e{rule,
                      name,
                      lastOpen(name),
                      innermost(Boundary, below ? below->boundary : -1),
                      innermost(TableScope, below ? below->tableContext : -1),
                      innermost(Boundary | ListScope, below ? below->listScope : -1),
                      innermost(Special | Boundary, below ? below->special : -1),
                      shown};
        m_lastOpen.insert(name, index);
        m_open.append(std::move(e));
        if (shown && rule->role == Role::Table) {
            Table table;
            table.element = index;
            table.weight =
                m_tables.isEmpty() ? 1 : std::min(m_tables.last().weight * 2, qint64(1) << 30);
            m_tables.append(std::move(table));
        }
        return true;
    }

    static int span(const Token* token, QStringView name, int high)
    {
        return token ? boundedInteger(decodeAttribute(token->attribute(name)), 1, high).value_or(1)
                     : 1;
    }

    // Charges a row or cell to the table budget, as Qt will grow its grid;
    // false: over budget.
    bool chargeTableCells(const ElementRule* rule, const Token* token)
    {
        if ((rule->role != Role::Row && rule->role != Role::Cell) || m_tables.isEmpty())
            return true;
        Table& t = m_tables.last();
        const auto charge = [this, &t](qint64 cells) {
            if (m_tableCells + t.weight * cells > m_limits.maxTableCells)
                return false;
            m_tableCells += t.weight * cells;
            return true;
        };
        if (rule->role == Role::Row) {
            if (!charge(t.columns))
                return false;
            ++t.rows;
            t.cursor = 0;
            for (int& rows : t.covered)
                rows = std::max(0, rows - 1);
            return true;
        }
        qsizetype first = t.cursor;
        while (first < t.covered.size() && t.covered[first] > 0)
            ++first;
        const qsizetype end = first + span(token, u"colspan", kMaxColspan);
        if (!charge(t.rows * std::max<qint64>(0, end - t.columns)))
            return false;
        t.columns = std::max<qint64>(t.columns, end);
        if (t.covered.size() < end)
            t.covered.resize(end);
        const int rowspan = span(token, u"rowspan", kMaxRowspan);
        for (qsizetype c = first; c < end; ++c)
            t.covered[c] = rowspan - 1;
        t.cursor = end;
        return true;
    }

    void pop()
    {
        const OpenElement e = m_open.takeLast();
        if (e.previousSame >= 0)
            m_lastOpen.insert(e.name, e.previousSame);
        else
            m_lastOpen.remove(e.name);
        if (e.shown) {
            m_body += u"</"_s;
            m_body += e.rule->out;
            m_body += u'>';
        }
        if (m_firstHidden == m_open.size())
            m_firstHidden = -1;
        if (!m_tables.isEmpty() && m_tables.last().element == m_open.size())
            m_tables.removeLast();
    }

    void popTo(qsizetype index)
    {
        while (m_open.size() > index)
            pop();
    }

    // Body text. Runs of the spaces Qt would collapse and browsers never do
    // are kept in a span of their own, an element of the page's budget.
    void text(QStringView raw)
    {
        if (top() && top()->closedDetails)
            return;
        QString decoded;
        if (raw.contains(u'&')) {
            decoded.reserve(raw.size());
            appendDecoded(decoded, raw, false);
            raw = decoded;
        }
        qsizetype from = 0;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (!isKeptSpace(raw[i].unicode()))
                continue;
            qsizetype end = i + 1;
            while (end < raw.size() && isKeptSpace(raw[end].unicode()))
                ++end;
            if (!leafAllowed() || !claimElement())
                break;
            appendEscaped(m_body, raw.sliced(from, i - from), Escape::Text);
            m_body += u"<span style=\"white-space:pre-wrap\">"_s;
            m_body += raw.sliced(i, end - i);
            m_body += u"</span>"_s;
            from = end;
            i = end - 1;
        }
        appendEscaped(m_body, raw.sliced(from), Escape::Text);
    }

    // What a closed <details> holds, but for its first <summary>.
    bool hiddenByClosedDetails(const QString& name)
    {
        if (!top() || !top()->closedDetails)
            return false;
        if (name == u"summary" && !top()->summaryShown) {
            m_open.last().summaryShown = true;
            return false;
        }
        return true;
    }

    void closeParagraph()
    {
        const qsizetype p = lastOpen(u"p"_s);
        if (p >= 0 && p > topBoundary())
            popTo(p);
    }

    // Leaves (void elements, preformatted blocks) go where an element could.
    bool leafAllowed()
    {
        if (m_firstHidden >= 0)
            return false;
        if (m_open.size() >= m_depthLimit) {
            m_result.capped = true;
            return false;
        }
        return true;
    }

    // HTML's implied end tags before a start tag; false: the tag is ignored.
    bool impliedEnds(const ElementRule* rule, const QString& name)
    {
        switch (rule->role) {
        case Role::ListItem:
        case Role::DefinitionItem: {
            const qsizetype item =
                rule->role == Role::ListItem ? lastOpen(u"li"_s) : lastOpenOf({u"dd"_s, u"dt"_s});
            if (item >= 0 && item >= topSpecial())
                popTo(item);
            break;
        }
        case Role::Anchor:
        case Role::Nobr: {
            const qsizetype same = lastOpen(name);
            if (same >= 0 && same >= topBoundary())
                popTo(same);
            break;
        }
        case Role::Option:
        case Role::OptGroup:
            if (top() && top()->rule->role == Role::Option)
                pop();
            if (rule->role == Role::OptGroup && top() && top()->rule->role == Role::OptGroup)
                pop();
            break;
        case Role::Table: {
            // A table directly inside a table (not in a cell) ends it.
            const qsizetype t = currentTable();
            if (t >= 0 && lastOpenOf({u"td"_s, u"th"_s, u"caption"_s}) < t)
                popTo(t);
            break;
        }
        case Role::Section:
        case Role::Caption: {
            const qsizetype t = currentTable();
            if (t < 0)
                return false;
            popTo(t + 1);
            break;
        }
        case Role::Row: {
            const qsizetype t = currentTable();
            if (t < 0)
                return false;
            const qsizetype s = openSection(t);
            popTo((s >= 0 ? s : t) + 1);
            break;
        }
        case Role::Cell: {
            const qsizetype t = currentTable();
            if (t < 0)
                return false;
            const qsizetype row = lastOpen(u"tr"_s);
            if (row > t) {
                popTo(row + 1);
            } else {
                const qsizetype s = openSection(t);
                popTo((s >= 0 ? s : t) + 1);
                if (!push(&kImpliedRowRule, u"tr"_s, nullptr, false))
                    return false;
            }
            break;
        }
        default:
            break;
        }
        if (rule->flags & ClosesP)
            closeParagraph();
        if (rule->role == Role::Heading && top() && top()->rule->role == Role::Heading)
            pop();
        return true;
    }

    // The outermost open <svg> or <math>, or -1.
    qsizetype foreignRoot() const
    {
        if (lastOpen(u"svg"_s) < 0 && lastOpen(u"math"_s) < 0)
            return -1;
        for (qsizetype i = 0; i < m_open.size(); ++i)
            if (m_open[i].rule->flags & Foreign)
                return i;
        return -1;
    }

    // HTML's elements that end SVG or MathML left open, as browsers end it,
    // so that no text after an unclosed <svg> is lost.
    static bool breaksOutOfForeign(const Token& token)
    {
        static const QSet<QString> names = {
            u"b"_s,       u"big"_s,  u"blockquote"_s, u"body"_s,  u"br"_s,   u"center"_s,
            u"code"_s,    u"dd"_s,   u"div"_s,        u"dl"_s,    u"dt"_s,   u"em"_s,
            u"embed"_s,   u"h1"_s,   u"h2"_s,         u"h3"_s,    u"h4"_s,   u"h5"_s,
            u"h6"_s,      u"head"_s, u"hr"_s,         u"i"_s,     u"img"_s,  u"li"_s,
            u"listing"_s, u"menu"_s, u"meta"_s,       u"nobr"_s,  u"ol"_s,   u"p"_s,
            u"pre"_s,     u"ruby"_s, u"s"_s,          u"small"_s, u"span"_s, u"strong"_s,
            u"strike"_s,  u"sub"_s,  u"sup"_s,        u"table"_s, u"tt"_s,   u"u"_s,
            u"ul"_s,      u"var"_s};
        if (token.name == u"font") {
            bool present = false;
            for (QStringView a : {u"color", u"face", u"size"}) {
                token.attribute(a, &present);
                if (present)
                    return true;
            }
            return false;
        }
        return names.contains(token.name);
    }

    void startTag(const Token& token)
    {
        if (const qsizetype foreign = foreignRoot(); foreign >= 0) {
            if (breaksOutOfForeign(token)) {
                popTo(foreign);
            } else if (token.selfClosing) {
                return; // "/>" ends an element in SVG and MathML
            }
        }
        const ElementRule* rule = ruleFor(token.name);
        if ((rule->flags & Foreign) && token.selfClosing)
            return;
        switch (rule->kind) {
        case Kind::Ignore:
            return;
        case Kind::Transparent:
            if (rule->flags & ClosesP)
                closeParagraph();
            if (rule->role == Role::Body && !m_bodySeen && m_firstHidden < 0) {
                m_bodySeen = true;
                appendAttributes(m_bodyAttributes, u"body", token);
                m_result.bodyMargins = bodyMargins(token);
            }
            return;
        case Kind::Drop:
            if (token.hasContent)
                return;
            impliedEnds(rule, token.name);
            push(rule, token.name, nullptr, true);
            return;
        case Kind::Element:
            break;
        }
        if ((hiddenByAuthor(token) || hiddenByClosedDetails(token.name)) &&
            rule->role != Role::Link && rule->role != Role::Style && rule->role != Role::Title) {
            if (rule->role == Role::Preformatted || (rule->flags & Void)) {
                if (rule->flags & ClosesP)
                    closeParagraph();
                return;
            }
            if (impliedEnds(rule, token.name) && !m_stopped)
                push(rule, token.name, &token, true);
            return;
        }
        switch (rule->role) {
        case Role::Link:
            styleSheetLink(token);
            return;
        case Role::Style:
            styleElement(token);
            return;
        case Role::Title:
            titleElement(token);
            return;
        case Role::Preformatted:
            closeParagraph();
            if (leafAllowed() && claimElement()) {
                m_body += u"<pre>"_s;
                appendEscaped(m_body, token.text, Escape::Full);
                m_body += u"</pre>"_s;
            }
            return;
        default:
            break;
        }
        if (!impliedEnds(rule, token.name) || m_stopped)
            return;
        if (!(rule->flags & Void)) {
            bool open = false;
            token.attribute(u"open", &open);
            if (push(rule, token.name, &token, false) && token.name == u"details" && !open)
                m_open.last().closedDetails = true;
        } else if (rule->role == Role::Image) {
            image(token);
        } else if (leafAllowed() && claimElement()) {
            appendStartTag(m_body, rule->out, &token);
        }
    }

    void endTag(const Token& token)
    {
        if (token.name == u"br" || token.name == u"p") {
            if (const qsizetype foreign = foreignRoot(); foreign >= 0)
                popTo(foreign);
        }
        if (token.name == u"br") {
            // "</br>" is a line break in every browser.
            if (leafAllowed() && claimElement())
                m_body += u"<br />"_s;
            return;
        }
        const ElementRule* rule = ruleFor(token.name);
        const qsizetype open =
            rule->role == Role::Heading
                ? lastOpenOf({u"h1"_s, u"h2"_s, u"h3"_s, u"h4"_s, u"h5"_s, u"h6"_s})
                : lastOpen(token.name);
        if (open < 0 || !top())
            return;
        qsizetype scope = top()->boundary;
        switch (rule->role) {
        case Role::Table:
        case Role::Section:
        case Role::Row:
        case Role::Cell:
        case Role::Caption:
            scope = top()->tableContext;
            break;
        case Role::ListItem:
            scope = top()->listScope;
            break;
        default:
            break;
        }
        if (open >= scope)
            popTo(open);
    }

    // The listed address of a resource, if it is one this page may load.
    std::optional<ResourceAddress> resource(QStringView rawValue, const QList<QUrl>& listed)
    {
        const QUrl url = resolveReference(m_base, decodeAttribute(rawValue));
        if (!isWebUrl(url))
            return std::nullopt;
        ResourceAddress address = resourceAddress(url);
        if (!listed.contains(address.url) &&
            m_result.styleSheets.size() + m_result.images.size() >= m_limits.maxResources) {
            m_result.capped = true;
            return std::nullopt;
        }
        return address;
    }

    void image(const Token& token)
    {
        if (!leafAllowed())
            return;
        const std::optional<ResourceAddress> src =
            resource(token.attribute(u"src"), m_result.images);
        if (!src || !claimElement())
            return;
        if (!m_result.images.contains(src->url))
            m_result.images.append(src->url);
        // src first: withLoadedImages() looks for it there.
        m_body += u"<img src=\""_s;
        appendEscaped(m_body, src->text, Escape::Attribute);
        m_body += u'"';
        appendAttributes(m_body, u"img", token);
        m_body += u" />"_s;
    }

    void styleSheetLink(const Token& token)
    {
        if (m_firstHidden >= 0)
            return;
        bool isStyleSheet = false;
        const QString rel = decodeAttribute(token.attribute(u"rel")).simplified();
        for (QStringView word : QStringView(rel).split(u' ', Qt::SkipEmptyParts)) {
            if (word.compare(u"stylesheet", Qt::CaseInsensitive) == 0)
                isStyleSheet = true;
            else if (word.compare(u"alternate", Qt::CaseInsensitive) == 0)
                return;
        }
        if (!isStyleSheet)
            return;
        const std::optional<ResourceAddress> href =
            resource(token.attribute(u"href"), m_result.styleSheets);
        if (!href || m_result.styleSheets.contains(href->url) || !claimElement())
            return;
        m_result.styleSheets.append(href->url);
        // Qt imports a linked sheet only with this type.
        m_head += u"<link rel=\"stylesheet\" type=\"text/css\" href=\""_s;
        appendEscaped(m_head, href->text, Escape::Attribute);
        m_head += u"\" />"_s;
    }

    void styleElement(const Token& token)
    {
        if (m_firstHidden >= 0 || !claimElement())
            return;
        int rules = 0;
        const qsizetype fit =
            styleSheetFit(token.text, m_limits.maxStyleRules - m_result.styleRules,
                          m_limits.maxStyleChars - m_result.styleChars, rules);
        if (fit < token.text.size())
            m_result.capped = true;
        css::QtSheetContext context;
        context.view = m_view;
        context.rootProperties = &m_rootProperties;
        context.varBudget = &m_varBudget;
        context.import = [this](const QString& target) {
            return importAddress(m_base, target, [this](const QUrl& url) {
                if (m_result.styleSheets.contains(url))
                    return true;
                if (m_result.styleSheets.size() + m_result.images.size() >= m_limits.maxResources) {
                    m_result.capped = true;
                    return false;
                }
                m_result.styleSheets.append(url);
                return true;
            });
        };
        const QString css = css::styleSheetForQt(token.text.first(fit), context);
        m_result.styleChars += css.size();
        m_result.styleRules += rules;
        m_head += u"<style>"_s;
        appendEscaped(m_head, css, Escape::Full);
        m_head += u"</style>"_s;
    }

    void titleElement(const Token& token)
    {
        if (m_firstHidden >= 0 || m_titleSeen || !claimElement())
            return;
        m_titleSeen = true;
        m_head += u"<title>"_s;
        appendText(m_head, token.text, Escape::Full);
        m_head += u"</title>"_s;
    }

    void appendStartTag(QString& out, QStringView outName, const Token* token)
    {
        out += u'<';
        out += outName;
        if (token)
            appendAttributes(out, outName, *token);
        if (outName == u"br" || outName == u"hr")
            out += u" /"_s;
        out += u'>';
    }

    void appendAttribute(QString& out, QStringView name, QStringView value)
    {
        out += u' ';
        out += name;
        out += u"=\""_s;
        appendEscaped(out, value, Escape::Attribute);
        out += u'"';
    }

    // The allowed attributes of `token`, the first of each name, values
    // decoded and written back escaped; an <a>'s href becomes its link.
    void appendAttributes(QString& out, QStringView element, const Token& token)
    {
        QVarLengthArray<QString, 8> written;
        for (const Attribute& a : token.attributes) {
            const QString name = lowered(a.name);
            if (std::find(written.cbegin(), written.cend(), name) != written.cend())
                continue;
            if (name == u"style") {
                written.append(name);
                const QString css = css::declarationsForQt(decodeAttribute(a.value), m_view,
                                                           m_rootProperties, &m_varBudget);
                if (!QStringView(css).trimmed().isEmpty())
                    appendAttribute(out, name, css);
            } else if (name == u"href" && element == u"a") {
                written.append(name);
                appendAttribute(out, name, linkHref(int(m_result.links.size())));
                m_result.links.append(link(a.value, token));
            } else if (attributeAllowed(element, name)) {
                written.append(name);
                const std::optional<QString> value =
                    boundedValue(element, name, decodeAttribute(a.value));
                // Qt ignores attributes without a value.
                if (value && !value->isEmpty())
                    appendAttribute(out, name, *value);
            }
        }
    }

    static std::optional<QString> boundedValue(QStringView element, QStringView name,
                                               const QString& value)
    {
        if (name == u"colspan" || name == u"rowspan") {
            const std::optional<int> span =
                boundedInteger(value, 1, name == u"colspan" ? kMaxColspan : kMaxRowspan);
            return span ? std::optional(QString::number(*span)) : std::nullopt;
        }
        if (name == u"size" && element == u"font") {
            // 1 to 7, or a step from the base size.
            const std::optional<int> size = boundedInteger(value, -7, 7);
            if (!size)
                return std::nullopt;
            const QStringView v = QStringView(value).trimmed();
            const bool relative = v.startsWith(u'+') || v.startsWith(u'-');
            return (relative && *size >= 0 ? u"+"_s : QString()) + QString::number(*size);
        }
        if (name == u"width" || name == u"height")
            return boundedLength(value, element != u"img");
        if (name == u"border" || name == u"cellspacing" || name == u"cellpadding")
            return boundedLength(value, false);
        return value;
    }

    PageLink link(QStringView rawHref, const Token& token) const
    {
        bool hasTarget = false;
        const QStringView rawTarget = token.attribute(u"target", &hasTarget);
        const QString target = hasTarget ? decodeAttribute(rawTarget) : m_baseTarget;
        const QString t = target.trimmed().toLower();
        const bool newWindow = !t.isEmpty() && t != u"_self" && t != u"_top" && t != u"_parent";
        return {resolveReference(m_base, decodeAttribute(rawHref)), newWindow};
    }

    const MarkupLimits& m_limits;
    ViewMetrics m_view;
    // The custom properties of the <style> elements' root rules so far, for
    // var() in later ones and in style attributes.
    css::CustomProperties m_rootProperties;
    qsizetype m_varBudget = css::kVarBudget;
    QUrl m_base;
    QString m_baseTarget;
    PreparedMarkup& m_result;
    qsizetype m_depthLimit;
    QList<OpenElement> m_open;
    QHash<QString, qsizetype> m_lastOpen;
    QList<Table> m_tables;
    qint64 m_tableCells = 0;
    qsizetype m_firstHidden = -1; // the outermost open element whose content is dropped
    int m_elements = 0;
    qint64 m_nesting = 0;
    bool m_stopped = false;
    bool m_bodySeen = false;
    bool m_titleSeen = false;
    QString m_head;
    QString m_body;
    QString m_bodyAttributes;
};

// The part of the input looked at: never a half of a surrogate pair or of a
// character reference.
QStringView window(QStringView html, qsizetype maxChars, bool* cut)
{
    *cut = html.size() > maxChars;
    if (!*cut)
        return html;
    QStringView w = html.first(std::max<qsizetype>(0, maxChars));
    if (!w.isEmpty() && w.last().isHighSurrogate())
        w.chop(1);
    const qsizetype tail = std::max<qsizetype>(0, w.size() - 32);
    const qsizetype amp = w.sliced(tail).lastIndexOf(u'&') + tail;
    if (amp >= tail) {
        bool reference = true;
        for (QChar c : w.sliced(amp + 1))
            reference = reference && (isAsciiAlnum(c.unicode()) || c == u'#');
        if (reference)
            w.truncate(amp);
    }
    return w;
}

} // namespace

PreparedMarkup prepareMarkup(QStringView html, const QUrl& pageUrl, const MarkupLimits& limits,
                             const ViewMetrics& view)
{
    PreparedMarkup result;
    bool cut = false;
    const QStringView input = window(html, limits.maxChars, &cut);
    result.capped = cut;

    // The first <base href> counts for every address, also those before it.
    QUrl base = pageUrl;
    QString baseTarget;
    if (input.contains(u"<base", Qt::CaseInsensitive)) {
        Tokenizer tokenizer(input);
        Token token;
        bool hrefSeen = false;
        bool targetSeen = false;
        while (!(hrefSeen && targetSeen) && tokenizer.next(token)) {
            if (token.type != Token::StartTag || token.name != u"base")
                continue;
            bool present = false;
            const QStringView href = token.attribute(u"href", &present);
            if (present && !hrefSeen) {
                hrefSeen = true;
                const QUrl url = resolveReference(pageUrl, decodeAttribute(href));
                if (isWebUrl(url))
                    base = url;
            }
            const QStringView target = token.attribute(u"target", &present);
            if (present && !targetSeen) {
                targetSeen = true;
                baseTarget = decodeAttribute(target);
            }
        }
    }

    const auto build = [&](const MarkupLimits& with, PreparedMarkup& into) {
        Builder builder(with, view, base, baseTarget, into);
        builder.run(input);
        into.html = builder.html();
    };
    build(limits, result);
    // The page's <style> rules are known only with its elements: a second
    // pass with fewer when the two together would cost Qt's importer too
    // much. The elements are the same; only the rules are cut.
    const int allowed = styleRulesFor(limits, result.nesting);
    if (result.styleRules > allowed) {
        MarkupLimits fewer = limits;
        fewer.maxStyleRules = allowed;
        PreparedMarkup again;
        again.capped = true;
        build(fewer, again);
        return again;
    }
    return result;
}

int styleRulesFor(const MarkupLimits& limits, qint64 nesting)
{
    return int(
        std::min<qint64>(limits.maxStyleRules, limits.maxStyleWork / std::max<qint64>(nesting, 1)));
}

QString linkHref(int index)
{
    return u"mizong-link:"_s + QString::number(index);
}

std::optional<int> linkIndex(const QUrl& href)
{
    if (href.scheme() != u"mizong-link" || href.hasQuery() || href.hasFragment() ||
        !href.authority().isEmpty())
        return std::nullopt;
    const QString path = href.path();
    if (path.isEmpty() || path.size() > 9 || (path.size() > 1 && path.front() == u'0'))
        return std::nullopt;
    int value = 0;
    for (QChar c : path) {
        if (!isAsciiDigit(c.unicode()))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

QString withLoadedImages(QStringView preparedHtml, const QSet<QUrl>& loaded)
{
    static constexpr QStringView srcStart = u" src=\"";
    QString out;
    out.reserve(preparedHtml.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype begin = preparedHtml.indexOf(u"<img ", from);
        const qsizetype end = begin < 0 ? -1 : preparedHtml.indexOf(u'>', begin);
        if (end < 0)
            break;
        const QStringView tag = preparedHtml.sliced(begin, end + 1 - begin);
        out += preparedHtml.sliced(from, begin - from);
        const qsizetype src = tag.indexOf(srcStart);
        const qsizetype srcEnd = src < 0 ? -1 : tag.indexOf(u'"', src + srcStart.size());
        if (srcEnd >= 0) {
            const QString text =
                decodeAttribute(tag.sliced(src + srcStart.size(), srcEnd - src - srcStart.size()));
            if (loaded.contains(QUrl(text)))
                out += tag;
        }
        from = end + 1;
    }
    out += preparedHtml.sliced(from);
    return out;
}

PreparedStyleSheet prepareStyleSheet(QStringView css, const QUrl& base, const MarkupLimits& limits,
                                     const ViewMetrics& view)
{
    PreparedStyleSheet result;
    const qsizetype fit =
        styleSheetFit(css, limits.maxStyleRules, limits.maxStyleChars, result.rules);
    result.capped = fit < css.size();
    const qsizetype maxImports = limits.maxResources;
    css::QtSheetContext context;
    context.view = view;
    context.import = [&](const QString& target) {
        return importAddress(base, target, [&result, maxImports](const QUrl& url) {
            if (result.imports.contains(url))
                return true;
            if (result.imports.size() >= maxImports) {
                result.capped = true;
                return false;
            }
            result.imports.append(url);
            return true;
        });
    };
    result.css = css::styleSheetForQt(css.first(fit), context);
    return result;
}

LinkAction linkAction(const PageLink& link, const QUrl& homeSite)
{
    const QUrl& url = link.url;
    if (!isWebUrl(url))
        return LinkAction::Nothing;
    if (link.newWindow)
        return LinkAction::Browser;
    const auto defaultPort = [](const QUrl& u) { return u.scheme() == u"https" ? 443 : 80; };
    const int port = url.port(defaultPort(url));
    const int homePort = homeSite.port(defaultPort(homeSite));
    const bool samePort =
        port == homePort || (port == defaultPort(url) && homePort == defaultPort(homeSite));
    const bool home = url.host().compare(homeSite.host(), Qt::CaseInsensitive) == 0 && samePort;
    return home ? LinkAction::InsideView : LinkAction::Browser;
}

} // namespace mizong::page
