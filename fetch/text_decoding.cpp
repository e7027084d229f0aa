#include "text_decoding.h"

#include "decoders_p.h"

#include <QList>

#include <algorithm>
#include <array>
#include <utility>

namespace mizong {

namespace {

using decoding::Encoding;

bool isBlank(uchar byte)
{
    return byte == 0x09 || byte == 0x0A || byte == 0x0C || byte == 0x0D || byte == 0x20;
}

char toLower(char byte)
{
    return byte >= 'A' && byte <= 'Z' ? char(byte + ('a' - 'A')) : byte;
}

QByteArrayView trimmed(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && isBlank(uchar(bytes.front())))
        bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && isBlank(uchar(bytes.back())))
        bytes.chop(1);
    return bytes;
}

bool isUtf16(Encoding encoding)
{
    return encoding == Encoding::Utf16Be || encoding == Encoding::Utf16Le;
}

// A text that names UTF-16 in ASCII cannot be UTF-16: HTML and CSS read it
// as UTF-8.
std::optional<Encoding> unlessUtf16(std::optional<Encoding> encoding)
{
    if (encoding && isUtf16(*encoding))
        return Encoding::Utf8;
    return encoding;
}

// HTML also reads a page's own x-user-defined as windows-1252.
std::optional<Encoding> asDeclaredInPage(std::optional<Encoding> encoding)
{
    encoding = unlessUtf16(encoding);
    if (encoding == Encoding::XUserDefined)
        return Encoding::Windows1252;
    return encoding;
}

// The encoding a byte order mark names, and the mark's length.
std::pair<std::optional<Encoding>, int> encodingOfBom(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {Encoding::Utf8, 3};
    if (bytes.startsWith("\xFE\xFF"))
        return {Encoding::Utf16Be, 2};
    if (bytes.startsWith("\xFF\xFE"))
        return {Encoding::Utf16Le, 2};
    return {std::nullopt, 0};
}

// The standard's "decode": a byte order mark's encoding over `encoding`,
// the mark itself dropped.
QString decodeWith(QByteArrayView bytes, Encoding encoding, QByteArray* encodingUsed)
{
    const auto [bomEncoding, bomLength] = encodingOfBom(bytes);
    if (bomEncoding)
        encoding = *bomEncoding;
    if (encodingUsed)
        *encodingUsed = decoding::nameOf(encoding);
    return decoding::decode(encoding, bytes.sliced(bomLength));
}

// HTML's prescan of a byte stream for a <meta> declaration: over the first
// 1024 bytes, or (Reach::Head) as far as the page's head goes.
class Prescan
{
public:
    enum class Reach
    {
        FirstBytes,
        Head,
    };

    Prescan(QByteArrayView bytes, Reach reach) : m_bytes(bytes), m_reach(reach) {}

    std::optional<Encoding> run();

private:
    struct Attribute
    {
        QByteArray name;
        QByteArray value;
    };

    bool atEnd() const { return m_at >= m_bytes.size(); }
    uchar current() const { return uchar(m_bytes[m_at]); }
    bool startsWithAnyCase(QByteArrayView word, qsizetype at) const;
    bool skipPast(QByteArrayView end);
    std::optional<Attribute> attribute();
    std::optional<Encoding> meta();
    bool otherTag(bool endTag);

    QByteArrayView m_bytes;
    Reach m_reach;
    qsizetype m_at = 0;
    bool m_aborted = false; // the bytes ended inside a tag
};

bool Prescan::startsWithAnyCase(QByteArrayView word, qsizetype at) const
{
    if (m_bytes.size() - at < word.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i)
        if (toLower(m_bytes[at + i]) != word[i])
            return false;
    return true;
}

// Moves to the byte after the first `end` from here; false when none.
bool Prescan::skipPast(QByteArrayView end)
{
    const qsizetype found = m_bytes.indexOf(end, m_at);
    if (found < 0)
        return false;
    m_at = found + end.size();
    return true;
}

