#pragma once

#include "computed_style.h"
#include "css_values.h"
#include "document_tree.h"
#include "page_links.h"

#include <QHash>
#include <QList>
#include <QMarginsF>
#include <QSet>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <memory>
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
    // it. The cascade and the written markup grow with them.
    int maxElements = 20000;
    // Kept elements times their depth, summed; elements past it are not
    // written. Matching a selector may walk every ancestor of every element,
    // so the cascade's time grows with this sum times the page's rules.
    // Real pages stay far below (a few thousand elements, a dozen deep).
    qint64 maxNesting = 1'000'000;
    // Stylesheets and images listed for loading, together.
    int maxResources = 64;
    // The text and the rules (a block each, nested ones included) of a
    // page's style sheets together, <style> elements and loaded sheets
    // alike; the rest is dropped. The cascade parses every sheet and tries
    // each rule on the elements its rightmost compound could match, walking
    // up their ancestors: its time grows with rules x elements x depth.
    // Real announcements have a few dozen rules.
    qsizetype maxStyleChars = 1024 * 1024;
    int maxStyleRules = 4096;
    // Rules times the kept elements' nesting (maxNesting's sum): what the
    // cascade's matching may spend on a page grows with it, besides the
    // steps it caps itself (CascadeLimits::maxMatchSteps). A real page of
    // 2 000 elements ten deep may have 1 000 rules.
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

// A style sheet of the page, in document order: a <style> element's text
// (and the sheets it imports), or a <link rel=stylesheet>'s address.
struct StyleSource
{
    QString text;        // a <style> element's, cut to the style sheets' limits
    QList<QUrl> imports; // its leading @imports that hold for the view
    QUrl linked;         // a <link>'s: the sheet is loaded apart
};

// A page read into its document tree, with what it needs loaded before it is
// written for Qt: its style sheets and images, and the links it offers.
struct PreparedMarkup
{
    // The tree built by HTML's rules with scripts off (document_tree.h),
    // shared by the writes made of it (without, then with its images).
    std::shared_ptr<const dom::Document> document;
    // Where its addresses resolve (the first <base href>, else the page's),
    // and the target of links without one of their own.
    QUrl base;
    QString baseTarget;
    QList<StyleSource> styleSources;
    // <link rel=stylesheet> and <style> @imports: absolute http(s), in
    // order, without repeats.
    QList<QUrl> styleSheets;
    // <img> sources: absolute http(s), in order, without repeats.
    QList<QUrl> images;
    // Every <a href>, in document order; its href in written markup is
    // linkHref(index). `linkOf` gives the index of an <a>'s node.
    QList<PageLink> links;
    QHash<int, int> linkOf;
    // What its <style> elements take of the style sheets' limits, and the
    // elements' nesting (see maxNesting).
    qsizetype styleChars = 0;
    int styleRules = 0;
    qint64 nesting = 0;
    // A limit dropped something.
    bool capped = false;
};

// Reads outside HTML into its tree and lists what it needs loaded. URLs
// resolve against the first <base href> when it is http(s), else against
// `pageUrl` (the page's final address after redirects). Linear in the input;
// never fails.
PreparedMarkup prepareMarkup(QStringView html, const QUrl& pageUrl, const MarkupLimits& limits = {},
                             const ViewMetrics& view = {});

// The rules a page's style sheets may hold together, <style> elements and
// loaded sheets alike, on a page of this nesting.
int styleRulesFor(const MarkupLimits& limits, qint64 nesting);

struct PreparedStyleSheet;

// How wide text is drawn in the view's fonts. Given one, the writer lays out
// the page's tables as browsers do (Qt shares a table's width out otherwise)
// and gives Qt every column's width; without one, Qt shares it out.
class TextMeasure
{
public:
    virtual ~TextMeasure() = default;
    // `text` on one line, in the font of `style`, in px.
    virtual qreal width(QStringView text, const css::ComputedStyle& style) const = 0;
    // A line of text in that font, its line-height aside, in px.
    virtual qreal lineHeight(const css::ComputedStyle& style) const = 0;
    // The height browsers give a line of that font with line-height:
    // normal (its ascent, descent and gap, each in whole pixels); 0 when
    // not known, and Qt's own is kept.
    virtual qreal normalLineHeight(const css::ComputedStyle& style) const
    {
        Q_UNUSED(style);
        return 0;
    }
};

