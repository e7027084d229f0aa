#include "css_computed_p.h"

#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace mizong::page::css {

using namespace computed;

namespace {

const QSet<QString>& fontProperties()
{
    static const QSet<QString> names = {u"font"_s,        u"font-size"_s,  u"font-family"_s,
                                        u"font-weight"_s, u"font-style"_s, u"font-variant"_s,
                                        u"line-height"_s};
    return names;
}

qreal fontSizeKeyword(int k)
{
    static constexpr qreal kSizes[] = {9, 10, 13, 16, 18, 24, 32, 48};
    return kSizes[k];
}

bool fontSize(Computing& c, Tokens value, const ComputeContext& context)
{
    const Token* t = single(value);
    const qreal parent = context.parent ? context.parent->fontSize : 16;
    const int k = keyword(t, {u"xx-small", u"x-small", u"small", u"medium", u"large", u"x-large",
                              u"xx-large", u"xxx-large", u"smaller", u"larger"});
    if (k >= 0) {
        c.style.fontSize = k < 8 ? fontSizeKeyword(k) : k == 8 ? parent / 1.2 : parent * 1.2;
        return true;
    }
    const std::optional<qreal> px =
        t ? lengthOf(*t, parent, context, Percent::FontSize) : std::nullopt;
    if (!px || *px < 0)
        return false;
    c.style.fontSize = std::min(*px, qreal(10000));
    return true;
}

std::optional<int> fontWeight(const Token* t, const ComputeContext& context)
{
    const int parent = context.parent ? context.parent->fontWeight : 400;
    const int k = keyword(t, {u"normal", u"bold", u"bolder", u"lighter"});
    if (k == 0 || k == 1)
        return k == 0 ? 400 : 700;
    if (k == 2)
        return parent < 350 ? 400 : parent < 550 ? 700 : 900;
    if (k == 3)
        return parent < 550 ? 100 : parent < 750 ? 400 : 700;
    if (t && t->is(TokenType::Number) && t->number >= 1 && t->number <= 1000)
        return std::clamp(int(t->number), 100, 900);
    return std::nullopt;
}

std::optional<QStringList> fontFamilies(Tokens value)
{
    QStringList out;
    for (Tokens part : splitCommas(value)) {
        if (part.size() == 1 && part[0].is(TokenType::String)) {
            out << part[0].text;
            continue;
        }
        QStringList words;
        for (const Token& t : part) {
            if (t.is(TokenType::Ident))
                words << t.text;
            else if (!t.is(TokenType::Whitespace))
                return std::nullopt;
        }
        if (words.isEmpty())
            return std::nullopt;
        out << words.join(u' ');
    }
    return out;
}

// font: [style || variant || weight || stretch]? size [/ line-height]? family
bool font(Computing& c, Tokens value, const ComputeContext& context)
{
    const QList<qsizetype> parts = components(value);
    bool italic = false;
    int weight = 400;
    qsizetype p = 0;
    for (; p < parts.size(); ++p) {
        const Token* t = &value[parts[p]];
        if (keyword(t, {u"normal", u"small-caps"}) >= 0 ||
            keyword(t, {u"condensed", u"expanded", u"semi-condensed", u"semi-expanded",
                        u"ultra-condensed", u"extra-condensed", u"extra-expanded",
                        u"ultra-expanded"}) >= 0)
            continue;
        if (keyword(t, {u"italic", u"oblique"}) >= 0) {
            italic = true;
        } else if (std::optional<int> w = fontWeight(t, context); w && !t->isIdent(u"normal")) {
            weight = *w;
        } else {
            break;
        }
    }
    if (p >= parts.size())
        return false;
    Computing sized = c;
    if (!fontSize(sized, value.subspan(parts[p], nextComponent(value, parts[p]) - parts[p]),
                  context))
        return false;
    ++p;
    std::optional<Tokens> lineHeight;
    if (p + 1 < parts.size() && value[parts[p]].isDelim(u'/')) {
        lineHeight = value.subspan(parts[p + 1], nextComponent(value, parts[p + 1]) - parts[p + 1]);
        p += 2;
    }
    if (p >= parts.size())
        return false;
    const std::optional<QStringList> families = fontFamilies(value.subspan(parts[p]));
    if (!families)
        return false;
    c.style.fontSize = sized.style.fontSize;
    c.style.italic = italic;
    c.style.fontWeight = weight;
    c.style.fontFamilies = *families;
    c.style.lineHeight.reset();
    c.lineFactor.reset();
    c.pendingLineHeight = lineHeight;
    return true;
}

bool applyFont(Computing& c, const QString& name, Tokens value, const ComputeContext& context)
{
    const Token* t = single(value);
    if (name == u"font")
        return font(c, value, context);
    if (name == u"font-size")
        return fontSize(c, value, context);
    if (name == u"font-family") {
        const std::optional<QStringList> f = fontFamilies(value);
        if (f)
            c.style.fontFamilies = *f;
        return f.has_value();
    }
    if (name == u"font-weight") {
        const std::optional<int> w = fontWeight(t, context);
        if (w)
            c.style.fontWeight = *w;
        return w.has_value();
    }
    if (name == u"font-style") {
        const int k = keyword(t, {u"normal", u"italic", u"oblique"});
        // oblique may come with its angle.
        const bool oblique = !value.empty() && value[0].isIdent(u"oblique");
        if (k >= 0 || oblique)
            c.style.italic = k != 0;
        return k >= 0 || oblique;
    }
    if (name == u"line-height") {
        // Computed once the font size is known; a later font shorthand resets it.
        if (!t)
            return false;
        c.pendingLineHeight = value;
        return true;
    }
    return name == u"font-variant";
}

} // namespace

