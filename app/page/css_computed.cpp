#include "css_computed_p.h"

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace mizong::page::css {

namespace computed {

qreal bounded(qreal v)
{
    return std::clamp(v, -kMaxLength, kMaxLength);
}

// The value's component values, whitespace dropped.
QList<qsizetype> components(Tokens value)
{
    QList<qsizetype> out;
    for (qsizetype i = 0; i < qsizetype(value.size()); i = nextComponent(value, i))
        if (!value[i].is(TokenType::Whitespace))
            out.append(i);
    return out;
}

namespace {

bool isMathFunction(const Token& t)
{
    return t.is(TokenType::Function) && (t.named(u"calc") || t.named(u"-webkit-calc") ||
                                         t.named(u"min") || t.named(u"max") || t.named(u"clamp"));
}

// calc(), min(), max() and clamp() over lengths and numbers: a length's
// value in px, or a plain number.
struct MathValue
{
    qreal value = 0;
    bool number = false;
};

class MathReader
{
public:
    MathReader(qreal em, const ComputeContext& context, Percent percent)
        : m_em(em), m_context(context), m_percent(percent)
    {}

    std::optional<MathValue> function(Tokens t, qsizetype at, int depth)
    {
        if (depth > 16)
            return std::nullopt;
        const Tokens args = blockContent(t, at);
        if (t[at].named(u"calc") || t[at].named(u"-webkit-calc"))
            return whole(args, depth);
        QList<MathValue> values;
        for (Tokens arg : splitCommas(args)) {
            const std::optional<MathValue> v = whole(arg, depth);
            if (!v || (!values.isEmpty() && v->number != values.front().number))
                return std::nullopt;
            values.append(*v);
        }
        const auto less = [](const MathValue& a, const MathValue& b) { return a.value < b.value; };
        if (values.isEmpty())
            return std::nullopt;
        if (t[at].named(u"min"))
            return *std::min_element(values.begin(), values.end(), less);
        if (t[at].named(u"max"))
            return *std::max_element(values.begin(), values.end(), less);
        if (values.size() != 3)
            return std::nullopt;
        MathValue out = values[1];
        out.value = std::max(values[0].value, std::min(values[1].value, values[2].value));
        return out;
    }

private:
    std::optional<MathValue> whole(Tokens t, int depth)
    {
        qsizetype i = 0;
        const std::optional<MathValue> v = sum(t, i, depth);
        skipSpace(t, i);
        return v && i == qsizetype(t.size()) ? v : std::nullopt;
    }

    static void skipSpace(Tokens t, qsizetype& i)
    {
        while (i < qsizetype(t.size()) && t[i].is(TokenType::Whitespace))
            ++i;
    }

    std::optional<MathValue> sum(Tokens t, qsizetype& i, int depth)
    {
        std::optional<MathValue> left = product(t, i, depth);
        for (;;) {
            qsizetype k = i;
            skipSpace(t, k);
            if (!left || k >= qsizetype(t.size()) || !(t[k].isDelim(u'+') || t[k].isDelim(u'-')))
                return left;
            const bool minus = t[k].isDelim(u'-');
            i = k + 1;
            const std::optional<MathValue> right = product(t, i, depth);
            if (!right || right->number != left->number)
                return std::nullopt;
            left->value += minus ? -right->value : right->value;
        }
    }

    std::optional<MathValue> product(Tokens t, qsizetype& i, int depth)
    {
        std::optional<MathValue> left = unit(t, i, depth);
        for (;;) {
            qsizetype k = i;
            skipSpace(t, k);
            if (!left || k >= qsizetype(t.size()) || !(t[k].isDelim(u'*') || t[k].isDelim(u'/')))
                return left;
            const bool divide = t[k].isDelim(u'/');
            i = k + 1;
            const std::optional<MathValue> right = unit(t, i, depth);
            if (!right || (divide && (!right->number || right->value == 0)) ||
                (!divide && !left->number && !right->number))
                return std::nullopt;
            const bool number = left->number && right->number;
            left->value = divide ? left->value / right->value : left->value * right->value;
            left->number = number;
        }
    }

    std::optional<MathValue> unit(Tokens t, qsizetype& i, int depth)
    {
        skipSpace(t, i);
        if (i >= qsizetype(t.size()))
            return std::nullopt;
        const Token& token = t[i];
        const qsizetype next = nextComponent(t, i);
        std::optional<MathValue> out;
        if (token.is(TokenType::Number)) {
            out = MathValue{token.number, true};
        } else if (token.is(TokenType::LeftParen)) {
            out = whole(blockContent(t, i), depth + 1);
        } else if (isMathFunction(token)) {
            out = function(t, i, depth + 1);
        } else if (const std::optional<qreal> px = lengthOf(token, m_em, m_context, m_percent)) {
            out = MathValue{*px, false};
        }
        i = next;
        if (out)
            out->value = bounded(out->value);
        return out;
    }

    qreal m_em;
    const ComputeContext& m_context;
    Percent m_percent;
};

} // namespace

// A length in px against the element: `em` is the font size em and ex
// resolve against (the parent's for font-size itself).
std::optional<qreal> lengthOf(const Token& t, qreal em, const ComputeContext& context,
                              Percent percent)
{
    if (isMathFunction(t)) {
        // The function's tokens follow it in the value it was read from.
        const Tokens whole(&t, size_t(t.closeOffset) + 1);
        const std::optional<MathValue> v = MathReader(em, context, percent).function(whole, 0, 0);
        if (!v || (v->number && v->value != 0))
            return std::nullopt;
        return v->value;
    }
    if (t.is(TokenType::Number))
        return t.number == 0 ? std::optional<qreal>(0) : std::nullopt;
    if (t.is(TokenType::Percentage)) {
        if (percent == Percent::None)
            return std::nullopt;
        const qreal base = percent == Percent::FontSize ? em : context.view.width;
        return bounded(t.number * base / 100);
    }
    if (!t.is(TokenType::Dimension))
        return std::nullopt;
    const qreal v = t.number;
    struct Unit
    {
        QStringView name;
        qreal factor;
    };
    const qreal w = context.view.width / 100;
    const qreal h = context.view.height / 100;
    const Unit units[] = {
        {u"px", 1},
        {u"em", em},
        {u"rem", context.rootFontSize},
        {u"ex", em / 2},
        {u"ch", em / 2},
        {u"pt", 4.0 / 3},
        {u"pc", 16},
        {u"in", 96},
        {u"cm", 96 / 2.54},
        {u"mm", 96 / 25.4},
        {u"q", 96 / 101.6},
        {u"vw", w},
        {u"vh", h},
        {u"vmin", std::min(w, h)},
        {u"vmax", std::max(w, h)},
    };
    for (const Unit& u : units)
        if (t.named(u.name))
            return bounded(v * u.factor);
    return std::nullopt;
}

std::optional<qreal> length(const Computing& c, const Token& t, const ComputeContext& context,
                            Percent percent)
{
    return lengthOf(t, c.style.fontSize, context, percent);
}

// A value of one component value: one token, or a math function.
const Token* single(Tokens value)
{
    const QList<qsizetype> parts = components(value);
    if (parts.size() != 1)
        return nullptr;
    const Token& t = value[parts[0]];
    return t.closeOffset == 0 || isMathFunction(t) ? &t : nullptr;
}

// The index of `t`'s identifier among `names`, or -1.
int keyword(const Token* t, std::initializer_list<QStringView> names)
{
    if (!t || !t->is(TokenType::Ident))
        return -1;
    int i = 0;
    for (QStringView n : names) {
        if (t->named(n))
            return i;
        ++i;
    }
    return -1;
}

std::optional<Size> sizeOf(const Computing& c, Tokens value, const ComputeContext& context,
                           bool isMax)
{
    const Token* t = single(value);
    if (!t)
        return std::nullopt;
    if (t->is(TokenType::Ident)) {
        if (t->named(isMax ? u"none" : u"auto") || t->named(u"min-content") ||
            t->named(u"max-content") || t->named(u"fit-content"))
            return Size{};
        return std::nullopt;
    }
    if (t->is(TokenType::Percentage))
        return t->number < 0 ? std::nullopt : std::optional(Size{Size::Unit::Percent, t->number});
    const std::optional<qreal> px = length(c, *t, context, Percent::None);
    if (!px || *px < 0)
        return std::nullopt;
    return Size{Size::Unit::Px, *px};
}

int sideOf(QStringView name)
{
    static constexpr QStringView kSides[] = {u"top", u"right", u"bottom", u"left"};
    for (int i = 0; i < 4; ++i)
        if (name == kSides[i])
            return i;
    return -1;
}

QStringList physicalSides(const QString& name)
{
    const bool margin = name.startsWith(u"margin-");
    if (!margin && !name.startsWith(u"padding-"))
        return {};
    const QString prefix = margin ? u"margin-"_s : u"padding-"_s;
    const QStringView logical = QStringView(name).sliced(prefix.size());
    static constexpr std::pair<QStringView, QStringView> kSides[] = {
        {u"block-start", u"top"},  {u"block-end", u"bottom"}, {u"inline-start", u"left"},
        {u"inline-end", u"right"}, {u"block", u"top bottom"}, {u"inline", u"left right"},
    };
    for (const auto& [from, to] : kSides) {
        if (logical != from)
            continue;
        QStringList out;
        for (QStringView side : to.split(u' '))
            out << prefix + side.toString();
        return out;
    }
    return {};
}

std::optional<BorderStyle> borderStyle(const Token& t)
{
    const int k = keyword(&t, {u"none", u"hidden", u"solid", u"dashed", u"dotted", u"double",
                               u"groove", u"ridge", u"inset", u"outset"});
    return k < 0 ? std::nullopt : std::optional(BorderStyle(k));
}

std::optional<qreal> borderWidth(const Computing& c, const Token& t, const ComputeContext& context)
{
    const int k = keyword(&t, {u"thin", u"medium", u"thick"});
    if (k >= 0)
        return qreal(k * 2 + 1);
    const std::optional<qreal> px = length(c, t, context, Percent::None);
    return px && *px >= 0 ? px : std::nullopt;
}

// A border shorthand's width, style and colour, in any order.
std::optional<BorderParts> borderParts(const Computing& c, Tokens value,
                                       const ComputeContext& context)
{
    BorderParts p;
    for (qsizetype i = 0; i < qsizetype(value.size());) {
        if (value[i].is(TokenType::Whitespace)) {
            ++i;
            continue;
        }
        qsizetype k = i;
        if (std::optional<BorderStyle> s = borderStyle(value[i]); s && !p.style) {
            p.style = s;
        } else if (std::optional<qreal> w = borderWidth(c, value[i], context); w && !p.width) {
            p.width = w;
        } else if (std::optional<Color> col = colorAt(value, k); col && !p.color) {
            p.color = col;
            i = k;
            continue;
        } else {
            return std::nullopt;
        }
        i = nextComponent(value, i);
    }
    if (!p.width && !p.style && !p.color)
        return std::nullopt;
    return p;
}

QString urlOf(Tokens value, qsizetype i, const ComputeContext& context)
{
    QString text;
    if (value[i].is(TokenType::Url)) {
        text = value[i].text;
    } else if (value[i].is(TokenType::Function) && value[i].named(u"url")) {
        const Tokens inside = trimmed(blockContent(value, i));
        if (inside.size() != 1 || !inside[0].is(TokenType::String))
            return {};
        text = inside[0].text;
    } else {
        return {};
    }
    const QUrl url(text.trimmed());
    return (context.base.isEmpty() ? url : context.base.resolved(url)).toString();
}

static bool isGradient(const Token& t)
{
    return t.is(TokenType::Function) && t.text.endsWith(u"gradient", Qt::CaseInsensitive);
}

// An image layer: its address, or its gradient's middle colour.
bool backgroundImage(Computing& c, Tokens value, const ComputeContext& context)
{
    for (qsizetype i = 0; i < qsizetype(value.size()); i = nextComponent(value, i)) {
        if (isGradient(value[i])) {
            const std::optional<Color> middle = gradientMiddle(blockContent(value, i));
            if (middle)
                c.style.backgroundColor = *middle;
            c.style.backgroundImage.clear();
            return middle.has_value();
        }
        const QString url = urlOf(value, i, context);
        if (!url.isEmpty()) {
            c.style.backgroundImage = url;
            return true;
        }
    }
    return false;
}

std::optional<bool> backgroundTiles(Tokens value)
{
    // One keyword for both axes, or one per axis.
    int axes = 0;
    bool tiles = true;
    for (const Token& t : value) {
        if (t.is(TokenType::Whitespace))
            continue;
        if (t.isIdent(u"repeat") || t.isIdent(u"space") || t.isIdent(u"round")) {
            ++axes;
        } else if (t.isIdent(u"no-repeat")) {
            ++axes;
            tiles = false;
        } else if ((t.isIdent(u"repeat-x") || t.isIdent(u"repeat-y")) && axes == 0) {
            axes = 2;
            tiles = false;
        } else {
            return std::nullopt;
        }
        if (axes > 2)
            return std::nullopt;
    }
    return axes > 0 ? std::optional(tiles) : std::nullopt;
}

bool background(Computing& c, Tokens value, const ComputeContext& context)
{
    const QList<Tokens> layers = splitCommas(value);
    if (layers.isEmpty())
        return false;
    Color color{0, 0, 0, 0};
    QString image;
    bool tiles = true;
    std::optional<Color> middle;
    for (qsizetype l = 0; l < layers.size(); ++l) {
        const Tokens layer = layers[l];
        for (qsizetype i = 0; i < qsizetype(layer.size());) {
            qsizetype k = i;
            if (isGradient(layer[i])) {
                if (!middle && image.isEmpty())
                    middle = gradientMiddle(blockContent(layer, i));
            } else if (QString url = urlOf(layer, i, context); !url.isEmpty()) {
                if (!middle && image.isEmpty()) {
                    image = url;
                    tiles = !std::any_of(layer.begin(), layer.end(), [](const Token& t) {
                        return t.isIdent(u"no-repeat") || t.isIdent(u"repeat-x") ||
                               t.isIdent(u"repeat-y");
                    });
                }
            } else if (std::optional<Color> col = colorAt(layer, k)) {
                // Only the last layer may have a colour.
                if (l + 1 != layers.size())
                    return false;
                color = *col;
                i = k;
                continue;
            }
            i = nextComponent(layer, i);
        }
    }
    c.style.backgroundColor = middle ? *middle : color;
    c.style.backgroundImage = image;
    c.style.backgroundTiles = tiles;
    return true;
}

bool textAlign(Computing& c, const Token* t, const ComputeContext& context)
{
    const int k = keyword(t, {u"start", u"left", u"right", u"center", u"justify", u"end",
                              u"-webkit-center", u"-moz-center", u"-khtml-center", u"-webkit-left",
                              u"-moz-left", u"-webkit-right", u"-moz-right", u"match-parent",
                              u"-internal-center", u"justify-all"});
    static constexpr TextAlign kAligns[] = {
        TextAlign::Start,   TextAlign::Left,  TextAlign::Right,  TextAlign::Center,
        TextAlign::Justify, TextAlign::Right, TextAlign::Center, TextAlign::Center,
        TextAlign::Center,  TextAlign::Left,  TextAlign::Left,   TextAlign::Right,
        TextAlign::Right,   TextAlign::Start, TextAlign::Center, TextAlign::Justify};
    if (k < 0)
        return false;
    c.style.textAlign = k == 13 && context.parent ? context.parent->textAlign : kAligns[k];
    return true;
}

std::optional<quint8> decorationLines(Tokens value, std::optional<Color>* color)
{
    quint8 lines = 0;
    bool none = false;
    bool any = false;
    for (qsizetype i = 0; i < qsizetype(value.size());) {
        const Token& t = value[i];
        qsizetype k = i;
        if (t.is(TokenType::Whitespace)) {
            ++i;
            continue;
        }
        const int line =
            keyword(&t, {u"none", u"underline", u"overline", u"line-through", u"blink"});
        const int style = keyword(&t, {u"solid", u"double", u"dotted", u"dashed", u"wavy"});
        if (line == 0) {
            none = true;
        } else if (line > 0) {
            lines |= line == 1 ? Underline : line == 2 ? Overline : line == 3 ? LineThrough : 0;
        } else if (style >= 0 && color) {
        } else if (std::optional<Color> col = color ? colorAt(value, k) : std::nullopt) {
            *color = col;
            i = k;
            any = true;
            continue;
        } else {
            return std::nullopt;
        }
        any = true;
        i = nextComponent(value, i);
    }
    if (!any || (none && lines))
        return std::nullopt;
    return lines;
}

// Tracks of grid-template-columns; repeat() expanded.
std::optional<int> gridTracks(const Computing& c, Tokens value, const ComputeContext& context,
                              QList<qreal>* tracks, int depth)
{
    constexpr int kMaxTracks = 1000;
    int count = 0;
    const auto repeat = [&](const QList<qreal>& inner, int times) {
        for (int i = 0; tracks && i < times && tracks->size() < kMaxTracks; ++i)
            tracks->append(inner.mid(0, kMaxTracks - tracks->size()));
    };
    for (qsizetype i = 0; i < qsizetype(value.size()); i = nextComponent(value, i)) {
        const Token& t = value[i];
        if (t.is(TokenType::Whitespace) || t.is(TokenType::LeftSquare))
            continue;
        if (t.is(TokenType::Function) && t.named(u"repeat") && depth == 0) {
            const QList<Tokens> args = splitCommas(blockContent(value, i));
            if (args.size() != 2)
                return std::nullopt;
            QList<qreal> innerTracks;
            const std::optional<int> inner =
                gridTracks(c, args[1], context, tracks ? &innerTracks : nullptr, depth + 1);
            if (!inner || args[0].size() != 1)
                return std::nullopt;
            const Token& n = args[0][0];
            if (n.is(TokenType::Number) && n.integer && n.number >= 1) {
                count += int(std::min(n.number, 1000.0)) * *inner;
                repeat(innerTracks, int(std::min(n.number, 1000.0)));
            } else if (n.isIdent(u"auto-fill") || n.isIdent(u"auto-fit")) {
                // As many as the view holds of the first fixed track size.
                qreal track = 0;
                for (const Token& a : args[1])
                    if (std::optional<qreal> px = length(c, a, context, Percent::None);
                        px && *px > 0 && track == 0)
                        track = *px;
                const int times =
                    track > 0 ? std::clamp(int(context.view.width / track), 1, 1000) : 1;
                count += times;
                repeat(innerTracks, times);
            } else {
                return std::nullopt;
            }
        } else if (t.is(TokenType::Function) || t.is(TokenType::Ident) ||
                   t.is(TokenType::Dimension) || t.is(TokenType::Percentage) ||
                   (t.is(TokenType::Number) && t.number == 0)) {
            if (t.is(TokenType::Ident) && (t.named(u"none") || t.named(u"subgrid")))
                return 0;
            ++count;
            if (tracks && tracks->size() < kMaxTracks) {
                std::optional<qreal> px;
                if (t.is(TokenType::Dimension) && t.named(u"fr"))
                    px = -std::clamp(t.number, 0.0, 1e6);
                else if (!t.is(TokenType::Function) && !t.is(TokenType::Ident))
                    px = length(c, t, context, Percent::None);
                tracks->append(px && std::isfinite(*px) ? *px : 0);
            }
        } else {
            return std::nullopt;
        }
    }
    return std::min(count, kMaxTracks);
}

std::optional<Display> display(Tokens value)
{
    QList<QString> words;
    for (qsizetype i : components(value)) {
        if (!value[i].is(TokenType::Ident))
            return std::nullopt;
        words.append(value[i].text.toLower());
    }
    if (words.size() == 2 && (words[0] == u"inline" || words[0] == u"block")) {
        const bool in = words[0] == u"inline";
        const QString& inner = words[1];
        if (inner == u"flow" || inner == u"flow-root")
            return in ? (inner == u"flow" ? Display::Inline : Display::InlineBlock)
                      : Display::Block;
        if (inner == u"flex")
            return in ? Display::InlineFlex : Display::Flex;
        if (inner == u"grid")
            return in ? Display::InlineGrid : Display::Grid;
        if (inner == u"table")
            return in ? Display::InlineTable : Display::Table;
        return std::nullopt;
    }
    if (words.size() != 1)
        return std::nullopt;
    static const std::pair<QStringView, Display> kNames[] = {
        {u"none", Display::None},
        {u"inline", Display::Inline},
        {u"block", Display::Block},
        {u"flow-root", Display::Block},
        {u"inline-block", Display::InlineBlock},
        {u"list-item", Display::ListItem},
        {u"table", Display::Table},
        {u"inline-table", Display::InlineTable},
        {u"table-row-group", Display::TableRowGroup},
        {u"table-header-group", Display::TableRowGroup},
        {u"table-footer-group", Display::TableRowGroup},
        {u"table-row", Display::TableRow},
        {u"table-cell", Display::TableCell},
        {u"table-caption", Display::TableCaption},
        {u"table-column", Display::TableColumn},
        {u"table-column-group", Display::TableColumn},
        {u"flex", Display::Flex},
        {u"-webkit-flex", Display::Flex},
        {u"-webkit-box", Display::Flex},
        {u"inline-flex", Display::InlineFlex},
        {u"grid", Display::Grid},
        {u"inline-grid", Display::InlineGrid},
        {u"contents", Display::Contents},
        {u"ruby", Display::Inline},
        {u"ruby-text", Display::Inline},
        {u"run-in", Display::Inline},
    };
    for (const auto& [name, d] : kNames)
        if (words[0] == name)
            return d;
    return std::nullopt;
}

} // namespace computed

} // namespace mizong::page::css