// The next attribute of a tag, its name and value lower-cased; none at the
// tag's end, or when the bytes end first (m_aborted).
std::optional<Prescan::Attribute> Prescan::attribute()
{
    const auto ended = [this] {
        m_aborted = atEnd();
        return m_aborted;
    };
    while (!ended() && (isBlank(current()) || current() == '/'))
        ++m_at;
    if (m_aborted || current() == '>')
        return std::nullopt;

    Attribute found;
    for (;; ++m_at) {
        if (ended())
            return std::nullopt;
        const uchar byte = current();
        if (byte == '=' && !found.name.isEmpty())
            break;
        if (isBlank(byte)) {
            while (!ended() && isBlank(current()))
                ++m_at;
            if (m_aborted)
                return std::nullopt;
            if (current() != '=')
                return found;
            break;
        }
        if (byte == '/' || byte == '>')
            return found;
        found.name += toLower(char(byte));
    }
    ++m_at; // the '='
    while (!ended() && isBlank(current()))
        ++m_at;
    if (m_aborted)
        return std::nullopt;
    const uchar quote = current();
    if (quote == '"' || quote == '\'') {
        for (++m_at; !ended(); ++m_at) {
            if (current() == quote) {
                ++m_at;
                return found;
            }
            found.value += toLower(char(current()));
        }
        return std::nullopt;
    }
    for (; !ended(); ++m_at) {
        if (isBlank(current()) || current() == '>')
            return found;
        found.value += toLower(char(current()));
    }
    return std::nullopt;
}

// The encoding named after "charset=" in a <meta> content value.
std::optional<Encoding> charsetInContent(QByteArrayView content)
{
    for (qsizetype at = 0;;) {
        const qsizetype word = content.indexOf("charset", at);
        if (word < 0)
            return std::nullopt;
        at = word + 7;
        qsizetype next = at;
        while (next < content.size() && isBlank(uchar(content[next])))
            ++next;
        if (next == content.size() || content[next] != '=')
            continue;
        for (++next; next < content.size() && isBlank(uchar(content[next]));)
            ++next;
        if (next == content.size())
            return std::nullopt;
        const char quote = content[next];
        if (quote == '"' || quote == '\'') {
            const qsizetype end = content.indexOf(quote, next + 1);
            if (end < 0)
                return std::nullopt;
            return decoding::encodingOfLabel(content.sliced(next + 1, end - next - 1));
        }
        qsizetype end = next;
        while (end < content.size() && !isBlank(uchar(content[end])) && content[end] != ';')
            ++end;
        return decoding::encodingOfLabel(content.sliced(next, end - next));
    }
}

// A <meta> tag's declaration, from the blank or slash after "<meta"; none
// when it makes none.
std::optional<Encoding> Prescan::meta()
{
    QList<QByteArray> seen;
    bool gotPragma = false;
    std::optional<bool> needPragma;
    bool charsetFound = false; // an encoding, or a charset attribute naming none
    std::optional<Encoding> charset;
    while (const std::optional<Attribute> found = attribute()) {
        if (seen.contains(found->name))
            continue;
        seen.append(found->name);
        if (found->name == "http-equiv") {
            if (found->value == "content-type")
                gotPragma = true;
        } else if (found->name == "content") {
            if (const std::optional<Encoding> named = charsetInContent(found->value);
                named && !charsetFound) {
                charset = named;
                charsetFound = true;
                needPragma = true;
            }
        } else if (found->name == "charset") {
            // Over a content attribute's before it, even when it names none.
            charset = decoding::encodingOfLabel(found->value);
            charsetFound = true;
            needPragma = false;
        }
    }
    if (m_aborted || !needPragma || (*needPragma && !gotPragma))
        return std::nullopt;
    return asDeclaredInPage(charset);
}

// A tag other than <meta>, from its '<': its attributes skipped, so that none
// is read as markup. False where the page's head ends (Reach::Head): at a tag
// that does not belong there, or the end of the head.
bool Prescan::otherTag(bool endTag)
{
    m_at += endTag ? 2 : 1;
    const qsizetype nameStart = m_at;
    while (!atEnd() && !isBlank(current()) && current() != '>')
        ++m_at;
    const QByteArrayView rawName = m_bytes.sliced(nameStart, m_at - nameStart);
    while (attribute()) {
    }
    if (m_reach != Reach::Head)
        return true;
    QByteArray name = rawName.toByteArray().toLower();
    if (const qsizetype slash = name.indexOf('/'); slash >= 0)
        name.truncate(slash);
    static const std::array<QByteArrayView, 12> kInHead = {
        "base",   "basefont", "bgsound",  "link",  "meta", "noscript",
        "script", "style",    "template", "title", "head", "html"};
    const bool inHead =
        std::find(kInHead.begin(), kInHead.end(), QByteArrayView(name)) != kInHead.end();
    if (!inHead || (endTag && (name == "head" || name == "html")))
        return false;
    if (endTag || m_aborted || (name != "script" && name != "style" && name != "title"))
        return true;
    // Their text is no markup: the parser meets the next tag at their end.
    const QByteArray close = "</" + name;
    for (qsizetype at = m_at; (at = m_bytes.indexOf("</", at)) >= 0; ++at) {
        if (startsWithAnyCase(close, at)) {
            m_at = at - 1;
            return true;
        }
    }
    m_at = m_bytes.size();
    return true;
}

