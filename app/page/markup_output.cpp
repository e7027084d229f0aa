#include "markup_output.h"

#include <algorithm>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;

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

bool isKeptSpace(char16_t c)
{
    return c == 0x3000 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F;
}

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

namespace {

bool isCssNewline(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == u'\f';
}

} // namespace

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

} // namespace mizong::page::markup
