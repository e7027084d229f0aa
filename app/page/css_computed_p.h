#pragma once

#include "css_cascade_p.h"

#include <array>

// Internal to the cascade: reading declared values, for css_computed.cpp
// css_properties.cpp and css_inheritance.cpp.
namespace mizong::page::css::computed {

// Lengths beyond this are no page's and only overflow layout.
constexpr qreal kMaxLength = 100000;

enum class Percent : quint8
{
    None,      // not allowed
    ViewWidth, // of the containing block, taken as the view's width
    FontSize,  // of the element's own font size
};

struct BorderParts
{
    std::optional<qreal> width;
    std::optional<BorderStyle> style;
    std::optional<Color> color;
};

qreal bounded(qreal v);
QList<qsizetype> components(Tokens value);
std::optional<qreal> lengthOf(const Token& t, qreal em, const ComputeContext& context,
                              Percent percent);
std::optional<qreal> length(const Computing& c, const Token& t, const ComputeContext& context,
                            Percent percent = Percent::ViewWidth);
const Token* single(Tokens value);
int keyword(const Token* t, std::initializer_list<QStringView> names);
std::optional<Size> sizeOf(const Computing& c, Tokens value, const ComputeContext& context,
                           bool isMax);
int sideOf(QStringView name);
// margin-inline, padding-block-start and their kin as the physical sides
// they are in a page written left to right and top to bottom; empty for any
// other property.
QStringList physicalSides(const QString& name);
std::optional<BorderStyle> borderStyle(const Token& t);
std::optional<qreal> borderWidth(const Computing& c, const Token& t, const ComputeContext& context);
std::optional<BorderParts> borderParts(const Computing& c, Tokens value,
                                       const ComputeContext& context);
QString urlOf(Tokens value, qsizetype i, const ComputeContext& context);
bool backgroundImage(Computing& c, Tokens value, const ComputeContext& context);
bool background(Computing& c, Tokens value, const ComputeContext& context);
// background-repeat's first layer: whether it tiles both axes.
std::optional<bool> backgroundTiles(Tokens value);
bool textAlign(Computing& c, const Token* t, const ComputeContext& context);
std::optional<quint8> decorationLines(Tokens value, std::optional<Color>* color);
// The count of grid-template-columns' tracks; with `tracks`, their sizes as
// ComputedStyle::gridTracks holds them.
std::optional<int> gridTracks(const Computing& c, Tokens value, const ComputeContext& context,
                              QList<qreal>* tracks = nullptr, int depth = 0);
std::optional<Display> display(Tokens value);
// line-height against the element's own font size.
bool lineHeight(Computing& c, Tokens value, const ComputeContext& context);

// One to four values, as margin, padding and the border longhands fill the
// sides: top, right, bottom, left.
template <typename T, typename F> bool sides(Tokens value, F&& one, std::array<T, 4>& out)
{
    const QList<qsizetype> parts = components(value);
    if (parts.isEmpty() || parts.size() > 4)
        return false;
    std::array<T, 4> v{};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const std::optional<T> x =
            one(value.subspan(parts[i], nextComponent(value, parts[i]) - parts[i]));
        if (!x)
            return false;
        v[size_t(i)] = *x;
    }
    const qsizetype n = parts.size();
    out = {v[0], v[n > 1 ? 1 : 0], v[n > 2 ? 2 : 0], v[n > 3 ? 3 : n > 1 ? 1 : 0]};
    return true;
}

} // namespace mizong::page::css::computed