bool computed::lineHeight(Computing& c, Tokens value, const ComputeContext& context)
{
    const Token* t = single(value);
    if (!t)
        return false;
    if (t->isIdent(u"normal")) {
        c.style.lineHeight.reset();
        c.lineFactor.reset();
        return true;
    }
    if (t->is(TokenType::Number)) {
        if (t->number < 0)
            return false;
        c.lineFactor = std::min(t->number, 1000.0);
        return true;
    }
    const std::optional<qreal> px = length(c, *t, context, Percent::FontSize);
    if (!px || *px < 0)
        return false;
    c.style.lineHeight = *px;
    c.lineFactor.reset();
    return true;
}

bool isKnownProperty(const QString& name)
{
    static const QSet<QString> names = [] {
        QSet<QString> n = fontProperties();
        for (QStringView p :
             QStringView(u"color text-indent letter-spacing word-spacing white-space text-align "
                         "list-style list-style-type border-collapse border-spacing visibility "
                         "display text-decoration text-decoration-line text-decoration-color "
                         "vertical-align background background-color background-image "
                         "background-repeat margin "
                         "padding border border-width border-style border-color width height "
                         "max-width float clear flex-direction flex-flow flex-wrap "
                         "grid-template-columns position gap row-gap column-gap grid-gap "
                         "grid-row-gap grid-column-gap align-items justify-content flex "
                         "flex-grow")
                 .split(u' '))
            n << p.toString();
        for (const QString& side : {u"top"_s, u"right"_s, u"bottom"_s, u"left"_s}) {
            n << u"margin-"_s + side << u"padding-"_s + side << u"border-"_s + side;
            for (const QString& logical : {u"block"_s, u"inline"_s, u"block-start"_s,
                                           u"block-end"_s, u"inline-start"_s, u"inline-end"_s})
                n << u"margin-"_s + logical << u"padding-"_s + logical;
            for (const QString& part : {u"width"_s, u"style"_s, u"color"_s})
                n << u"border-"_s + side + u'-' + part;
        }
        return n;
    }();
    return names.contains(name);
}

bool isFontProperty(const QString& name)
{
    return fontProperties().contains(name);
}

