#pragma once

#include "css_syntax.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

// CSS values as the page view reads them: colours (CSS Color Level 4's
// named, hex, rgb() and hsl() forms), lengths, and var() substitution (CSS
// Custom Properties Level 1). Pure functions of tokens.
namespace mizong::page::css {

// The view a page is laid out for, in CSS pixels: what viewport units and
// media queries are read against.
struct ViewMetrics
{
    qreal width = 369;
    qreal height = 221;
    qreal devicePixelRatio = 1;
    // A vertical scroll bar beside the page, which narrows what its tables
    // are laid out across (not what media queries see).
    qreal scrollBarWidth = 0;
};

struct Color
{
    int red = 0;
    int green = 0;
    int blue = 0;
    double alpha = 1; // 0 to 1
    // currentColor: the element's own colour, known only to a cascade.
    bool current = false;

    bool operator==(const Color&) const = default;
};

// A named colour (any case), "transparent" or "currentColor".
std::optional<Color> namedColor(QStringView name);

// The colour the component value at `tokens[i]` writes (a name, a hash, or
// rgb(), rgba(), hsl(), hsla() in the comma or the space syntax); `i` moves
// past it. Nothing, and `i` unmoved, when it is none.
std::optional<Color> colorAt(Tokens tokens, qsizetype& i);

// The colour a whole value writes (whitespace around it allowed).
std::optional<Color> parseColor(Tokens tokens);

// Colours between two, `t` from 0 (a) to 1 (b), in sRGB.
Color mix(const Color& a, const Color& b, double t);

// The colour in the middle of a gradient (the arguments of
// linear-gradient() and its kin), which text written on it is meant to be
// read against: its stops' positions fixed up as the standard does, and the
// colour at 50% between the stops around it. Nothing without a colour stop,
// or with currentColor.
std::optional<Color> gradientMiddle(Tokens args);

struct Length
{
    enum class Unit : quint8
    {
        Px,
        Pt,
        Em,
        Percent,
    };
    double value = 0;
    Unit unit = Unit::Px;
};

// A length in the units Qt reads: px, pt and em as written, % kept; rem as
// 16 px (the root's font size, until the cascade knows it), ex and ch as
// half an em, vw, vh, vmin, vmax against the view, and the absolute units
// in px. A bare 0 is 0 px. Nothing for any other unit or token.
std::optional<Length> parseLength(const Token& token, const ViewMetrics& view);

// Custom properties by name ("--x"), their values as written.
using CustomProperties = QHash<QString, std::vector<Token>>;

// What var() may substitute for one page or sheet, in tokens: far above any
// real page's (a few thousand), and below a tenth of a second.
constexpr qsizetype kVarBudget = qsizetype(1) << 18;

// Substitutes every var() in values. The custom properties it reads are
// resolved once each, var() in them included; a property in a cycle, or
// referring to a missing or invalid one without a fallback, is invalid, and
// so is any value that refers to it without a fallback. The tokens
// substituted for one sheet are bounded (a property may double the next).
class VarResolver
{
public:
    // `own` (a rule's own properties) over `properties`; `budget`, tokens
    // substituted, may be shared between resolvers of one sheet.
    explicit VarResolver(const CustomProperties& properties, const CustomProperties* own = nullptr,
                         qsizetype* budget = nullptr)
        : m_properties(properties), m_own(own), m_budget(budget ? *budget : m_ownBudget)
    {}
    VarResolver(const VarResolver&) = delete;
    VarResolver& operator=(const VarResolver&) = delete;

    // `value` with its var() substituted, or nothing when it is invalid.
    std::optional<std::vector<Token>> substitute(Tokens value);
    // A custom property's value, resolved; nothing when missing or invalid.
    const std::vector<Token>* property(const QString& name);

    static bool containsVar(Tokens value);

private:
    bool append(Tokens value, std::vector<Token>& out, int depth);

    const CustomProperties& m_properties;
    const CustomProperties* m_own;
    qsizetype m_ownBudget = kVarBudget;
    qsizetype& m_budget;
    QHash<QString, std::optional<std::vector<Token>>> m_resolved;
    QList<QString> m_stack;
    QSet<QString> m_cyclic;
};

} // namespace mizong::page::css
