#pragma once

#include "computed_style.h"
#include "css_selectors.h"
#include "css_values.h"
#include "document_tree.h"

#include <QList>
#include <QString>
#include <QUrl>

// The page's style cascade: a browser's default style sheet, the page's
// presentational attributes, its style sheets and style attributes, matched
// against the document tree and computed per element (CSS Cascading Level 4,
// Selectors Level 4). Qt's importer is given the result as inline values and
// never matches a selector: its own cascade knows neither sibling nor child
// selectors, and costs elements x depth x rules.
namespace mizong::page::css {

// One author style sheet, in the cascade's order (document order, a sheet's
// imports before its own rules): its text, and the address its url()s
// resolve against.
struct AuthorSheet
{
    QString text;
    QUrl base;
};

struct CascadeLimits
{
    // Style rules kept over all sheets; later ones are dropped.
    int maxRules = 4096;
    SelectorLimits selectors;
    // Selector steps tried (a compound against an element) over the whole
    // document; past it the page's rules match nothing more, the default
    // style sheet's still do.
    qint64 maxMatchSteps = 20'000'000;
};

struct Cascaded
{
    // One per node of the document, by index; Text and Document nodes hold
    // their parent's (the document's: the initial values).
    QList<ComputedStyle> styles;
    // A limit dropped rules.
    bool capped = false;
};

// Styles for every node of `document`, for the view it is laid out in;
// `pageUrl` resolves the addresses in presentational attributes and style
// attributes. Linear in nodes x the rules whose rightmost compound could
// match them.
Cascaded cascade(const dom::Document& document, const QList<AuthorSheet>& sheets,
                 const ViewMetrics& view, const CascadeLimits& limits = {},
                 const QUrl& pageUrl = {});

} // namespace mizong::page::css
