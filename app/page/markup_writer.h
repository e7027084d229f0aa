#pragma once

#include "computed_style.h"
#include "page_markup.h"

#include <QList>
#include <QSet>
#include <QUrl>

// Internal to mizong_page_markup: page_markup.h is the interface.
// A page's document tree written for Qt's importer with the values its
// cascade computed, each element as the nearest construct Qt draws: a block
// with a border, padding, a background or a width as a one-cell table (Qt
// draws those only on tables and cells), a flex row or a grid as a table,
// an element whose display changes its kind under the name of that kind.
// The limits on nesting and tables, which Qt's layout costs grow with, are
// counted here as the elements are written.
namespace mizong::page::markup {

void writeForQt(const PreparedMarkup& page, const QList<css::ComputedStyle>& styles,
                const QSet<QUrl>& loadedImages, const MarkupLimits& limits, const ViewMetrics& view,
                const TextMeasure* measure, WrittenMarkup& result);

} // namespace mizong::page::markup
