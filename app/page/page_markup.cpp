#include "page_markup.h"

#include "css_cascade.h"
#include "css_imports.h"
#include "css_media.h"
#include "css_syntax.h"
#include "markup_attributes.h"
#include "markup_output.h"
#include "markup_writer.h"
#include "page_links_p.h"

#include <QSet>

#include <algorithm>
#include <functional>

// The markup rules' entry points, in the order a page goes through them: the
// input cut to its limit and read into its tree (html_tree_builder.cpp over
// html_tokenizer.cpp), the tree's <base>, links, images and style sheets
// listed; once the sheets are in, the cascade (css_cascade.cpp) and the
// markup written for Qt (markup_writer.cpp over html_elements.cpp,
// qt_style.cpp, table_budget.cpp and markup_attributes.cpp).
namespace mizong::page {

using markup::importUrl;
using markup::isAsciiAlnum;
using markup::isWebUrl;
using markup::resolveReference;
using markup::styleSheetFit;
using namespace Qt::StringLiterals;

namespace {

// The part of the input looked at: never a half of a surrogate pair or of a
// character reference.
QStringView window(QStringView html, qsizetype maxChars, bool* cut)
{
    *cut = html.size() > maxChars;
    if (!*cut)
        return html;
    QStringView w = html.first(std::max<qsizetype>(0, maxChars));
    if (!w.isEmpty() && w.last().isHighSurrogate())
        w.chop(1);
    const qsizetype tail = std::max<qsizetype>(0, w.size() - 32);
    const qsizetype amp = w.sliced(tail).lastIndexOf(u'&') + tail;
    if (amp >= tail) {
        bool reference = true;
        for (QChar c : w.sliced(amp + 1))
            reference = reference && (isAsciiAlnum(c.unicode()) || c == u'#');
        if (reference)
            w.truncate(amp);
    }
    return w;
}

} // namespace

namespace {

// Elements in document order, with their depth (<html> at 1).
template <typename Visit> void walk(const dom::Document& doc, Visit visit)
{
    QList<std::pair<int, int>> stack{{doc.html, 1}};
    while (!stack.isEmpty()) {
        const auto [n, depth] = stack.takeLast();
        const dom::Node& node = doc[n];
        if (!node.isElement())
            continue;
        visit(n, node, depth);
        for (int c = node.lastChild; c != dom::kNone; c = doc[c].previousSibling)
            stack.append({c, depth + 1});
    }
}

QString textOf(const dom::Document& doc, int element)
{
    QString text;
    for (int c = doc[element].firstChild; c != dom::kNone; c = doc[c].nextSibling)
        text += doc[c].text;
    return text;
}

// A <style> or <link> for other media (print, a narrower screen) is left
// out, as browsers leave it.
bool forTheView(const dom::Node& e, const ViewMetrics& view)
{
    const QString* media = e.attribute(u"media");
    return !media || css::matchesMedia(css::tokenize(*media), view);
}

bool isStyleSheetLink(const dom::Node& link)
{
    const QString* rel = link.attribute(u"rel");
    bool styleSheet = false;
    for (QStringView word : QStringView(rel ? *rel : QString()).split(u' ', Qt::SkipEmptyParts)) {
        if (word.compare(u"stylesheet", Qt::CaseInsensitive) == 0)
            styleSheet = true;
        else if (word.compare(u"alternate", Qt::CaseInsensitive) == 0)
            return false;
    }
    return styleSheet;
}

} // namespace

PreparedMarkup prepareMarkup(QStringView html, const QUrl& pageUrl, const MarkupLimits& limits,
                             const ViewMetrics& view)
{
    PreparedMarkup result;
    bool cut = false;
    const QStringView input = window(html, limits.maxChars, &cut);
    dom::TreeLimits treeLimits;
    treeLimits.maxChars = input.size() + 1;
    treeLimits.maxDepth = limits.maxDepth;
    treeLimits.maxElements = limits.maxElements;
    auto document = std::make_shared<dom::Document>(dom::buildDocumentTree(input, treeLimits));
    const dom::Document& doc = *document;
    result.capped = cut || doc.capped;

    // The first <base href> counts for every address, also those before it.
    result.base = pageUrl;
    bool hrefSeen = false;
    bool targetSeen = false;
    walk(doc, [&](int, const dom::Node& e, int) {
        if (!e.isHtml(u"base"))
            return;
        if (const QString* href = e.attribute(u"href"); href && !hrefSeen) {
            hrefSeen = true;
            const QUrl url = resolveReference(pageUrl, *href);
            if (isWebUrl(url))
                result.base = url;
        }
        if (const QString* target = e.attribute(u"target"); target && !targetSeen) {
            targetSeen = true;
            result.baseTarget = *target;
        }
    });

    const auto listed = [&](const QUrl& url, QList<QUrl>& list) {
        if (list.contains(url))
            return true;
        if (result.styleSheets.size() + result.images.size() >= limits.maxResources) {
            result.capped = true;
            return false;
        }
        list.append(url);
        return true;
    };
    // A <style> element's rules within the style sheets' limits, and its
    // imports listed in their place among the page's resources.
    const auto styleElement = [&](int n, int maxRules, bool withImports) {
        StyleSource source;
        const QString text = textOf(doc, n);
        int rules = 0;
        const qsizetype fit = styleSheetFit(text, maxRules - result.styleRules,
                                            limits.maxStyleChars - result.styleChars, rules);
        if (fit < text.size())
            result.capped = true;
        source.text = text.first(fit);
        result.styleChars += fit;
        result.styleRules += rules;
        if (!withImports)
            return source;
        for (const QString& target : css::leadingImports(source.text, view)) {
            const std::optional<QUrl> url = importUrl(result.base, target);
            if (url && listed(*url, result.styleSheets) && !source.imports.contains(*url))
                source.imports.append(*url);
        }
        return source;
    };
    QList<int> styleElements;
    walk(doc, [&](int n, const dom::Node& e, int depth) {
        result.nesting += depth;
        if (e.ns != dom::Namespace::Html)
            return;
        if (e.name == u"a" && e.attribute(u"href")) {
            result.linkOf.insert(n, int(result.links.size()));
            result.links.append(markup::pageLink(e, result.base, result.baseTarget));
        } else if (e.name == u"img") {
            const QString* src = e.attribute(u"src");
            const QUrl url = src ? resolveReference(result.base, *src) : QUrl();
            if (isWebUrl(url))
                listed(markup::resourceAddress(url).url, result.images);
        } else if (e.name == u"link" && isStyleSheetLink(e) && forTheView(e, view)) {
            const QString* href = e.attribute(u"href");
            const QUrl url = href ? resolveReference(result.base, *href) : QUrl();
            if (isWebUrl(url)) {
                const QUrl address = markup::resourceAddress(url).url;
                if (!result.styleSheets.contains(address) && listed(address, result.styleSheets))
                    result.styleSources.append(StyleSource{{}, {}, address});
            }
        } else if (e.name == u"style" && forTheView(e, view)) {
            styleElements.append(n);
            result.styleSources.append(styleElement(n, limits.maxStyleRules, true));
        }
    });

    // The rules a page may have depend on its elements' nesting, known only
    // now: fewer rules when the two together would cost too much.
    const int allowedRules = styleRulesFor(limits, result.nesting);
    if (result.styleRules > allowedRules) {
        result.capped = true;
        result.styleRules = 0;
        result.styleChars = 0;
        qsizetype next = 0;
        for (StyleSource& source : result.styleSources) {
            if (source.linked.isEmpty()) {
                // Cut shorter; its imports, listed already, stay.
                const QList<QUrl> imports = source.imports;
                source = styleElement(styleElements[next++], allowedRules, false);
                source.imports = imports;
            }
        }
    }
    result.document = std::move(document);
    return result;
}

int styleRulesFor(const MarkupLimits& limits, qint64 nesting)
{
    return int(
        std::min<qint64>(limits.maxStyleRules, limits.maxStyleWork / std::max<qint64>(nesting, 1)));
}

StyledPage stylePage(const PreparedMarkup& page,
                     const QHash<QUrl, PreparedStyleSheet>& loadedSheets,
                     const MarkupLimits& limits, const ViewMetrics& view)
{
    StyledPage result;
    if (!page.document)
        return result;
    // The cascade's order: each sheet's imports before its own rules.
    QList<css::AuthorSheet> sheets;
    QSet<QUrl> seen;
    const std::function<void(const QUrl&, int)> loaded = [&](const QUrl& url, int depth) {
        const auto it = loadedSheets.constFind(url);
        if (it == loadedSheets.cend() || seen.contains(url) || depth > 8)
            return;
        seen.insert(url);
        for (const QUrl& import : it->imports)
            loaded(import, depth + 1);
        sheets.append({it->text, url});
    };
    for (const StyleSource& source : page.styleSources) {
        if (!source.linked.isEmpty()) {
            loaded(source.linked, 0);
            continue;
        }
        for (const QUrl& import : source.imports)
            loaded(import, 1);
        sheets.append({source.text, page.base});
    }
    css::CascadeLimits cascadeLimits;
    cascadeLimits.maxRules = limits.maxStyleRules;
    css::Cascaded cascaded = css::cascade(*page.document, sheets, view, cascadeLimits, page.base);
    result.styles = std::move(cascaded.styles);
    result.capped = cascaded.capped;
    return result;
}

WrittenMarkup writeStyled(const PreparedMarkup& page, const StyledPage& styled,
                          const QSet<QUrl>& loadedImages, const MarkupLimits& limits,
                          const ViewMetrics& view, const TextMeasure* measure)
{
    WrittenMarkup result;
    if (!page.document || styled.styles.size() != page.document->nodes.size())
        return result;
    result.capped = page.capped || styled.capped;
    markup::writeForQt(page, styled.styles, loadedImages, limits, view, measure, result);
    return result;
}

WrittenMarkup writeMarkup(const PreparedMarkup& page,
                          const QHash<QUrl, PreparedStyleSheet>& loadedSheets,
                          const QSet<QUrl>& loadedImages, const MarkupLimits& limits,
                          const ViewMetrics& view, const TextMeasure* measure)
{
    return writeStyled(page, stylePage(page, loadedSheets, limits, view), loadedImages, limits,
                       view, measure);
}

bool fillsView(const PreparedMarkup& page, const StyledPage& styled, const ViewMetrics& view,
               const TextMeasure& measure)
{
    if (!page.document || styled.styles.size() != page.document->nodes.size())
        return false;
    const dom::Document& doc = *page.document;
    const qreal viewArea = view.width * view.height;
    qreal area = 0;
    // In order, leaving out what is not drawn; a text's style is its parent's.
    QList<int> stack{doc.body};
    while (!stack.isEmpty()) {
        const int n = stack.takeLast();
        const dom::Node& node = doc[n];
        const css::ComputedStyle& s = styled.styles[n];
        if (node.type == dom::Node::Type::Text) {
            const bool wraps =
                s.whiteSpace != css::WhiteSpace::Pre && s.whiteSpace != css::WhiteSpace::Nowrap;
            const qreal line =
                s.lineHeight && *s.lineHeight > 0 ? *s.lineHeight : measure.lineHeight(s);
            if (wraps) {
                const QString text =
                    s.whiteSpace == css::WhiteSpace::Normal ? node.text.simplified() : node.text;
                area += measure.width(text, s) * line;
            } else if (s.whiteSpace == css::WhiteSpace::Nowrap) {
                area += std::min(view.width, measure.width(node.text.simplified(), s)) * line;
            } else {
                for (QStringView one : QStringView(node.text).split(u'\n'))
                    area += std::min(view.width, measure.width(one, s)) * line;
            }
            if (area > viewArea)
                return true;
            continue;
        }
        if (!node.isElement() || s.display == css::Display::None)
            continue;
        for (int c = node.lastChild; c != dom::kNone; c = doc[c].previousSibling)
            stack.append(c);
    }
    return false;
}

WrittenMarkup markupForQt(QStringView html, const QUrl& pageUrl, const MarkupLimits& limits,
                          const ViewMetrics& view)
{
    return writeMarkup(prepareMarkup(html, pageUrl, limits, view), {}, {}, limits, view);
}

PreparedStyleSheet prepareStyleSheet(QStringView css, const QUrl& base, const MarkupLimits& limits,
                                     const ViewMetrics& view)
{
    PreparedStyleSheet result;
    const qsizetype fit =
        styleSheetFit(css, limits.maxStyleRules, limits.maxStyleChars, result.rules);
    result.capped = fit < css.size();
    result.text = css.first(fit).toString();
    for (const QString& target : css::leadingImports(result.text, view)) {
        const std::optional<QUrl> url = importUrl(base, target);
        if (!url || result.imports.contains(*url))
            continue;
        if (result.imports.size() >= limits.maxResources) {
            result.capped = true;
            break;
        }
        result.imports.append(*url);
    }
    return result;
}

} // namespace mizong::page
