#pragma once

#include "css_values.h"

#include <QMarginsF>
#include <QString>
#include <QStringView>

#include <array>
#include <functional>
#include <optional>

// Style sheets written for Qt's own CSS parser, which stops at the first
// construct it does not know and loses every rule after it: our parser reads
// the outside sheet with the standard's error recovery, and what Qt is given
// is only what it reads to the end (selectors and values in its plain forms).
namespace mizong::page::css {

// The margins a page's style gives its body, in pixels: top, right, bottom,
// left, empty where it leaves a side alone. Qt's importer puts a body's
// margin on its first paragraph only, so Qt is never given one; the view
// makes them the document's.
struct BodyMargins
{
    std::array<std::optional<qreal>, 4> sides;

    // These over `margins`.
    void applyTo(QMarginsF& margins) const;
    // A later style's sides over these.
    void merge(const BodyMargins& later);
    bool operator==(const BodyMargins&) const = default;
};

struct QtSheetContext
{
    ViewMetrics view;
    // For an @import's target as written, the address to write, or nothing
    // to drop the rule. Unset: every @import is dropped.
    std::function<std::optional<QString>(const QString& target)> import;
    // The custom properties var() reads besides a rule's own (see
    // CustomProperties in styleSheetForQt); a sheet adds its own to them.
    CustomProperties* rootProperties = nullptr;
    // Tokens var() may still substitute, shared by the sheets and style
    // attributes of a page (a custom property may double the next one's
    // tokens); unset: the sheet's own.
    qsizetype* varBudget = nullptr;
    // Where the margins of rules for the body alone go (body, html body),
    // taken out of what Qt is given; unset: they stay.
    BodyMargins* bodyMargins = nullptr;
};

// The rules Qt is given: style rules whose selectors it reads (type, class,
// id, attribute, combinators; a selector with a pseudo-class or -element,
// which Qt's rich text never applies, is left out of its list), with the
// declarations of the properties it reads, their values in plain forms
// (colours as #rrggbb, rgba() or transparent; lengths in px, pt, em or %;
// numbers within +-10000; url() as none; a gradient background as its middle
// colour). @media and @supports blocks that hold for the view are kept in
// their place, without the at-rule; leading @imports that hold for it are
// written through `context.import`; every other at-rule is dropped.
//
// var() is resolved against the custom properties of the rule's own block
// and of rules whose selector is :root, html, body or * (later ones win),
// this sheet's and those already in `context.rootProperties`: the page has
// no cascade of its own yet to know which element's properties apply.
QString styleSheetForQt(QStringView css, QtSheetContext& context);

// A style attribute's declarations written for Qt the same way, var()
// resolved against its own custom properties and `rootProperties`.
// With `bodyMargins`, its margins go there instead (the body's own style).
QString declarationsForQt(QStringView declarations, const ViewMetrics& view,
                          const CustomProperties& rootProperties = {},
                          qsizetype* varBudget = nullptr, BodyMargins* bodyMargins = nullptr);

} // namespace mizong::page::css
