#include "page_markup.h"

#include "css_for_qt.h"
#include "html_tokenizer.h"
#include "markup_builder.h"
#include "markup_output.h"
#include "page_links_p.h"

#include <algorithm>

// The markup rules' entry points: the input cut to its limit, the page's
// <base> read before anything resolves against it, the rooms that build the
// markup (markup_builder.cpp over html_tokenizer.cpp, html_elements.cpp,
// table_budget.cpp and markup_attributes.cpp) called, and the steps either
// side of it: style sheets loaded apart and the images that did not load.
namespace mizong::page {

using markup::decodeAttribute;
using markup::importAddress;
using markup::isAsciiAlnum;
using markup::isWebUrl;
using markup::resolveReference;
using markup::styleSheetFit;
using markup::Token;
using markup::Tokenizer;
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

PreparedMarkup prepareMarkup(QStringView html, const QUrl& pageUrl, const MarkupLimits& limits,
                             const ViewMetrics& view)
{
    PreparedMarkup result;
    bool cut = false;
    const QStringView input = window(html, limits.maxChars, &cut);
    result.capped = cut;

    // The first <base href> counts for every address, also those before it.
    QUrl base = pageUrl;
    QString baseTarget;
    if (input.contains(u"<base", Qt::CaseInsensitive)) {
        Tokenizer tokenizer(input);
        Token token;
        bool hrefSeen = false;
        bool targetSeen = false;
        while (!(hrefSeen && targetSeen) && tokenizer.next(token)) {
            if (token.type != Token::StartTag || token.name != u"base")
                continue;
            bool present = false;
            const QStringView href = token.attribute(u"href", &present);
            if (present && !hrefSeen) {
                hrefSeen = true;
                const QUrl url = resolveReference(pageUrl, decodeAttribute(href));
                if (isWebUrl(url))
                    base = url;
            }
            const QStringView target = token.attribute(u"target", &present);
            if (present && !targetSeen) {
                targetSeen = true;
                baseTarget = decodeAttribute(target);
            }
        }
    }

    const auto build = [&](const MarkupLimits& with, PreparedMarkup& into) {
        markup::buildMarkup(input, base, baseTarget, with, view, into);
    };
    build(limits, result);
    // The page's <style> rules are known only with its elements: a second
    // pass with fewer when the two together would cost Qt's importer too
    // much. The elements are the same; only the rules are cut.
    const int allowed = styleRulesFor(limits, result.nesting);
    if (result.styleRules > allowed) {
        MarkupLimits fewer = limits;
        fewer.maxStyleRules = allowed;
        PreparedMarkup again;
        again.capped = true;
        build(fewer, again);
        return again;
    }
    return result;
}

int styleRulesFor(const MarkupLimits& limits, qint64 nesting)
{
    return int(
        std::min<qint64>(limits.maxStyleRules, limits.maxStyleWork / std::max<qint64>(nesting, 1)));
}

QString withLoadedImages(QStringView preparedHtml, const QSet<QUrl>& loaded)
{
    static constexpr QStringView srcStart = u" src=\"";
    QString out;
    out.reserve(preparedHtml.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype begin = preparedHtml.indexOf(u"<img ", from);
        const qsizetype end = begin < 0 ? -1 : preparedHtml.indexOf(u'>', begin);
        if (end < 0)
            break;
        const QStringView tag = preparedHtml.sliced(begin, end + 1 - begin);
        out += preparedHtml.sliced(from, begin - from);
        const qsizetype src = tag.indexOf(srcStart);
        const qsizetype srcEnd = src < 0 ? -1 : tag.indexOf(u'"', src + srcStart.size());
        if (srcEnd >= 0) {
            const QString text =
                decodeAttribute(tag.sliced(src + srcStart.size(), srcEnd - src - srcStart.size()));
            if (loaded.contains(QUrl(text)))
                out += tag;
        }
        from = end + 1;
    }
    out += preparedHtml.sliced(from);
    return out;
}

QMarginsF documentMargins(const PreparedMarkup& page, const QList<css::BodyMargins>& loadedSheets)
{
    QMarginsF margins = page.bodyMargins;
    css::BodyMargins style = page.sheetBodyMargins;
    for (const css::BodyMargins& sheet : loadedSheets)
        style.merge(sheet);
    style.merge(page.bodyStyleMargins);
    style.applyTo(margins);
    // Within what Qt's layout handles; a negative margin would put the
    // page's edge outside the view.
    const auto bounded = [](qreal v) { return std::clamp<qreal>(v, 0, markup::kMaxLength); };
    return QMarginsF(bounded(margins.left()), bounded(margins.top()), bounded(margins.right()),
                     bounded(margins.bottom()));
}

PreparedStyleSheet prepareStyleSheet(QStringView css, const QUrl& base, const MarkupLimits& limits,
                                     const ViewMetrics& view)
{
    PreparedStyleSheet result;
    const qsizetype fit =
        styleSheetFit(css, limits.maxStyleRules, limits.maxStyleChars, result.rules);
    result.capped = fit < css.size();
    const qsizetype maxImports = limits.maxResources;
    css::QtSheetContext context;
    context.view = view;
    context.import = [&](const QString& target) {
        return importAddress(base, target, [&result, maxImports](const QUrl& url) {
            if (result.imports.contains(url))
                return true;
            if (result.imports.size() >= maxImports) {
                result.capped = true;
                return false;
            }
            result.imports.append(url);
            return true;
        });
    };
    context.bodyMargins = &result.bodyMargins;
    result.css = css::styleSheetForQt(css.first(fit), context);
    return result;
}

} // namespace mizong::page
