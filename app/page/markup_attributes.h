#pragma once

#include "css_for_qt.h"
#include "css_values.h"
#include "html_tokenizer.h"
#include "page_links.h"

#include <QList>
#include <QMarginsF>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

// Internal to mizong_page_markup: page_markup.h is the interface.
// What a start tag's attributes say, read as browsers read them: the body's
// margins and an element its author hid, which Qt's importer does not know,
// and the attributes written for Qt, only those it reads, their values
// bounded and style attributes rewritten as style sheets are. An <a>'s href
// becomes an index into the page's links, so that no address of the page
// reaches Qt.
namespace mizong::page::markup {

// The body's margins as its presentational attributes give them (leftmargin,
// marginwidth, ...) over a browser's 8 px; the page's style comes over them.
QMarginsF bodyMargins(const Token& token);

// Hidden by the page itself: the hidden attribute, or display:none in the
// element's own style. No browser shows such an element or its content.
bool hiddenByAuthor(const Token& token);

class AttributeWriter
{
public:
    // `rootProperties` and `varBudget` are the page's, shared with its <style>
    // elements; every <a href> is appended to `links`.
    AttributeWriter(const css::ViewMetrics& view, const QUrl& base, const QString& baseTarget,
                    css::CustomProperties& rootProperties, qsizetype& varBudget,
                    QList<PageLink>& links)
        : m_view(view), m_base(base), m_baseTarget(baseTarget), m_rootProperties(rootProperties),
          m_varBudget(varBudget), m_links(links)
    {}

    void appendStartTag(QString& out, QStringView outName, const Token* token);

    // The allowed attributes of `token`, the first of each name, values
    // decoded and written back escaped; an <a>'s href becomes its link.
    void appendAttributes(QString& out, QStringView element, const Token& token);

    // The margins of the last <body> style written, which Qt is not given.
    css::BodyMargins bodyStyleMargins;

private:
    static void appendAttribute(QString& out, QStringView name, QStringView value);
    static std::optional<QString> boundedValue(QStringView element, QStringView name,
                                               const QString& value);
    PageLink link(QStringView rawHref, const Token& token) const;

    const css::ViewMetrics& m_view;
    const QUrl& m_base;
    const QString& m_baseTarget;
    css::CustomProperties& m_rootProperties;
    qsizetype& m_varBudget;
    QList<PageLink>& m_links;
};

} // namespace mizong::page::markup
