#pragma once

#include "css_values.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The values a page's style gives each element once cascaded, inherited and
// computed (CSS Cascading Level 4): what the view draws, in CSS pixels.
// Relative units (em, rem, %, vw/vh) are resolved here but for widths in %,
// which only layout can resolve.
namespace mizong::page::css {

enum class Display : quint8
{
    None,
    Inline,
    Block,
    InlineBlock,
    ListItem,
    Table,
    InlineTable,
    TableRowGroup, // thead, tbody and tfoot alike
    TableRow,
    TableCell,
    TableCaption,
    TableColumn, // col and colgroup
    Flex,
    InlineFlex,
    Grid,
    InlineGrid,
    Contents,
};

enum class BorderStyle : quint8
{
    None,
    Hidden,
    Solid,
    Dashed,
    Dotted,
    Double,
    Groove,
    Ridge,
    Inset,
    Outset,
};

enum class WhiteSpace : quint8
{
    Normal,
    Pre,
    PreWrap,
    PreLine,
    Nowrap,
};

enum class TextAlign : quint8
{
    Start,
    Left,
    Right,
    Center,
    Justify,
};

enum class VerticalAlign : quint8
{
    Baseline,
    Sub,
    Super,
    Top,
    Middle,
    Bottom,
    TextTop,
    TextBottom,
};

enum class Float : quint8
{
    None,
    Left,
    Right,
};

enum class Clear : quint8
{
    None,
    Left,
    Right,
    Both,
};

// align-items of a flex or grid container, as far as the view draws it.
enum class AlignItems : quint8
{
    Stretch,
    Start,
    Center,
    End,
    Baseline,
};

// justify-content along a flex row; normal and stretch are Start.
enum class JustifyContent : quint8
{
    Start,
    End,
    Center,
    SpaceBetween,
    SpaceAround,
    SpaceEvenly,
};

enum Side : quint8
{
    Top,
    Right,
    Bottom,
    Left,
};

// A width or height as layout needs it: auto, pixels, or a percentage of the
// containing block.
struct Size
{
    enum class Unit : quint8
    {
        Auto,
        Px,
        Percent,
    };
    Unit unit = Unit::Auto;
    qreal value = 0;

    bool isAuto() const { return unit == Unit::Auto; }
    bool operator==(const Size&) const = default;
};

struct BorderSide
{
    qreal width = 0; // 0 when its style is none or hidden
    BorderStyle style = BorderStyle::None;
    Color color; // currentColor resolved

    bool operator==(const BorderSide&) const = default;
};

enum Decoration : quint8
{
    Underline = 0x1,
    Overline = 0x2,
    LineThrough = 0x4,
};

struct ComputedStyle
{
    Display display = Display::Inline;
    bool visible = true; // visibility: hidden or collapse makes it false

    // Inherited.
    Color color;          // black unless the page says otherwise
    qreal fontSize = 16;  // px
    int fontWeight = 400; // 100 to 900
    bool italic = false;
    QStringList fontFamilies;        // as written, generic names included
    std::optional<qreal> lineHeight; // px; unset: normal
    qreal textIndent = 0;            // px
    qreal letterSpacing = 0;         // px
    qreal wordSpacing = 0;           // px
    WhiteSpace whiteSpace = WhiteSpace::Normal;
    TextAlign textAlign = TextAlign::Start;
    QString listStyleType = QStringLiteral("disc");
    bool borderCollapse = false;
    qreal borderSpacing = 2; // px, one value for both axes

    // Not inherited. Decorations propagate to descendants' text as browsers
    // draw them, so `textDecoration` holds those of the element's ancestors
    // too.
    quint8 textDecoration = 0;
    Color textDecorationColor; // currentColor resolved
    VerticalAlign verticalAlign = VerticalAlign::Baseline;
    Color backgroundColor{0, 0, 0, 0};
    // A background's middle colour when it is a gradient, already in
    // backgroundColor; an image's address, resolved against its sheet.
    QString backgroundImage;
    // Whether that picture tiles the whole box (background-repeat: repeat
    // on both axes), or only a strip or one copy of it.
    bool backgroundTiles = true;
    std::array<qreal, 4> margin{};      // px, by Side
    std::array<bool, 4> marginAuto{};   // by Side
    std::array<qreal, 4> padding{};     // px, by Side
    std::array<BorderSide, 4> border{}; // by Side
    Size width;
    Size height;
    Size maxWidth;
    Float floating = Float::None;
    Clear clear = Clear::None;
    // flex-direction row or row-reverse (a flex container laid out as a row)
    bool flexRow = true;
    bool flexWrap = false;
    // grid-template-columns' tracks (repeat() expanded); 0 when none.
    int gridColumns = 0;
    // Their sizes: px when positive, a share of the free space (fr) when
    // negative, 0 for one sized by its content.
    QList<qreal> gridTracks;
    // Between a flex or grid container's items, px; normal is 0.
    qreal rowGap = 0;
    qreal columnGap = 0;
    AlignItems alignItems = AlignItems::Stretch;
    JustifyContent justifyContent = JustifyContent::Start;
    // An item's share of its flex row's free space; 0 keeps it as wide as
    // its content.
    qreal flexGrow = 0;
    // position: absolute or fixed, which the view draws in the flow.
    bool outOfFlow = false;

    bool operator==(const ComputedStyle&) const = default;
};

} // namespace mizong::page::css
