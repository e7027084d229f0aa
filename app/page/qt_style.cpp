#include "qt_style.h"

#include "markup_output.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <cmath>

namespace mizong::page::markup {

using namespace Qt::StringLiterals;
using css::ComputedStyle;

namespace {

QString px(qreal value)
{
    return QString::number(std::round(boundedPx(value) * 100) / 100) + u"px"_s;
}

void declare(QString& out, QStringView property, const QString& value)
{
    if (!out.isEmpty())
        out += u';';
    out += property;
    out += u':';
    out += value;
}

QString familyList(const QStringList& families)
{
    QStringList quoted;
    for (const QString& family : families) {
        QString f = family;
        f.remove(u'"').remove(u'\\').remove(u';');
        quoted.append(u'"' + f + u'"');
    }
    return quoted.join(u',');
}

QString decorations(quint8 lines)
{
    QStringList words;
    if (lines & css::Underline)
        words.append(u"underline"_s);
    if (lines & css::Overline)
        words.append(u"overline"_s);
    if (lines & css::LineThrough)
        words.append(u"line-through"_s);
    return words.isEmpty() ? u"none"_s : words.join(u' ');
}

QString whiteSpace(css::WhiteSpace w)
{
    switch (w) {
    case css::WhiteSpace::Pre:
        return u"pre"_s;
    case css::WhiteSpace::PreWrap:
        return u"pre-wrap"_s;
    case css::WhiteSpace::PreLine:
        return u"pre-line"_s;
    case css::WhiteSpace::Nowrap:
        return u"nowrap"_s;
    case css::WhiteSpace::Normal:
        break;
    }
    return u"normal"_s;
}

QString verticalAlign(css::VerticalAlign v)
{
    switch (v) {
    case css::VerticalAlign::Sub:
        return u"sub"_s;
    case css::VerticalAlign::Super:
        return u"super"_s;
    case css::VerticalAlign::Top:
    case css::VerticalAlign::TextTop:
        return u"top"_s;
    case css::VerticalAlign::Middle:
        return u"middle"_s;
    case css::VerticalAlign::Bottom:
    case css::VerticalAlign::TextBottom:
        return u"bottom"_s;
    case css::VerticalAlign::Baseline:
        break;
    }
    return u"baseline"_s;
}

QString textAlign(css::TextAlign a)
{
    switch (a) {
    case css::TextAlign::Right:
        return u"right"_s;
    case css::TextAlign::Center:
        return u"center"_s;
    case css::TextAlign::Justify:
        return u"justify"_s;
    case css::TextAlign::Start:
    case css::TextAlign::Left:
        break;
    }
    return u"left"_s;
}

QString borderStyle(css::BorderStyle s)
{
    switch (s) {
    case css::BorderStyle::Dashed:
        return u"dashed"_s;
    case css::BorderStyle::Dotted:
        return u"dotted"_s;
    case css::BorderStyle::Double:
        return u"double"_s;
    case css::BorderStyle::Groove:
        return u"groove"_s;
    case css::BorderStyle::Ridge:
        return u"ridge"_s;
    case css::BorderStyle::Inset:
        return u"inset"_s;
    case css::BorderStyle::Outset:
        return u"outset"_s;
    case css::BorderStyle::Solid:
        return u"solid"_s;
    case css::BorderStyle::None:
    case css::BorderStyle::Hidden:
        break;
    }
    return u"none"_s;
}

} // namespace

qreal boundedPx(qreal value)
{
    if (!std::isfinite(value))
        return 0;
    return std::clamp<qreal>(value, -kMaxLength, kMaxLength);
}

QString colorText(const css::Color& c)
{
    if (c.alpha >= 1)
        return QString::asprintf("#%02x%02x%02x", c.red, c.green, c.blue);
    if (c.alpha <= 0)
        return u"transparent"_s;
    return QString::asprintf("rgba(%d,%d,%d,%d)", c.red, c.green, c.blue,
                             int(std::lround(c.alpha * 255)));
}

css::Color drawnColor(const ComputedStyle& style)
{
    return style.visible ? style.color : css::Color{0, 0, 0, 0};
}

quint16 qtLookOf(QStringView element)
{
    static const QHash<QStringView, quint16> looks = {
        {u"a", LooksColor | LooksDecoration},
        {u"u", LooksDecoration},
        {u"s", LooksDecoration},
        {u"b", LooksWeight},
        {u"strong", LooksWeight},
        {u"th", LooksWeight},
        {u"h1", LooksWeight | LooksSize},
        {u"h2", LooksWeight | LooksSize},
        {u"h3", LooksWeight | LooksSize},
        {u"h4", LooksWeight | LooksSize},
        {u"h5", LooksWeight | LooksSize},
        {u"h6", LooksWeight | LooksSize},
        {u"big", LooksSize},
        {u"small", LooksSize},
        {u"em", LooksItalic},
        {u"i", LooksItalic},
        {u"cite", LooksItalic},
        {u"address", LooksItalic},
        {u"var", LooksItalic},
        {u"dfn", LooksItalic},
        {u"code", LooksFamily},
        {u"tt", LooksFamily},
        {u"kbd", LooksFamily},
        {u"samp", LooksFamily},
        {u"pre", LooksFamily | LooksWhiteSpace},
        {u"nobr", LooksWhiteSpace},
        // Looks of their own in some of Qt's versions: all, to be safe.
        {u"dt", LooksAll},
        {u"caption", LooksAll},
        {u"sub", LooksAll},
        {u"sup", LooksAll},
    };
    return looks.value(element, NoLook);
}

void appendTextStyle(QString& out, const ComputedStyle& s, const ComputedStyle* around,
                     quint16 look)
{
    const auto changed = [around, look](auto member, quint16 forced = NoLook) {
        return !around || (look & forced) || member(*around);
    };
    if (changed([&](const ComputedStyle& a) { return drawnColor(a) != drawnColor(s); }, LooksColor))
        declare(out, u"color", colorText(drawnColor(s)));
    if (changed([&](const ComputedStyle& a) { return a.fontSize != s.fontSize; }, LooksSize))
        // Qt's importer drops a fractional pixel size altogether.
        declare(out, u"font-size",
                QString::number(std::lround(boundedPx(std::max<qreal>(1, s.fontSize)))) + u"px"_s);
    if (changed([&](const ComputedStyle& a) { return a.fontWeight != s.fontWeight; }, LooksWeight))
        declare(out, u"font-weight",
                QString::number(std::clamp(s.fontWeight / 100 * 100, 100, 900)));
    if (changed([&](const ComputedStyle& a) { return a.italic != s.italic; }, LooksItalic))
        declare(out, u"font-style", s.italic ? u"italic"_s : u"normal"_s);
    if (!s.fontFamilies.isEmpty() &&
        changed([&](const ComputedStyle& a) { return a.fontFamilies != s.fontFamilies; },
                LooksFamily))
        declare(out, u"font-family", familyList(s.fontFamilies));
    if (changed([&](const ComputedStyle& a) { return a.letterSpacing != s.letterSpacing; }))
        declare(out, u"letter-spacing", px(s.letterSpacing));
    if (changed([&](const ComputedStyle& a) { return a.wordSpacing != s.wordSpacing; }))
        declare(out, u"word-spacing", px(s.wordSpacing));
    if (changed([&](const ComputedStyle& a) { return a.whiteSpace != s.whiteSpace; },
                LooksWhiteSpace))
        declare(out, u"white-space", whiteSpace(s.whiteSpace));
    if (changed([&](const ComputedStyle& a) { return a.textDecoration != s.textDecoration; },
                LooksDecoration))
        declare(out, u"text-decoration", decorations(s.textDecoration));
    if (s.verticalAlign != css::VerticalAlign::Baseline)
        declare(out, u"vertical-align", verticalAlign(s.verticalAlign));
}

void appendBlockStyle(QString& out, const ComputedStyle& s, bool withMargins, qreal normalLine)
{
    if (withMargins) {
        static constexpr QStringView names[] = {u"margin-top", u"margin-right", u"margin-bottom",
                                                u"margin-left"};
        for (int side = 0; side < 4; ++side)
            declare(out, names[side],
                    px(s.marginAuto[side] ? 0 : std::max<qreal>(0, s.margin[side])));
    }
    declare(out, u"text-align", textAlign(s.textAlign));
    if (s.textIndent != 0)
        declare(out, u"text-indent", px(s.textIndent));
    const qreal line = s.lineHeight && *s.lineHeight > 0 ? *s.lineHeight : normalLine;
    if (line > 0) {
        declare(out, u"line-height", px(line));
        declare(out, u"-qt-line-height-type", u"fixed"_s);
    }
}

void appendCellStyle(QString& out, const ComputedStyle& s, bool withBackground)
{
    // Shorthands where the sides agree, as they mostly do: a table's cells
    // repeat them, and Qt's importer parses every declaration of each.
    static constexpr QStringView sides[] = {u"top", u"right", u"bottom", u"left"};
    const auto drawn = [](const css::BorderSide& b) {
        return b.width > 0 && b.style != css::BorderStyle::None &&
               b.style != css::BorderStyle::Hidden;
    };
    const auto same = [](const css::BorderSide& a, const css::BorderSide& b) {
        return a.width == b.width && a.style == b.style && a.color == b.color;
    };
    const auto& border = s.border;
    if (drawn(border[0]) && same(border[0], border[1]) && same(border[0], border[2]) &&
        same(border[0], border[3])) {
        declare(out, u"border",
                px(border[0].width) + u' ' + borderStyle(border[0].style) + u' ' +
                    colorText(border[0].color));
    } else {
        for (int side = 0; side < 4; ++side) {
            const css::BorderSide& b = border[side];
            if (!drawn(b))
                continue;
            const QString prefix = u"border-"_s + sides[side].toString();
            declare(out, prefix + u"-width"_s, px(b.width));
            declare(out, prefix + u"-style"_s, borderStyle(b.style));
            declare(out, prefix + u"-color"_s, colorText(b.color));
        }
    }
    std::array<QString, 4> padding;
    for (int side = 0; side < 4; ++side)
        padding[side] = px(std::max<qreal>(0, s.padding[side]));
    if (padding[0] == padding[2] && padding[1] == padding[3])
        declare(out, u"padding",
                padding[0] == padding[1] ? padding[0] : padding[0] + u' ' + padding[1]);
    else
        declare(out, u"padding",
                padding[0] + u' ' + padding[1] + u' ' + padding[2] + u' ' + padding[3]);
    if (withBackground && s.backgroundColor.alpha > 0)
        declare(out, u"background-color", colorText(s.backgroundColor));
}

} // namespace mizong::page::markup
