#pragma once

#include "page_markup.h"

#include <QString>
#include <QStringView>
#include <QUrl>

// Internal to mizong_page_markup: page_markup.h is the interface.
// HTML's tree building, as browsers build a page's elements from its tags
// (implied ends, scopes, tables, foreign content, hidden elements), written
// straight out as the balanced markup Qt's importer is given: Qt's importer
// builds no tree by HTML's rules, and trusts its input. The limits on
// elements, depth, nesting, tables, resources and style are counted here,
// while the elements are built.
namespace mizong::page::markup {

// Writes `input` for Qt's importer into `result`: its html, the resources
// and links it lists, what its <style> elements and nesting cost, the body's
// margins, and whether a limit dropped something. Addresses resolve against
// `base`; a link without a target of its own takes `baseTarget`.
void buildMarkup(QStringView input, const QUrl& base, const QString& baseTarget,
                 const MarkupLimits& limits, const ViewMetrics& view, PreparedMarkup& result);

} // namespace mizong::page::markup
