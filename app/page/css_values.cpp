#include "css_values.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace mizong::page::css {

namespace {

struct NamedColor
{
    QStringView name;
    quint32 rgb;
};

// CSS Color Level 4's named colours, sorted for a binary search.
constexpr NamedColor kNamedColors[] = {
    {u"aliceblue", 0xf0f8ff},
    {u"antiquewhite", 0xfaebd7},
    {u"aqua", 0x00ffff},
    {u"aquamarine", 0x7fffd4},
    {u"azure", 0xf0ffff},
    {u"beige", 0xf5f5dc},
    {u"bisque", 0xffe4c4},
    {u"black", 0x000000},
    {u"blanchedalmond", 0xffebcd},
    {u"blue", 0x0000ff},
    {u"blueviolet", 0x8a2be2},
    {u"brown", 0xa52a2a},
    {u"burlywood", 0xdeb887},
    {u"cadetblue", 0x5f9ea0},
    {u"chartreuse", 0x7fff00},
    {u"chocolate", 0xd2691e},
    {u"coral", 0xff7f50},
    {u"cornflowerblue", 0x6495ed},
    {u"cornsilk", 0xfff8dc},
    {u"crimson", 0xdc143c},
    {u"cyan", 0x00ffff},
    {u"darkblue", 0x00008b},
    {u"darkcyan", 0x008b8b},
    {u"darkgoldenrod", 0xb8860b},
    {u"darkgray", 0xa9a9a9},
    {u"darkgreen", 0x006400},
    {u"darkgrey", 0xa9a9a9},
    {u"darkkhaki", 0xbdb76b},
    {u"darkmagenta", 0x8b008b},
    {u"darkolivegreen", 0x556b2f},
    {u"darkorange", 0xff8c00},
    {u"darkorchid", 0x9932cc},
    {u"darkred", 0x8b0000},
    {u"darksalmon", 0xe9967a},
    {u"darkseagreen", 0x8fbc8f},
    {u"darkslateblue", 0x483d8b},
    {u"darkslategray", 0x2f4f4f},
    {u"darkslategrey", 0x2f4f4f},
    {u"darkturquoise", 0x00ced1},
    {u"darkviolet", 0x9400d3},
    {u"deeppink", 0xff1493},
    {u"deepskyblue", 0x00bfff},
    {u"dimgray", 0x696969},
    {u"dimgrey", 0x696969},
    {u"dodgerblue", 0x1e90ff},
    {u"firebrick", 0xb22222},
    {u"floralwhite", 0xfffaf0},
    {u"forestgreen", 0x228b22},
    {u"fuchsia", 0xff00ff},
    {u"gainsboro", 0xdcdcdc},
    {u"ghostwhite", 0xf8f8ff},
    {u"gold", 0xffd700},
    {u"goldenrod", 0xdaa520},
    {u"gray", 0x808080},
    {u"green", 0x008000},
    {u"greenyellow", 0xadff2f},
    {u"grey", 0x808080},
    {u"honeydew", 0xf0fff0},
    {u"hotpink", 0xff69b4},
    {u"indianred", 0xcd5c5c},
    {u"indigo", 0x4b0082},
    {u"ivory", 0xfffff0},
    {u"khaki", 0xf0e68c},
    {u"lavender", 0xe6e6fa},
    {u"lavenderblush", 0xfff0f5},
    {u"lawngreen", 0x7cfc00},
    {u"lemonchiffon", 0xfffacd},
    {u"lightblue", 0xadd8e6},
    {u"lightcoral", 0xf08080},
    {u"lightcyan", 0xe0ffff},
    {u"lightgoldenrodyellow", 0xfafad2},
    {u"lightgray", 0xd3d3d3},
    {u"lightgreen", 0x90ee90},
    {u"lightgrey", 0xd3d3d3},
    {u"lightpink", 0xffb6c1},
    {u"lightsalmon", 0xffa07a},
    {u"lightseagreen", 0x20b2aa},
    {u"lightskyblue", 0x87cefa},
    {u"lightslategray", 0x778899},
    {u"lightslategrey", 0x778899},
    {u"lightsteelblue", 0xb0c4de},
    {u"lightyellow", 0xffffe0},
    {u"lime", 0x00ff00},
    {u"limegreen", 0x32cd32},
    {u"linen", 0xfaf0e6},
    {u"magenta", 0xff00ff},
    {u"maroon", 0x800000},
    {u"mediumaquamarine", 0x66cdaa},
    {u"mediumblue", 0x0000cd},
    {u"mediumorchid", 0xba55d3},
    {u"mediumpurple", 0x9370db},
    {u"mediumseagreen", 0x3cb371},
    {u"mediumslateblue", 0x7b68ee},
    {u"mediumspringgreen", 0x00fa9a},
    {u"mediumturquoise", 0x48d1cc},
    {u"mediumvioletred", 0xc71585},
    {u"midnightblue", 0x191970},
    {u"mintcream", 0xf5fffa},
    {u"mistyrose", 0xffe4e1},
    {u"moccasin", 0xffe4b5},
    {u"navajowhite", 0xffdead},
    {u"navy", 0x000080},
    {u"oldlace", 0xfdf5e6},
    {u"olive", 0x808000},
    {u"olivedrab", 0x6b8e23},
    {u"orange", 0xffa500},
    {u"orangered", 0xff4500},
    {u"orchid", 0xda70d6},
    {u"palegoldenrod", 0xeee8aa},
    {u"palegreen", 0x98fb98},
    {u"paleturquoise", 0xafeeee},
    {u"palevioletred", 0xdb7093},
    {u"papayawhip", 0xffefd5},
    {u"peachpuff", 0xffdab9},
    {u"peru", 0xcd853f},
    {u"pink", 0xffc0cb},
    {u"plum", 0xdda0dd},
    {u"powderblue", 0xb0e0e6},
    {u"purple", 0x800080},
    {u"rebeccapurple", 0x663399},
    {u"red", 0xff0000},
    {u"rosybrown", 0xbc8f8f},
    {u"royalblue", 0x4169e1},
    {u"saddlebrown", 0x8b4513},
    {u"salmon", 0xfa8072},
    {u"sandybrown", 0xf4a460},
    {u"seagreen", 0x2e8b57},
    {u"seashell", 0xfff5ee},
    {u"sienna", 0xa0522d},
    {u"silver", 0xc0c0c0},
    {u"skyblue", 0x87ceeb},
    {u"slateblue", 0x6a5acd},
    {u"slategray", 0x708090},
    {u"slategrey", 0x708090},
    {u"snow", 0xfffafa},
    {u"springgreen", 0x00ff7f},
    {u"steelblue", 0x4682b4},
    {u"tan", 0xd2b48c},
    {u"teal", 0x008080},
    {u"thistle", 0xd8bfd8},
    {u"tomato", 0xff6347},
    {u"turquoise", 0x40e0d0},
    {u"violet", 0xee82ee},
    {u"wheat", 0xf5deb3},
    {u"white", 0xffffff},
    {u"whitesmoke", 0xf5f5f5},
    {u"yellow", 0xffff00},
    {u"yellowgreen", 0x9acd32},
};

int channel(double v)
{
    return int(std::lround(std::clamp(v, 0.0, 255.0)));
}

double unitAlpha(const Token& t)
{
    const double a = t.is(TokenType::Percentage) ? t.number / 100 : t.number;
    return std::clamp(a, 0.0, 1.0);
}

std::optional<Color> hexColor(QStringView hex)
{
    if (hex.size() != 3 && hex.size() != 4 && hex.size() != 6 && hex.size() != 8)
        return std::nullopt;
    quint32 v = 0;
    for (QChar c : hex) {
        const char16_t u = c.unicode();
        const int d = u >= u'0' && u <= u'9'   ? u - u'0'
                      : u >= u'a' && u <= u'f' ? u - u'a' + 10
                      : u >= u'A' && u <= u'F' ? u - u'A' + 10
                                               : -1;
        if (d < 0)
            return std::nullopt;
        v = v * 16 + quint32(d);
    }
    const auto digit = [&](int n) { return int(v >> (4 * (hex.size() - 1 - n))) & 0xF; };
    Color c;
    if (hex.size() <= 4) {
        c = {digit(0) * 17, digit(1) * 17, digit(2) * 17};
        if (hex.size() == 4)
            c.alpha = digit(3) * 17 / 255.0;
    } else {
        const auto byte = [&](int n) { return digit(2 * n) * 16 + digit(2 * n + 1); };
        c = {byte(0), byte(1), byte(2)};
        if (hex.size() == 8)
            c.alpha = byte(3) / 255.0;
    }
    return c;
}

// The hue in degrees of a number or angle.
std::optional<double> hue(const Token& t)
{
    if (t.is(TokenType::Number))
        return t.number;
    if (!t.is(TokenType::Dimension))
        return std::nullopt;
    if (t.named(u"deg"))
        return t.number;
    if (t.named(u"rad"))
        return t.number * 180 / std::numbers::pi;
    if (t.named(u"grad"))
        return t.number * 0.9;
    if (t.named(u"turn"))
        return t.number * 360;
    return std::nullopt;
}

Color fromHsl(double h, double s, double l)
{
    h = std::fmod(std::fmod(h, 360) + 360, 360);
    s = std::clamp(s, 0.0, 1.0);
    l = std::clamp(l, 0.0, 1.0);
    const auto f = [&](double n) {
        const double k = std::fmod(n + h / 30, 12);
        const double a = s * std::min(l, 1 - l);
        return 255 * (l - a * std::max(-1.0, std::min({k - 3, 9 - k, 1.0})));
    };
    return {channel(f(0)), channel(f(8)), channel(f(4))};
}

// rgb(), rgba(), hsl(), hsla(): "1, 2, 3[, a]" or "1 2 3[ / a]".
std::optional<Color> functionColor(const Token& function, Tokens args)
{
    const bool hsl = function.named(u"hsl") || function.named(u"hsla");
    if (!hsl && !function.named(u"rgb") && !function.named(u"rgba"))
        return std::nullopt;
    QVarLengthArray<const Token*, 4> values;
    int commas = 0;
    qsizetype slash = -1;
    for (const Token& t : args) {
        if (t.is(TokenType::Whitespace))
            continue;
        if (t.is(TokenType::Comma))
            ++commas;
        else if (t.isDelim(u'/') && slash < 0)
            slash = values.size();
        else if ((t.is(TokenType::Number) || t.is(TokenType::Percentage) ||
                  t.is(TokenType::Dimension) || t.isIdent(u"none")) &&
                 values.size() < 4)
            values.append(&t);
        else
            return std::nullopt;
    }
    const bool legacy = commas > 0;
    if (legacy ? (commas != values.size() - 1 || slash >= 0)
               : (slash >= 0 ? slash != 3 || values.size() != 4 : values.size() != 3))
        return std::nullopt;
    if (values.size() < 3)
        return std::nullopt;
    const auto number = [](const Token* t) { return t->isIdent(u"none") ? 0.0 : t->number; };
    Color c;
    if (values.size() == 4) {
        if (values[3]->is(TokenType::Dimension))
            return std::nullopt;
        c.alpha = values[3]->isIdent(u"none") ? 0 : unitAlpha(*values[3]);
    }
    if (hsl) {
        const std::optional<double> h = values[0]->isIdent(u"none") ? 0.0 : hue(*values[0]);
        for (int k = 1; k < 3; ++k)
            if (values[k]->is(TokenType::Dimension) ||
                (legacy && !values[k]->is(TokenType::Percentage)))
                return std::nullopt;
        if (!h)
            return std::nullopt;
        const double alpha = c.alpha;
        c = fromHsl(*h, number(values[1]) / 100, number(values[2]) / 100);
        c.alpha = alpha;
        return c;
    }
    int channels[3];
    for (int k = 0; k < 3; ++k) {
        const Token* t = values[k];
        if (t->is(TokenType::Dimension))
            return std::nullopt;
        channels[k] = channel(t->is(TokenType::Percentage) ? t->number * 255 / 100 : number(t));
    }
    c.red = channels[0];
    c.green = channels[1];
    c.blue = channels[2];
    return c;
}

} // namespace