// What Qt's importer is given for a prepared page.
struct WrittenMarkup
{
    // Balanced markup with no script, form, frame or embedded object, no
    // style sheet and no address Qt could load by itself: every element
    // carries the computed values of the page's cascade that Qt draws, as
    // inline style. Text and values are written escaped, so that Qt's
    // importer decodes no character reference.
    QString html;
    // The body's margins, which Qt is never given (its importer puts them on
    // the first paragraph alone): the document's own.
    QMarginsF margins{8, 8, 8, 8};
    // The background pictures of the boxes and cells written: absolute
    // http(s), in order, without repeats. Only those in the loaded images are
    // drawn; a page learns which it needs from its first write.
    QList<QUrl> backgroundImages;
    // A limit dropped something.
    bool capped = false;
    // A table's columns depend on the width it was written for (a scroll
    // bar beside the page would narrow it).
    bool viewWide = false;
};

// Writes a prepared page for Qt: its cascade over the <style> elements and
// the loaded sheets (by address: those not in `loadedSheets` did not load),
// in the cascade's order, for `view`; images only those in `loadedImages`.
WrittenMarkup writeMarkup(const PreparedMarkup& page,
                          const QHash<QUrl, PreparedStyleSheet>& loadedSheets,
                          const QSet<QUrl>& loadedImages, const MarkupLimits& limits = {},
                          const ViewMetrics& view = {}, const TextMeasure* measure = nullptr);

// A prepared page's cascade over its <style> elements and loaded sheets, for
// one view: worked out once, written as often as its pictures come.
struct StyledPage
{
    // By node index (dom::Document).
    QList<css::ComputedStyle> styles;
    // A limit dropped something.
    bool capped = false;
};

StyledPage stylePage(const PreparedMarkup& page,
                     const QHash<QUrl, PreparedStyleSheet>& loadedSheets,
                     const MarkupLimits& limits = {}, const ViewMetrics& view = {});

// Writes a styled page for Qt; images only those in `loadedImages`.
WrittenMarkup writeStyled(const PreparedMarkup& page, const StyledPage& styled,
                          const QSet<QUrl>& loadedImages, const MarkupLimits& limits = {},
                          const ViewMetrics& view = {}, const TextMeasure* measure = nullptr);

// Whether the page's text alone will be taller than the view: the area of
// its lines (each text as wide as `measure` finds it on one line, a line
// that does not wrap at most the view's width, times its line's height)
// exceeds the view's. Only content wider than the view makes it wrong. Such
// a page is written and laid out at once beside the vertical scroll bar
// (and again at the full width should it prove shorter). It stops
// measuring as soon as it knows.
bool fillsView(const PreparedMarkup& page, const StyledPage& styled, const ViewMetrics& view,
               const TextMeasure& measure);

// prepareMarkup and writeMarkup with no sheet loaded and no image: what a
// page's own markup and <style> elements draw.
WrittenMarkup markupForQt(QStringView html, const QUrl& pageUrl, const MarkupLimits& limits = {},
                          const ViewMetrics& view = {});

struct PreparedStyleSheet
{
    // Its text within the style sheets' limits, which the cascade reads.
    QString text;
    // @import targets: absolute http(s), in order, without repeats.
    QList<QUrl> imports;
    // Its rules, as the limits count them.
    int rules = 0;
    // An @import beyond the resources' limit, or rules beyond the style
    // sheets' limits, were dropped.
    bool capped = false;
};

// A loaded style sheet read for the cascade: cut after the last whole rule
// within the style sheets' limits; its leading @imports that hold for `view`
// (see leadingImports in css_imports.h) made absolute against `base` (the
// sheet's own address) and listed, unless not http(s) or beyond the
// resources' limit.
PreparedStyleSheet prepareStyleSheet(QStringView css, const QUrl& base,
                                     const MarkupLimits& limits = {}, const ViewMetrics& view = {});

} // namespace mizong::page
