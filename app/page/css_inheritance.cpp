#include "css_computed_p.h"

#include <QSet>

using namespace Qt::StringLiterals;

// What an element takes from its parent: inherited values at its start,
// the CSS-wide keywords, and what is settled once all declarations are in.
namespace mizong::page::css {

using namespace computed;

namespace {

// Longhands a shorthand sets, for the keywords that reset them all.
QStringList longhands(const QString& name)
{
    static const QStringList kSides = {u"top"_s, u"right"_s, u"bottom"_s, u"left"_s};
    if (const QStringList physical = physicalSides(name); !physical.isEmpty())
        return physical;
    if (name == u"margin" || name == u"padding") {
        QStringList out;
        for (const QString& s : kSides)
            out << name + u'-' + s;
        return out;
    }
    if (name == u"border" || name == u"border-width" || name == u"border-style" ||
        name == u"border-color") {
        QStringList out;
        for (const QString& s : kSides)
            for (const QString& part : {u"width"_s, u"style"_s, u"color"_s})
                if (name == u"border" || name.endsWith(part))
                    out << u"border-"_s + s + u'-' + part;
        return out;
    }
    if (name.startsWith(u"border-") && sideOf(QStringView(name).sliced(7)) >= 0)
        return {name + u"-width"_s, name + u"-style"_s, name + u"-color"_s};
    if (name == u"font")
        return {u"font-size"_s, u"font-family"_s, u"font-weight"_s, u"font-style"_s,
                u"line-height"_s};
    if (name == u"background")
        return {u"background-color"_s, u"background-image"_s, u"background-repeat"_s};
    if (name == u"text-decoration")
        return {u"text-decoration-line"_s, u"text-decoration-color"_s};
    if (name == u"list-style")
        return {u"list-style-type"_s};
    if (name == u"flex-flow")
        return {u"flex-direction"_s, u"flex-wrap"_s};
    if (name == u"gap" || name == u"grid-gap")
        return {u"row-gap"_s, u"column-gap"_s};
    if (name == u"flex")
        return {u"flex-grow"_s};
    if (name == u"grid-row-gap")
        return {u"row-gap"_s};
    if (name == u"grid-column-gap")
        return {u"column-gap"_s};
    return {name};
}

bool inherited(const QString& name)
{
    static const QSet<QString> names = {
        u"color"_s,           u"font-size"_s,      u"font-family"_s, u"font-weight"_s,
        u"font-style"_s,      u"line-height"_s,    u"text-indent"_s, u"letter-spacing"_s,
        u"word-spacing"_s,    u"white-space"_s,    u"text-align"_s,  u"list-style-type"_s,
        u"border-collapse"_s, u"border-spacing"_s, u"visibility"_s,
    };
    return names.contains(name);
}

// Copies one longhand from `from` (the parent's, or the initial values).
void copyLonghand(Computing& c, const QString& name, const ComputedStyle& from,
                  std::optional<qreal> lineFactor, bool initial)
{
    ComputedStyle& s = c.style;
    if (name.startsWith(u"margin-") || name.startsWith(u"padding-")) {
        const bool margin = name.startsWith(u"margin-");
        const int side = sideOf(QStringView(name).sliced(margin ? 7 : 8));
        if (side < 0)
            return;
        if (margin) {
            s.margin[size_t(side)] = from.margin[size_t(side)];
            s.marginAuto[size_t(side)] = from.marginAuto[size_t(side)];
        } else {
            s.padding[size_t(side)] = from.padding[size_t(side)];
        }
    } else if (name.startsWith(u"border-") && name.count(u'-') == 2 &&
               sideOf(QStringView(name).sliced(7, name.lastIndexOf(u'-') - 7)) >= 0) {
        const size_t side = size_t(sideOf(QStringView(name).sliced(7, name.lastIndexOf(u'-') - 7)));
        if (name.endsWith(u"-width"))
            c.borderWidth[side] = initial ? 3 : from.border[side].width;
        else if (name.endsWith(u"-style"))
            s.border[side].style = from.border[side].style;
        else
            s.border[side].color = initial ? Color{0, 0, 0, 1, true} : from.border[side].color;
    } else if (name == u"color") {
        s.color = from.color;
    } else if (name == u"font-size") {
        s.fontSize = from.fontSize;
    } else if (name == u"font-family") {
        s.fontFamilies = from.fontFamilies;
    } else if (name == u"font-weight") {
        s.fontWeight = from.fontWeight;
    } else if (name == u"font-style") {
        s.italic = from.italic;
    } else if (name == u"line-height") {
        s.lineHeight = from.lineHeight;
        c.lineFactor = lineFactor;
        c.pendingLineHeight.reset();
    } else if (name == u"text-indent") {
        s.textIndent = from.textIndent;
    } else if (name == u"letter-spacing") {
        s.letterSpacing = from.letterSpacing;
    } else if (name == u"word-spacing") {
        s.wordSpacing = from.wordSpacing;
    } else if (name == u"white-space") {
        s.whiteSpace = from.whiteSpace;
    } else if (name == u"text-align") {
        s.textAlign = from.textAlign;
    } else if (name == u"list-style-type") {
        s.listStyleType = from.listStyleType;
    } else if (name == u"border-collapse") {
        s.borderCollapse = from.borderCollapse;
    } else if (name == u"border-spacing") {
        s.borderSpacing = initial ? 0 : from.borderSpacing;
    } else if (name == u"visibility") {
        s.visible = from.visible;
    } else if (name == u"display") {
        s.display = from.display;
    } else if (name == u"text-decoration-line") {
        c.ownDecoration = initial ? 0 : from.textDecoration;
    } else if (name == u"text-decoration-color") {
        c.decorationColor = initial ? std::nullopt : std::optional(from.textDecorationColor);
    } else if (name == u"vertical-align") {
        s.verticalAlign = from.verticalAlign;
    } else if (name == u"background-color") {
        s.backgroundColor = from.backgroundColor;
    } else if (name == u"background-image") {
        s.backgroundImage = from.backgroundImage;
    } else if (name == u"background-repeat") {
        s.backgroundTiles = from.backgroundTiles;
    } else if (name == u"width") {
        s.width = from.width;
    } else if (name == u"height") {
        s.height = from.height;
    } else if (name == u"max-width") {
        s.maxWidth = from.maxWidth;
    } else if (name == u"float") {
        s.floating = from.floating;
    } else if (name == u"clear") {
        s.clear = from.clear;
    } else if (name == u"flex-direction") {
        s.flexRow = from.flexRow;
    } else if (name == u"flex-wrap") {
        s.flexWrap = from.flexWrap;
    } else if (name == u"grid-template-columns") {
        s.gridColumns = from.gridColumns;
        s.gridTracks = from.gridTracks;
    } else if (name == u"row-gap") {
        s.rowGap = from.rowGap;
    } else if (name == u"column-gap") {
        s.columnGap = from.columnGap;
    } else if (name == u"align-items") {
        s.alignItems = from.alignItems;
    } else if (name == u"justify-content") {
        s.justifyContent = from.justifyContent;
    } else if (name == u"flex-grow") {
        s.flexGrow = from.flexGrow;
    } else if (name == u"position") {
        s.outOfFlow = from.outOfFlow;
    }
}

} // namespace

Computing startComputing(const ComputeContext& context)
{
    Computing c;
    if (!context.parent)
        return c;
    const ComputedStyle& p = *context.parent;
    ComputedStyle& s = c.style;
    s.color = p.color;
    s.fontSize = p.fontSize;
    s.fontWeight = p.fontWeight;
    s.italic = p.italic;
    s.fontFamilies = p.fontFamilies;
    s.lineHeight = p.lineHeight;
    c.lineFactor = context.parentLineFactor;
    s.textIndent = p.textIndent;
    s.letterSpacing = p.letterSpacing;
    s.wordSpacing = p.wordSpacing;
    s.whiteSpace = p.whiteSpace;
    s.textAlign = p.textAlign;
    s.listStyleType = p.listStyleType;
    s.borderCollapse = p.borderCollapse;
    s.borderSpacing = p.borderSpacing;
    s.visible = p.visible;
    for (BorderSide& b : s.border)
        b.color = Color{0, 0, 0, 1, true};
    return c;
}

bool applyWideKeyword(Computing& c, const QString& name, WideKeyword keyword,
                      const ComputeContext& context)
{
    if (!isKnownProperty(name))
        return false;
    static const ComputedStyle kInitial;
    for (const QString& longhand : longhands(name)) {
        const bool fromParent = keyword == WideKeyword::Inherit ||
                                (keyword == WideKeyword::Unset && inherited(longhand));
        if (fromParent && context.parent)
            copyLonghand(c, longhand, *context.parent, context.parentLineFactor, false);
        else
            copyLonghand(c, longhand, kInitial, std::nullopt, true);
    }
    return true;
}

void finishComputing(Computing& c, const ComputeContext& context)
{
    ComputedStyle& s = c.style;
    if (c.pendingLineHeight) {
        const Tokens pending = *c.pendingLineHeight;
        c.pendingLineHeight.reset();
        if (!lineHeight(c, pending, context)) {
            // Only a font shorthand leaves an invalid one here: normal.
            s.lineHeight.reset();
            c.lineFactor.reset();
        }
    }
    if (c.lineFactor)
        s.lineHeight = *c.lineFactor * s.fontSize;
    for (size_t i = 0; i < 4; ++i) {
        BorderSide& b = s.border[i];
        const bool none = b.style == BorderStyle::None || b.style == BorderStyle::Hidden;
        b.width = none ? 0 : c.borderWidth[i];
        if (b.color.current)
            b.color = s.color;
    }
    if (s.backgroundColor.current)
        s.backgroundColor = s.color;
    // Floats and out-of-flow boxes are blocks whatever they were written as.
    if (s.floating != Float::None || s.outOfFlow) {
        if (s.display == Display::Inline || s.display == Display::InlineBlock ||
            (s.display >= Display::TableRowGroup && s.display <= Display::TableColumn))
            s.display = Display::Block;
        else if (s.display == Display::InlineTable)
            s.display = Display::Table;
        else if (s.display == Display::InlineFlex)
            s.display = Display::Flex;
        else if (s.display == Display::InlineGrid)
            s.display = Display::Grid;
    }
    // Decorations reach descendants' text, but for atomic inlines and boxes
    // out of the flow.
    const bool atomic = s.display == Display::InlineBlock || s.display == Display::InlineTable ||
                        s.display == Display::InlineFlex || s.display == Display::InlineGrid ||
                        s.floating != Float::None || s.outOfFlow;
    const quint8 carried = context.parent && !atomic ? context.parent->textDecoration : 0;
    s.textDecoration = quint8(carried | c.ownDecoration);
    if (c.ownDecoration) {
        const Color col = c.decorationColor.value_or(Color{0, 0, 0, 1, true});
        s.textDecorationColor = col.current ? s.color : col;
    } else {
        s.textDecorationColor =
            carried && context.parent ? context.parent->textDecorationColor : s.color;
    }
}

} // namespace mizong::page::css