std::optional<Encoding> Prescan::run()
{
    for (; !atEnd() && !m_aborted; ++m_at) {
        if (m_bytes.sliced(m_at).startsWith("<!--")) {
            // Its "--" may end the comment too: "<!-->".
            m_at += 2;
            if (!skipPast("-->"))
                return std::nullopt;
            --m_at;
            continue;
        }
        if (startsWithAnyCase("<meta", m_at) && m_bytes.size() - m_at > 5 &&
            (isBlank(uchar(m_bytes[m_at + 5])) || m_bytes[m_at + 5] == '/')) {
            m_at += 6;
            if (const std::optional<Encoding> declared = meta())
                return declared;
            continue;
        }
        if (current() != '<' || m_bytes.size() - m_at < 2)
            continue;
        const auto isLetter = [](char byte) {
            return toLower(byte) >= 'a' && toLower(byte) <= 'z';
        };
        const char after = m_bytes[m_at + 1];
        const bool endTag =
            after == '/' && m_bytes.size() - m_at > 2 && isLetter(m_bytes[m_at + 2]);
        if (isLetter(after) || endTag) {
            if (!otherTag(endTag))
                return std::nullopt;
            continue;
        }
        if (after == '!' || after == '/' || after == '?') {
            if (!skipPast(">"))
                return std::nullopt;
            --m_at;
        }
    }
    return std::nullopt;
}

// The encoding of an XML declaration at the start, as HTML reads it.
std::optional<Encoding> xmlDeclared(QByteArrayView bytes)
{
    if (!bytes.startsWith("<?xml"))
        return std::nullopt;
    const qsizetype end = bytes.indexOf('>');
    qsizetype at = bytes.indexOf("encoding");
    if (end < 0 || at < 0 || at > end)
        return std::nullopt;
    at += 8;
    const auto skipSpace = [&] {
        while (at < bytes.size() && uchar(bytes[at]) <= 0x20)
            ++at;
    };
    skipSpace();
    if (at == bytes.size() || bytes[at] != '=')
        return std::nullopt;
    ++at;
    skipSpace();
    if (at == bytes.size() || (bytes[at] != '"' && bytes[at] != '\''))
        return std::nullopt;
    const qsizetype close = bytes.indexOf(bytes[at], at + 1);
    if (close < 0)
        return std::nullopt;
    const QByteArrayView label = bytes.sliced(at + 1, close - at - 1);
    for (const char byte : label)
        if (uchar(byte) <= 0x20)
            return std::nullopt;
    return unlessUtf16(decoding::encodingOfLabel(label));
}

std::optional<Encoding> declaredInMarkup(QByteArrayView head)
{
    head = head.first(std::min<qsizetype>(head.size(), 1024));
    // "<?x" in UTF-16, an XML declaration's start: the page is UTF-16 itself.
    if (head.startsWith(QByteArrayView("<\0?\0x\0", 6)))
        return Encoding::Utf16Le;
    if (head.startsWith(QByteArrayView("\0<\0?\0x", 6)))
        return Encoding::Utf16Be;
    if (const std::optional<Encoding> declared = Prescan(head, Prescan::Reach::FirstBytes).run())
        return declared;
    return xmlDeclared(head);
}

// The <meta> a browser's parser meets in the head of a page whose first 1024
// bytes declare nothing (after a long comment or script), found with the
// prescan's rules until the head ends. A tree builder, once there is one,
// reports the <meta> it meets to changeEncoding instead.
std::optional<Encoding> metaInHead(QByteArrayView page)
{
    return Prescan(page, Prescan::Reach::Head).run();
}

} // namespace