std::optional<Color> namedColor(QStringView name)
{
    if (name.size() > 20)
        return std::nullopt;
    const QString lower = name.toString().toLower();
    if (lower == u"transparent")
        return Color{0, 0, 0, 0};
    if (lower == u"currentcolor")
        return Color{0, 0, 0, 1, true};
    const auto it =
        std::lower_bound(std::begin(kNamedColors), std::end(kNamedColors), lower,
                         [](const NamedColor& c, const QString& n) { return c.name < n; });
    if (it == std::end(kNamedColors) || it->name != lower)
        return std::nullopt;
    return Color{int(it->rgb >> 16), int(it->rgb >> 8) & 0xFF, int(it->rgb) & 0xFF};
}

std::optional<Color> colorAt(Tokens tokens, qsizetype& i)
{
    const Token& t = tokens[i];
    std::optional<Color> c;
    if (t.is(TokenType::Ident))
        c = namedColor(t.text);
    else if (t.is(TokenType::Hash))
        c = hexColor(t.text);
    else if (t.is(TokenType::Function))
        c = functionColor(t, blockContent(tokens, i));
    if (c)
        i = nextComponent(tokens, i);
    return c;
}

std::optional<Color> parseColor(Tokens tokens)
{
    tokens = trimmed(tokens);
    if (tokens.empty())
        return std::nullopt;
    qsizetype i = 0;
    std::optional<Color> c = colorAt(tokens, i);
    return c && i == qsizetype(tokens.size()) ? c : std::nullopt;
}

