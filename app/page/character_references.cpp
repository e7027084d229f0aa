#include "character_references.h"

#include "html_entities.h"

#include <algorithm>
#include <iterator>

namespace mizong::page {

namespace {

using html_entities::Entity;
using html_entities::kEntities;
using html_entities::kNames;

constexpr char16_t kReplacement = 0xFFFD;

bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool isAsciiAlnum(char16_t c)
{
    return isAsciiDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// What a numeric reference to a C1 control stands for, from 0x80 on: pages
// written in windows-1252 mean its characters there (0: kept as it is).
constexpr char16_t kC1Characters[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// The longest name in the table that `input` starts with. The names are
// sorted, so those that share the first k characters lie together, the one
// of exactly k characters first: each character narrows the range.
const Entity* longestName(QStringView input)
{
    const Entity* low = std::begin(kEntities);
    const Entity* high = std::end(kEntities);
    const Entity* found = nullptr;
    const qsizetype end = std::min<qsizetype>(input.size(), html_entities::kLongestName);
    for (qsizetype k = 0; k < end; ++k) {
        const char16_t c = input[k].unicode();
        if (!isAsciiAlnum(c) && c != u';')
            break;
        const auto charAt = [k](const Entity& e) {
            return k < e.nameSize ? char16_t(kNames[e.name + k]) : char16_t(0);
        };
        low = std::partition_point(low, high, [&](const Entity& e) { return charAt(e) < c; });
        high = std::partition_point(low, high, [&](const Entity& e) { return charAt(e) == c; });
        if (low == high)
            break;
        if (low->nameSize == k + 1)
            found = low;
    }
    return found;
}

qsizetype consumeNamed(QStringView input, qsizetype ampersand, bool inAttribute, QString& out)
{
    const Entity* entity = longestName(input.sliced(ampersand + 1));
    if (!entity)
        return 0;
    const qsizetype end = ampersand + 1 + entity->nameSize;
    if (inAttribute && kNames[entity->name + entity->nameSize - 1] != ';' && end < input.size()) {
        const char16_t next = input[end].unicode();
        if (next == u'=' || isAsciiAlnum(next))
            return 0;
    }
    out += QChar(entity->value[0]);
    if (entity->value[1])
        out += QChar(entity->value[1]);
    return end - ampersand;
}

int digitValue(char16_t c, bool hex)
{
    if (isAsciiDigit(c))
        return c - u'0';
    if (hex && ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
        return (c | 0x20) - u'a' + 10;
    return -1;
}

qsizetype consumeNumeric(QStringView input, qsizetype ampersand, QString& out)
{
    const qsizetype n = input.size();
    qsizetype i = ampersand + 2; // after "&#"
    const bool hex = i < n && (input[i] == u'x' || input[i] == u'X');
    if (hex)
        ++i;
    const qsizetype digits = i;
    char32_t value = 0;
    for (; i < n; ++i) {
        const int d = digitValue(input[i].unicode(), hex);
        if (d < 0)
            break;
        // Held at 0x110000: any larger number stands for U+FFFD all the same.
        value = std::min<char32_t>(value * (hex ? 16 : 10) + char32_t(d), 0x110000);
    }
    if (i == digits)
        return 0;
    if (i < n && input[i] == u';')
        ++i;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        out += QChar(kReplacement);
    } else if (value >= 0x80 && value <= 0x9F && kC1Characters[value - 0x80]) {
        out += QChar(kC1Characters[value - 0x80]);
    } else if (value >= 0x10000) {
        out += QChar(QChar::highSurrogate(value));
        out += QChar(QChar::lowSurrogate(value));
    } else {
        // Other controls and noncharacters stand for themselves.
        out += QChar(char16_t(value));
    }
    return i - ampersand;
}

} // namespace

qsizetype consumeCharacterReference(QStringView input, qsizetype ampersand, bool inAttribute,
                                    QString& out)
{
    if (ampersand + 1 >= input.size())
        return 0;
    const char16_t c = input[ampersand + 1].unicode();
    if (c == u'#')
        return consumeNumeric(input, ampersand, out);
    if (isAsciiAlnum(c))
        return consumeNamed(input, ampersand, inAttribute, out);
    return 0;
}

void appendDecoded(QString& out, QStringView text, bool inAttribute)
{
    qsizetype from = 0;
    for (qsizetype amp; (amp = text.indexOf(u'&', from)) >= 0;) {
        out += text.sliced(from, amp - from);
        const qsizetype taken = consumeCharacterReference(text, amp, inAttribute, out);
        if (taken == 0)
            out += QChar(u'&');
        from = amp + std::max<qsizetype>(taken, 1);
    }
    out += text.sliced(from);
}

} // namespace mizong::page