QByteArray charsetOfContentType(QByteArrayView contentType)
{
    // Parameters after the first ';': name=value or name="quoted \"value\"".
    qsizetype at = contentType.indexOf(';');
    if (at < 0)
        return {};
    const qsizetype size = contentType.size();
    while (at < size) {
        ++at; // the ';'
        const qsizetype nameEnd = [&] {
            qsizetype end = at;
            while (end < size && contentType[end] != ';' && contentType[end] != '=')
                ++end;
            return end;
        }();
        const QByteArray name = trimmed(contentType.sliced(at, nameEnd - at)).toByteArray();
        at = nameEnd;
        if (at == size || contentType[at] == ';')
            continue;
        ++at; // the '='
        while (at < size && isBlank(uchar(contentType[at])))
            ++at;
        QByteArray value;
        if (at < size && contentType[at] == '"') {
            for (++at; at < size && contentType[at] != '"'; ++at) {
                if (contentType[at] == '\\' && at + 1 < size)
                    ++at;
                value += contentType[at];
            }
            while (at < size && contentType[at] != ';')
                ++at;
        } else {
            const qsizetype end = contentType.indexOf(';', at);
            const qsizetype valueEnd = end < 0 ? size : end;
            value = trimmed(contentType.sliced(at, valueEnd - at)).toByteArray();
            at = valueEnd;
        }
        if (name.compare("charset", Qt::CaseInsensitive) == 0 && !value.isEmpty())
            return value.toLower();
    }
    return {};
}

QByteArray encodingOfLabel(QByteArrayView label)
{
    const std::optional<Encoding> encoding = decoding::encodingOfLabel(label);
    return encoding ? QByteArray(decoding::nameOf(*encoding)) : QByteArray();
}

QByteArray charsetOfMarkup(QByteArrayView head)
{
    const std::optional<Encoding> declared = declaredInMarkup(head);
    return declared ? QByteArray(decoding::nameOf(*declared)) : QByteArray();
}

std::optional<QString> decodeCharset(QByteArrayView bytes, QByteArrayView label)
{
    const std::optional<Encoding> encoding = decoding::encodingOfLabel(label);
    if (!encoding)
        return std::nullopt;
    QString text = decoding::decode(*encoding, bytes);
    // As TextDecoder does by default: no sniffing, but the mark of the
    // encoding named is no text.
    if ((*encoding == Encoding::Utf8 || isUtf16(*encoding)) && text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

std::optional<QString> changeEncoding(QByteArrayView body, QByteArrayView current,
                                      QByteArrayView label, QByteArray* encoding)
{
    const std::optional<Encoding> from = decoding::encodingOfLabel(current);
    const std::optional<Encoding> to = asDeclaredInPage(decoding::encodingOfLabel(label));
    if (!to || (from && (isUtf16(*from) || *from == *to)))
        return std::nullopt;
    return decodeWith(body, *to, encoding);
}

QString decodeHtml(QByteArrayView body, QByteArrayView contentType, QByteArray* encoding)
{
    std::optional<Encoding> chosen = encodingOfBom(body).first;
    if (!chosen)
        chosen = decoding::encodingOfLabel(charsetOfContentType(contentType));
    if (!chosen)
        chosen = declaredInMarkup(body);
    if (!chosen) {
        // Only the default so far: a later <meta> in the head changes it.
        if (const std::optional<Encoding> late = metaInHead(body)) {
            if (std::optional<QString> text =
                    changeEncoding(body, "utf-8", decoding::nameOf(*late), encoding))
                return *std::move(text);
        }
    }
    return decodeWith(body, chosen.value_or(Encoding::Utf8), encoding);
}

QString decodeStyleSheet(QByteArrayView body, QByteArrayView contentType,
                         QByteArrayView pageEncoding)
{
    std::optional<Encoding> chosen = decoding::encodingOfLabel(charsetOfContentType(contentType));
    // @charset "label"; exactly so, in the first 1024 bytes.
    constexpr QByteArrayView kAtCharset = "@charset \"";
    const QByteArrayView head = body.first(std::min<qsizetype>(body.size(), 1024));
    if (!chosen && head.startsWith(kAtCharset)) {
        const qsizetype close = head.indexOf('"', kAtCharset.size());
        if (close > 0 && close + 1 < head.size() && head[close + 1] == ';')
            chosen = unlessUtf16(decoding::encodingOfLabel(
                head.sliced(kAtCharset.size(), close - kAtCharset.size())));
    }
    if (!chosen)
        chosen = decoding::encodingOfLabel(pageEncoding);
    return decodeWith(body, chosen.value_or(Encoding::Utf8), nullptr);
}

} // namespace mizong