Color mix(const Color& a, const Color& b, double t)
{
    const auto lerp = [t](double x, double y) { return x + (y - x) * t; };
    return {channel(lerp(a.red, b.red)), channel(lerp(a.green, b.green)),
            channel(lerp(a.blue, b.blue)), lerp(a.alpha, b.alpha)};
}

std::optional<Color> gradientMiddle(Tokens args)
{
    struct Stop
    {
        Color color;
        double position; // -1: not given
    };
    QList<Stop> stops;
    for (Tokens part : splitCommas(args)) {
        qsizetype i = 0;
        if (part.empty())
            return std::nullopt;
        const std::optional<Color> c = colorAt(part, i);
        if (!c)
            continue; // a direction, a shape, or a hint between stops
        if (c->current)
            return std::nullopt;
        double position = -1;
        for (; i < qsizetype(part.size()); ++i)
            if (part[i].is(TokenType::Percentage)) {
                position = part[i].number / 100;
                break;
            }
        stops.append({*c, position});
    }
    if (stops.isEmpty())
        return std::nullopt;
    // Positions not given are spread evenly between those given, as the
    // standard's fix-up does; none is before the one above it.
    if (stops.front().position < 0)
        stops.front().position = 0;
    if (stops.back().position < 0)
        stops.back().position = 1;
    for (qsizetype k = 1; k < stops.size(); ++k)
        stops[k].position =
            stops[k].position < 0 ? -1 : std::max(stops[k].position, stops[k - 1].position);
    for (qsizetype k = 1; k < stops.size(); ++k) {
        if (stops[k].position >= 0)
            continue;
        qsizetype next = k;
        while (stops[next].position < 0)
            ++next;
        const double from = stops[k - 1].position;
        const double step = (stops[next].position - from) / double(next - k + 1);
        for (qsizetype j = k; j < next; ++j)
            stops[j].position = from + step * double(j - k + 1);
    }
    if (0.5 <= stops.front().position)
        return stops.front().color;
    for (qsizetype k = 1; k < stops.size(); ++k) {
        const Stop& a = stops[k - 1];
        const Stop& b = stops[k];
        if (0.5 <= b.position) {
            const double span = b.position - a.position;
            return span <= 0 ? b.color : mix(a.color, b.color, (0.5 - a.position) / span);
        }
    }
    return stops.back().color;
}

