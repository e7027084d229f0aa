#pragma once

#include "css_values.h"

#include <QList>
#include <QString>
#include <QStringView>

// Internal to mizong_page_markup: page_markup.h is the interface.
// The @import rules a style sheet leads with: the sheets loaded for it, whose
// rules the cascade puts before its own.
namespace mizong::page::css {

// The targets of `css`'s leading @import rules that hold for `view`, in
// order and as written (a url() or a string, unresolved). Leading: before
// any other rule but @charset, and @layer statements before the first
// import. One holds when its media query list matches the view and the
// cascade supports its supports() condition; a layered one never does, as
// the cascade knows no layers and drops @layer blocks alike.
QList<QString> leadingImports(QStringView css, const ViewMetrics& view);

} // namespace mizong::page::css