bool applyDeclaration(Computing& c, const QString& name, Tokens value,
                      const ComputeContext& context, bool fontPass)
{
    if (value.empty() || isFontProperty(name) != fontPass)
        return false;
    if (fontPass)
        return applyFont(c, name, value, context);
    ComputedStyle& s = c.style;
    const Token* t = single(value);
    if (name == u"color") {
        const std::optional<Color> col = parseColor(value);
        if (col)
            s.color = col->current ? (context.parent ? context.parent->color : Color{}) : *col;
        return col.has_value();
    }
    if (const QStringList physical = physicalSides(name); !physical.isEmpty()) {
        // One value for both sides, or one each; all or nothing.
        const QList<qsizetype> parts = components(value);
        if (parts.isEmpty() || parts.size() > physical.size())
            return false;
        Computing applied = c;
        for (qsizetype i = 0; i < physical.size(); ++i) {
            const qsizetype at = parts[std::min(i, parts.size() - 1)];
            const Tokens part = value.subspan(at, nextComponent(value, at) - at);
            if (!applyDeclaration(applied, physical[i], part, context, false))
                return false;
        }
        c = std::move(applied);
        return true;
    }
    if (name.startsWith(u"margin") || name.startsWith(u"padding")) {
        const bool margin = name.startsWith(u"margin");
        const auto one = [&](Tokens v) -> std::optional<qreal> {
            if (margin && v[0].isIdent(u"auto"))
                return std::numeric_limits<qreal>::infinity();
            const std::optional<qreal> px = length(c, v[0], context);
            return px && (margin || *px >= 0) ? px : std::nullopt;
        };
        std::array<qreal, 4> v{};
        const QStringView suffix = QStringView(name).sliced(margin ? 6 : 7);
        const int side = suffix.startsWith(u'-') ? sideOf(suffix.sliced(1)) : -1;
        if (side < 0 && !suffix.isEmpty())
            return false;
        if (side >= 0) {
            const std::optional<qreal> x = t ? one(Tokens(t, 1)) : std::nullopt;
            if (!x)
                return false;
            v.fill(*x);
        } else if (!sides<qreal>(value, one, v)) {
            return false;
        }
        for (int i = 0; i < 4; ++i) {
            if (side >= 0 && i != side)
                continue;
            const bool isAuto = std::isinf(v[size_t(i)]);
            (margin ? s.margin : s.padding)[size_t(i)] = isAuto ? 0 : v[size_t(i)];
            if (margin)
                s.marginAuto[size_t(i)] = isAuto;
        }
        return true;
    }
    if (name.startsWith(u"border") && name != u"border-collapse" && name != u"border-spacing") {
        QStringView rest = QStringView(name).sliced(6);
        int side = -1;
        if (rest.startsWith(u'-')) {
            const qsizetype dash = rest.indexOf(u'-', 1);
            side = sideOf(dash < 0 ? rest.sliced(1) : rest.sliced(1, dash - 1));
            if (side >= 0)
                rest = dash < 0 ? QStringView() : rest.sliced(dash);
        }
        const auto each = [&](auto&& set) {
            for (int i = 0; i < 4; ++i)
                if (side < 0 || i == side)
                    set(size_t(i));
        };
        if (rest.isEmpty()) {
            const std::optional<BorderParts> p = borderParts(c, value, context);
            if (!p)
                return false;
            each([&](size_t i) {
                c.borderWidth[i] = p->width.value_or(3);
                s.border[i].style = p->style.value_or(BorderStyle::None);
                s.border[i].color = p->color.value_or(Color{0, 0, 0, 1, true});
            });
            return true;
        }
        if (rest == u"-width") {
            std::array<qreal, 4> w{};
            const auto one = [&](Tokens v) { return borderWidth(c, v[0], context); };
            if (side >= 0) {
                const std::optional<qreal> x = t ? borderWidth(c, *t, context) : std::nullopt;
                if (!x)
                    return false;
                w.fill(*x);
            } else if (!sides<qreal>(value, one, w)) {
                return false;
            }
            each([&](size_t i) { c.borderWidth[i] = w[i]; });
            return true;
        }
        if (rest == u"-style") {
            std::array<BorderStyle, 4> st{};
            const auto one = [](Tokens v) { return borderStyle(v[0]); };
            if (side >= 0) {
                const std::optional<BorderStyle> x = t ? borderStyle(*t) : std::nullopt;
                if (!x)
                    return false;
                st.fill(*x);
            } else if (!sides<BorderStyle>(value, one, st)) {
                return false;
            }
            each([&](size_t i) { s.border[i].style = st[i]; });
            return true;
        }
        if (rest == u"-color") {
            std::array<Color, 4> col{};
            const auto one = [](Tokens v) { return parseColor(v); };
            if (side >= 0) {
                const std::optional<Color> x = parseColor(value);
                if (!x)
                    return false;
                col.fill(*x);
            } else if (!sides<Color>(value, one, col)) {
                return false;
            }
            each([&](size_t i) { s.border[i].color = col[i]; });
            return true;
        }
        return false;
    }
    if (name == u"background")
        return background(c, value, context);
    if (name == u"background-color") {
        const std::optional<Color> col = parseColor(value);
        if (col)
            s.backgroundColor = *col;
        return col.has_value();
    }
    if (name == u"background-image") {
        if (t && t->isIdent(u"none")) {
            s.backgroundImage.clear();
            return true;
        }
        return backgroundImage(c, splitCommas(value).value(0), context);
    }
    if (name == u"background-repeat") {
        const std::optional<bool> tiles = backgroundTiles(splitCommas(value).value(0));
        if (tiles)
            s.backgroundTiles = *tiles;
        return tiles.has_value();
    }
    if (name == u"display") {
        const std::optional<Display> d = display(value);
        if (d)
            s.display = *d;
        return d.has_value();
    }
    if (name == u"visibility") {
        const int k = keyword(t, {u"visible", u"hidden", u"collapse"});
        if (k >= 0)
            s.visible = k == 0;
        return k >= 0;
    }
    if (name == u"text-decoration" || name == u"text-decoration-line") {
        std::optional<Color> color;
        const std::optional<quint8> lines =
            decorationLines(value, name == u"text-decoration" ? &color : nullptr);
        if (!lines)
            return false;
        c.ownDecoration = *lines;
        if (name == u"text-decoration")
            c.decorationColor = color;
        return true;
    }
    if (name == u"text-decoration-color") {
        const std::optional<Color> col = parseColor(value);
        if (col)
            c.decorationColor = *col;
        return col.has_value();
    }
    if (name == u"text-align")
        return textAlign(c, t, context);
    if (name == u"vertical-align") {
        const int k = keyword(t, {u"baseline", u"sub", u"super", u"top", u"middle", u"bottom",
                                  u"text-top", u"text-bottom"});
        if (k >= 0)
            s.verticalAlign = VerticalAlign(k);
        else if (t && length(c, *t, context, Percent::FontSize))
            s.verticalAlign = VerticalAlign::Baseline;
        else
            return false;
        return true;
    }
    if (name == u"white-space") {
        const int k =
            keyword(t, {u"normal", u"pre", u"pre-wrap", u"pre-line", u"nowrap", u"break-spaces"});
        static constexpr WhiteSpace kSpaces[] = {WhiteSpace::Normal,  WhiteSpace::Pre,
                                                 WhiteSpace::PreWrap, WhiteSpace::PreLine,
                                                 WhiteSpace::Nowrap,  WhiteSpace::PreWrap};
        if (k >= 0)
            s.whiteSpace = kSpaces[k];
        return k >= 0;
    }
    if (name == u"text-indent" || name == u"letter-spacing" || name == u"word-spacing") {
        qreal* field = name == u"text-indent"      ? &s.textIndent
                       : name == u"letter-spacing" ? &s.letterSpacing
                                                   : &s.wordSpacing;
        if (t && t->isIdent(u"normal") && name != u"text-indent") {
            *field = 0;
            return true;
        }
        const std::optional<qreal> px = t ? length(c, *t, context) : std::nullopt;
        if (px)
            *field = *px;
        return px.has_value();
    }
    if (name == u"list-style-type" || name == u"list-style") {
        const bool shorthand = name == u"list-style";
        std::optional<QString> type;
        bool none = false;
        for (qsizetype i : components(value)) {
            const Token& w = value[i];
            if (shorthand && (w.isIdent(u"inside") || w.isIdent(u"outside") ||
                              w.is(TokenType::Url) || w.is(TokenType::Function)))
                continue;
            if (w.isIdent(u"none") && shorthand) {
                none = true;
            } else if ((w.is(TokenType::Ident) || w.is(TokenType::String)) && !type) {
                type = w.is(TokenType::String) ? w.text : w.text.toLower();
            } else {
                return false;
            }
        }
        if (!type && !none && !shorthand)
            return false;
        s.listStyleType = type ? *type : none ? u"none"_s : u"disc"_s;
        return true;
    }
    if (name == u"border-collapse") {
        const int k = keyword(t, {u"separate", u"collapse"});
        if (k >= 0)
            s.borderCollapse = k == 1;
        return k >= 0;
    }
    if (name == u"border-spacing") {
        const QList<qsizetype> parts = components(value);
        if (parts.isEmpty() || parts.size() > 2)
            return false;
        const std::optional<qreal> px = length(c, value[parts[0]], context, Percent::None);
        if (!px || *px < 0)
            return false;
        s.borderSpacing = *px;
        return true;
    }
    if (name == u"width" || name == u"height" || name == u"max-width") {
        const std::optional<Size> size = sizeOf(c, value, context, name == u"max-width");
        if (size)
            (name == u"width" ? s.width : name == u"height" ? s.height : s.maxWidth) = *size;
        return size.has_value();
    }
    if (name == u"float") {
        const int k = keyword(t, {u"none", u"left", u"right", u"inline-start", u"inline-end"});
        static constexpr Float kFloats[] = {Float::None, Float::Left, Float::Right, Float::Left,
                                            Float::Right};
        if (k >= 0)
            s.floating = kFloats[k];
        return k >= 0;
    }
    if (name == u"clear") {
        const int k =
            keyword(t, {u"none", u"left", u"right", u"both", u"inline-start", u"inline-end"});
        static constexpr Clear kClears[] = {Clear::None, Clear::Left, Clear::Right,
                                            Clear::Both, Clear::Left, Clear::Right};
        if (k >= 0)
            s.clear = kClears[k];
        return k >= 0;
    }
    if (name == u"position") {
        const int k = keyword(
            t, {u"static", u"relative", u"sticky", u"absolute", u"fixed", u"-webkit-sticky"});
        if (k >= 0)
            s.outOfFlow = k == 3 || k == 4;
        return k >= 0;
    }
    if (name == u"flex-direction" || name == u"flex-wrap" || name == u"flex-flow") {
        std::optional<bool> row;
        std::optional<bool> wrap;
        for (qsizetype i : components(value)) {
            const Token* w = &value[i];
            const int d = name != u"flex-wrap"
                              ? keyword(w, {u"row", u"row-reverse", u"column", u"column-reverse"})
                              : -1;
            const int r =
                name != u"flex-direction" ? keyword(w, {u"nowrap", u"wrap", u"wrap-reverse"}) : -1;
            if (d >= 0 && !row)
                row = d < 2;
            else if (r >= 0 && !wrap)
                wrap = r > 0;
            else
                return false;
        }
        if (!row && !wrap)
            return false;
        s.flexRow = row.value_or(name == u"flex-flow" ? true : s.flexRow);
        s.flexWrap = wrap.value_or(name == u"flex-flow" ? false : s.flexWrap);
        return true;
    }
    if (name == u"gap" || name == u"grid-gap" || name == u"row-gap" || name == u"column-gap" ||
        name == u"grid-row-gap" || name == u"grid-column-gap") {
        const bool both = name == u"gap" || name == u"grid-gap";
        const QList<qsizetype> parts = components(value);
        if (parts.isEmpty() || parts.size() > (both ? 2 : 1))
            return false;
        std::array<qreal, 2> gaps{};
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const Token& g = value[parts[i]];
            // A percentage needs the container's size: as good as none here.
            std::optional<qreal> px = g.isIdent(u"normal") || g.is(TokenType::Percentage)
                                          ? std::optional<qreal>(0)
                                          : length(c, g, context, Percent::None);
            if (!px || *px < 0)
                return false;
            gaps[size_t(i)] = *px;
        }
        if (parts.size() == 1)
            gaps[1] = gaps[0];
        if (both || name.endsWith(u"row-gap"))
            s.rowGap = gaps[0];
        if (both || name.endsWith(u"column-gap"))
            s.columnGap = gaps[both ? 1 : 0];
        return true;
    }
    if (name == u"align-items") {
        const int k = keyword(t, {u"normal", u"stretch", u"flex-start", u"start", u"self-start",
                                  u"center", u"flex-end", u"end", u"self-end", u"baseline"});
        static constexpr AlignItems kAligns[] = {
            AlignItems::Stretch, AlignItems::Stretch, AlignItems::Start, AlignItems::Start,
            AlignItems::Start,   AlignItems::Center,  AlignItems::End,   AlignItems::End,
            AlignItems::End,     AlignItems::Baseline};
        if (k >= 0)
            s.alignItems = kAligns[k];
        return k >= 0;
    }
    if (name == u"justify-content") {
        const int k = keyword(t, {u"normal", u"stretch", u"flex-start", u"start", u"left",
                                  u"flex-end", u"end", u"right", u"center", u"space-between",
                                  u"space-around", u"space-evenly"});
        static constexpr JustifyContent kJustify[] = {
            JustifyContent::Start,        JustifyContent::Start,       JustifyContent::Start,
            JustifyContent::Start,        JustifyContent::Start,       JustifyContent::End,
            JustifyContent::End,          JustifyContent::End,         JustifyContent::Center,
            JustifyContent::SpaceBetween, JustifyContent::SpaceAround, JustifyContent::SpaceEvenly};
        if (k >= 0)
            s.justifyContent = kJustify[k];
        return k >= 0;
    }
    if (name == u"flex-grow") {
        if (!t || !t->is(TokenType::Number) || t->number < 0)
            return false;
        s.flexGrow = std::min<qreal>(t->number, 1e6);
        return true;
    }
    if (name == u"flex") {
        // none and initial keep the item at its content's width; auto, a
        // lone basis or a number let it grow (a number is its share).
        const QList<qsizetype> parts = components(value);
        if (parts.isEmpty() || parts.size() > 3)
            return false;
        const Token& first = value[parts[0]];
        if (parts.size() == 1 && first.is(TokenType::Ident)) {
            const int k = keyword(&first, {u"none", u"initial", u"auto"});
            if (k < 0)
                return false;
            s.flexGrow = k == 2 ? 1 : 0;
            return true;
        }
        if (first.is(TokenType::Number)) {
            if (first.number < 0)
                return false;
            s.flexGrow = std::min<qreal>(first.number, 1e6);
            return true;
        }
        s.flexGrow = 1;
        return true;
    }
    if (name == u"grid-template-columns") {
        QList<qreal> tracks;
        const std::optional<int> n = gridTracks(c, value, context, &tracks);
        if (n) {
            s.gridColumns = *n;
            s.gridTracks = *n > 0 ? tracks : QList<qreal>();
        }
        return n.has_value();
    }
    return false;
}

} // namespace mizong::page::css
