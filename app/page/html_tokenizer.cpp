#include "html_tokenizer.h"

#include "markup_output.h"

namespace mizong::page::markup {

namespace {

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

} // namespace

bool Tokenizer::next(Token& token)
{
    const qsizetype n = m_in.size();
    while (m_pos < n) {
        const qsizetype lt = m_in.indexOf(u'<', m_pos);
        if (lt != m_pos) {
            const qsizetype end = lt < 0 ? n : lt;
            token.type = Token::Text;
            token.hasContent = false;
            token.text = m_in.sliced(m_pos, end - m_pos);
            m_pos = end;
            return true;
        }
        if (m_pos + 1 >= n)
            return false; // left unread: text to the tree builder
        const char16_t c = at(m_pos + 1);
        if (c == u'!') {
            if (m_foreign && startsWithAt(m_pos, u"<![CDATA[")) {
                const qsizetype begin = m_pos + 9;
                const qsizetype close = m_in.indexOf(u"]]>", begin);
                const qsizetype end = close < 0 ? n : close;
                m_pos = close < 0 ? n : close + 3;
                if (end > begin) {
                    token.type = Token::Text;
                    token.hasContent = true; // as written: no references
                    token.text = m_in.sliced(begin, end - begin);
                    return true;
                }
            } else if (startsWithAt(m_pos, u"<!--"))
                skipComment();
            else
                skipPast(u'>', m_pos + 2);
        } else if (c == u'?') {
            skipPast(u'>', m_pos + 2);
        } else if (c == u'/') {
            if (m_pos + 2 >= n)
                return false; // left unread: text to the tree builder
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
            token.hasContent = false;
            token.text = m_in.sliced(m_pos, 1);
            ++m_pos;
            return true;
        }
    }
    return false;
}

char16_t Tokenizer::at(qsizetype i) const
{
    return m_in[i].unicode();
}

bool Tokenizer::startsWithAt(qsizetype i, QStringView what) const
{
    return m_in.size() - i >= what.size() && m_in.sliced(i, what.size()) == what;
}

void Tokenizer::skipPast(char16_t c, qsizetype from)
{
    const qsizetype i = m_in.indexOf(c, from);
    m_pos = i < 0 ? m_in.size() : i + 1;
}

void Tokenizer::skipComment()
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

bool Tokenizer::readTag(Token& token, qsizetype nameStart, Token::Type type)
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
bool Tokenizer::isEndTagAt(qsizetype i, QStringView lowerName) const
{
    const qsizetype after = i + 2 + lowerName.size();
    if (after >= m_in.size() || at(i) != u'<' || at(i + 1) != u'/')
        return false;
    if (!equalsLowered(m_in.sliced(i + 2, lowerName.size()), lowerName))
        return false;
    const char16_t c = at(after);
    return isHtmlSpace(c) || c == u'/' || c == u'>';
}

bool Tokenizer::isScriptStartAt(qsizetype i) const
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
qsizetype Tokenizer::scriptEnd(qsizetype i) const
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

qsizetype Tokenizer::rawEnd(qsizetype i, QStringView lowerName) const
{
    for (;;) {
        const qsizetype close = m_in.indexOf(u"</", i);
        if (close < 0 || isEndTagAt(close, lowerName))
            return close;
        i = close + 1;
    }
}

void Tokenizer::readContent(Token& token)
{
    const RawText kind = m_foreign ? RawText::None : rawTextOf(token.name);
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
} // namespace mizong::page::markup