std::optional<Length> parseLength(const Token& token, const ViewMetrics& view)
{
    using Unit = Length::Unit;
    if (token.is(TokenType::Number))
        return token.number == 0 ? std::optional(Length{0, Unit::Px}) : std::nullopt;
    if (token.is(TokenType::Percentage))
        return Length{token.number, Unit::Percent};
    if (!token.is(TokenType::Dimension))
        return std::nullopt;
    const double v = token.number;
    struct Factor
    {
        QStringView unit;
        double factor;
        Unit as;
    };
    static constexpr Factor kUnits[] = {
        {u"px", 1, Unit::Px},         {u"pt", 1, Unit::Pt},         {u"em", 1, Unit::Em},
        {u"rem", 16, Unit::Px},       {u"ex", 0.5, Unit::Em},       {u"ch", 0.5, Unit::Em},
        {u"in", 96, Unit::Px},        {u"cm", 96 / 2.54, Unit::Px}, {u"mm", 96 / 25.4, Unit::Px},
        {u"q", 96 / 101.6, Unit::Px}, {u"pc", 16, Unit::Px},
    };
    for (const Factor& f : kUnits)
        if (token.named(f.unit))
            return Length{v * f.factor, f.as};
    const double w = view.width / 100;
    const double h = view.height / 100;
    if (token.named(u"vw"))
        return Length{v * w, Unit::Px};
    if (token.named(u"vh"))
        return Length{v * h, Unit::Px};
    if (token.named(u"vmin"))
        return Length{v * std::min(w, h), Unit::Px};
    if (token.named(u"vmax"))
        return Length{v * std::max(w, h), Unit::Px};
    return std::nullopt;
}

