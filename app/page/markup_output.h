#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Internal to mizong_page_markup: page_markup.h is the interface.
// The characters between the page and Qt's importer: HTML's ASCII character
// classes as its tokenizer reads them, text and attribute values written so
// that Qt's importer reads them back as text (it decodes references with its
// own smaller table and rules), and the numbers and style sheet lengths Qt is
// given, bounded, since its layout hangs or overflows on huge ones.
namespace mizong::page::markup {

inline constexpr char16_t kReplacement = 0xFFFD;

inline bool isAsciiAlpha(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

inline bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

inline bool isAsciiAlnum(char16_t c)
{
    return isAsciiAlpha(c) || isAsciiDigit(c);
}

inline bool isHtmlSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
}

inline char16_t asciiLower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

// ASCII letters lowered and NULs replaced, as HTML's tokenizer reads names.
QString lowered(QStringView s);
bool equalsLowered(QStringView s, QStringView lower);

enum class Escape
{
    Text,      // body text: NULs dropped, as HTML's tree builder drops them there
    Attribute, // a double-quoted attribute value
    Full,      // text Qt must get back exactly (style sheets, raw text, decoded values)
};

// Appends `s` so that Qt's importer reads it back as text, never as markup
// and never as a character reference. Unpaired surrogates become U+FFFD, and
// so do NULs but in body text.
void appendEscaped(QString& out, QStringView s, Escape mode);

// Spaces that are not ASCII's: browsers never collapse them (Chinese
// paragraphs are indented with U+3000), Qt's importer collapses them all.
bool isKeptSpace(char16_t c);

// The largest length kept: Qt's layout works in 26.6 fixed point and hangs
// or overflows far below the range of int (a cellpadding of 2^31 never ends).
inline constexpr double kMaxLength = 10000;

// A length attribute as Qt reads it (a number, or a percentage where
// allowed), bounded; nothing when Qt would not read it.
std::optional<QString> boundedLength(QStringView value, bool percentAllowed);

// An integer attribute (its leading digits, after an optional sign) within
// [low, high]; nothing when it has no digits.
std::optional<int> boundedInteger(QStringView value, int low, int high);

inline constexpr int kMaxColspan = 1000;  // as browsers
inline constexpr int kMaxRowspan = 65534; // as browsers

// How much of a style sheet holds at most `maxRules` rules and `maxChars`
// characters, ending after a whole statement; `rules` receives the rules
// within it.
qsizetype styleSheetFit(QStringView css, int maxRules, qsizetype maxChars, int& rules);

} // namespace mizong::page::markup
