#pragma once

#include "css_for_qt.h"
#include "css_values.h"
#include "page_links.h"

#include <QList>
#include <QMarginsF>
#include <QSet>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

// The page view's markup rules. The announcement page is outside content,
// often over plain http: it may draw itself and offer links, nothing more.
// Qt's HTML importer trusts its input (recursion, local files for any image
// or stylesheet name it cannot find among the document's resources), so the
// markup is bounded and rewritten here first. Pure functions of text.
namespace mizong::page {

// The view a page is laid out for (its width and height in CSS pixels and
// its device pixel ratio), which media queries and viewport units read;
// by default the window's own view.
using ViewMetrics = css::ViewMetrics;

struct MarkupLimits
{
    // Markup looked at, in UTF-16 units; the rest is dropped.
    qsizetype maxChars = 1024 * 1024;
    // Open elements, counting the <html> and <body> around the page; an
    // element deeper than this is dropped with everything inside it.
    int maxDepth = 512;
    // Elements kept; everything after the last one is dropped. About one
    // element per 50 characters of the markup cap, so real pages stay below
    // it. Qt's import matches the style rules against every ancestor of every
    // element: its time grows with elements x depth x rules.
    int maxElements = 20000;
    // Kept elements times their depth, summed. Qt's importer matches every
    // style rule against every ancestor of every element, so its time grows
    // with this sum times the page's rules: a page of 20 000 elements 512
    // deep with a hundred rules would keep the page thread for minutes.
    // Real pages stay far below (a few thousand elements, a dozen deep).
    qint64 maxNesting = 1'000'000;
    // Stylesheets and images listed for loading, together.
    int maxResources = 64;
    // The text and the rules (a block each, nested ones included) of a
    // page's style sheets together, <style> elements and loaded sheets
    // alike; the rest is dropped. Qt's importer matches every rule against
    // every element, so its time grows with rules x elements x depth: one
    // 8 MiB sheet held the page thread for minutes. Real announcements have
    // a few dozen rules.
    qsizetype maxStyleChars = 1024 * 1024;
    int maxStyleRules = 4096;
    // Rules times the kept elements' nesting (maxNesting's sum): what Qt's
    // importer spends on a page's style grows with it, up to 150 ns each
    // (4 096 rules on 2 000 elements 500 deep took ten minutes). About
    // three seconds at worst; a real page of 2 000 elements ten deep may
    // have 1 000 rules.
    qint64 maxStyleWork = 20'000'000;
    // The page's height in pixels, as guessed before layout from its
    // margins, paddings, line heights and pictures; what would lie below is
    // dropped. Qt's layout never ends on a document past about 8.4 million
    // pixels, and a page near that holds the page thread for minutes; no
    // announcement comes near a million.
    qreal maxHeight = 1'000'000;
    // Table cells as Qt lays them out (rows times columns, gaps included),
    // each counted 2^(n-1) times in a table nested n deep: Qt's table layout
    // takes time in proportion to the grid, and about doubles it with every
    // level of nesting (20 nested tables took 25 s).
    int maxTableCells = 10000;
};

struct PreparedMarkup
{
    // What Qt's importer is given: balanced, with no script, form, frame or
    // embedded object, and no address Qt could load by itself. The page's
    // character references are decoded here (character_references.h), and
    // text and values written escaped, so that Qt's importer decodes none.
    QString html;
    // <link rel=stylesheet> and <style> @imports: absolute http(s), in
    // order, without repeats.
    QList<QUrl> styleSheets;
    // <img> sources: absolute http(s), in order, without repeats.
    QList<QUrl> images;
    // Every kept <a href>, in order; its href in `html` is linkHref(index).
    QList<PageLink> links;
    // What its <style> elements take of the style sheets' limits, and the
    // kept elements' nesting (see maxNesting).
    qsizetype styleChars = 0;
    int styleRules = 0;
    qint64 nesting = 0;
    // The body's margins in pixels, which Qt is not given (its importer
    // puts them on the first paragraph alone): a browser's 8, or what the
    // body's attributes (marginwidth, leftmargin, topmargin, ...) say; what
    // the page's <style> elements say of them; what its style attribute
    // says. documentMargins() puts them together.
    QMarginsF bodyMargins{8, 8, 8, 8};
    css::BodyMargins sheetBodyMargins;
    css::BodyMargins bodyStyleMargins;
    // A limit dropped something.
    bool capped = false;
};

// Rewrites outside HTML for Qt's importer. URLs resolve against the first
// <base href> when it is http(s), else against `pageUrl` (the page's final
// address after redirects). Sizes are bounded (Qt's layout overflows or never
// ends on huge ones). <style> elements and style attributes are written as
// prepareStyleSheet writes sheets, for `view`. Linear in the input; never
// fails.
PreparedMarkup prepareMarkup(QStringView html, const QUrl& pageUrl, const MarkupLimits& limits = {},
                             const ViewMetrics& view = {});

// The document's margins, as a browser's cascade puts the body's together:
// its attributes (or 8 px), then the page's style sheets in order (<style>
// elements, then `loadedSheets`), then the body's own style attribute.
QMarginsF documentMargins(const PreparedMarkup& page,
                          const QList<css::BodyMargins>& loadedSheets = {});

// The rules a page's style sheets may hold together, <style> elements and
// loaded sheets alike, on a page of this nesting.
int styleRulesFor(const MarkupLimits& limits, qint64 nesting);

// The last step once resources are loaded: every <img> of prepared markup
// whose source is not in `loaded` is removed, leaving nothing in its place.
QString withLoadedImages(QStringView preparedHtml, const QSet<QUrl>& loaded);

struct PreparedStyleSheet
{
    QString css;
    // @import targets: absolute http(s), in order, without repeats.
    QList<QUrl> imports;
    // Its rules, as the limits count them.
    int rules = 0;
    // What its rules for the body say of the body's margins (not given to
    // Qt; see PreparedMarkup::bodyMargins).
    css::BodyMargins bodyMargins;
    // An @import beyond the resources' limit, or rules beyond the style
    // sheets' limits, were dropped.
    bool capped = false;
};

// A stylesheet (external, or a <style> block) rewritten for Qt: cut after
// the last whole rule within the style sheets' limits, then parsed with the
// standard's error recovery and written as Qt's parser reads it to the end
// (see styleSheetForQt in css_for_qt.h: @media and @supports evaluated for
// `view`, var() resolved, values in plain forms, other at-rules dropped);
// leading @import targets made absolute against `base` (the stylesheet's own
// address) and listed, or the rule removed when not http(s), not for the
// view or beyond the resources' limit; every other url(...) replaced by
// `none`, since images come only from <img>; numbers beyond +-10000 brought
// back to it.
PreparedStyleSheet prepareStyleSheet(QStringView css, const QUrl& base,
                                     const MarkupLimits& limits = {}, const ViewMetrics& view = {});

} // namespace mizong::page