bool VarResolver::containsVar(Tokens value)
{
    return std::any_of(value.begin(), value.end(),
                       [](const Token& t) { return t.is(TokenType::Function) && t.named(u"var"); });
}

std::optional<std::vector<Token>> VarResolver::substitute(Tokens value)
{
    std::vector<Token> out;
    if (!append(value, out, 0))
        return std::nullopt;
    pairBlocks(out);
    return out;
}

const std::vector<Token>* VarResolver::property(const QString& name)
{
    const auto known = m_resolved.constFind(name);
    if (known != m_resolved.cend())
        return known->has_value() ? &**known : nullptr;
    const qsizetype onStack = m_stack.indexOf(name);
    if (onStack >= 0) {
        // A cycle: every property on it is invalid, whatever its fallbacks.
        for (qsizetype k = onStack; k < m_stack.size(); ++k)
            m_cyclic.insert(m_stack[k]);
        return nullptr;
    }
    const std::vector<Token>* raw = nullptr;
    if (m_own) {
        const auto it = m_own->constFind(name);
        raw = it == m_own->cend() ? nullptr : &*it;
    }
    if (!raw) {
        const auto it = m_properties.constFind(name);
        raw = it == m_properties.cend() ? nullptr : &*it;
    }
    // A chain this long is no page's; it would only deepen the stack.
    if (!raw || m_stack.size() >= 64)
        return nullptr;
    m_stack.append(name);
    std::vector<Token> out;
    const bool ok = append(*raw, out, 0) && !m_cyclic.contains(name);
    m_stack.removeLast();
    std::optional<std::vector<Token>> result;
    if (ok) {
        pairBlocks(out);
        result = std::move(out);
    }
    const auto it = m_resolved.insert(name, std::move(result));
    return it->has_value() ? &**it : nullptr;
}

bool VarResolver::append(Tokens value, std::vector<Token>& out, int depth)
{
    if (depth > 64)
        return false;
    for (qsizetype i = 0; i < qsizetype(value.size());) {
        const Token& t = value[i];
        if (!(t.is(TokenType::Function) && t.named(u"var"))) {
            if (--m_budget < 0)
                return false;
            out.push_back(t);
            ++i;
            continue;
        }
        const Tokens args = trimmed(blockContent(value, i));
        i = nextComponent(value, i);
        if (args.empty() || !args[0].is(TokenType::Ident) || !args[0].text.startsWith(u"--"))
            return false;
        qsizetype after = 1;
        while (after < qsizetype(args.size()) && args[after].is(TokenType::Whitespace))
            ++after;
        const bool hasFallback = after < qsizetype(args.size());
        if (hasFallback && !args[after].is(TokenType::Comma))
            return false;
        if (const std::vector<Token>* v = property(args[0].text)) {
            m_budget -= qsizetype(v->size());
            if (m_budget < 0)
                return false;
            out.insert(out.end(), v->begin(), v->end());
        } else if (!hasFallback || !append(trimmed(args.subspan(after + 1)), out, depth + 1)) {
            return false;
        }
    }
    return true;
}

} // namespace mizong::page::css
