#pragma once

#include "css_values.h"

// Media queries (Media Queries Level 4, as far as a page view needs them)
// evaluated for the view a page is laid out for: a screen that never prints,
// with a mouse, in light colours.
namespace mizong::page::css {

// Whether a media query list (an @media or @import prelude) matches `view`.
// An empty list matches; a query that does not parse, or asks about a
// feature not known here, does not, and the others of its list still count.
bool matchesMedia(Tokens queries, const ViewMetrics& view);

} // namespace mizong::page::css
