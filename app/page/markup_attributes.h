#pragma once

#include "document_tree.h"
#include "page_links.h"

#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

// Internal to mizong_page_markup: page_markup.h is the interface.
// The attributes written for Qt: only those it reads, their values bounded,
// and never a style (the cascade's values are written apart) nor an address
// of the page: an <a>'s href becomes an index into the page's links.
namespace mizong::page::markup {

// `node`'s allowed attributes for Qt's `element`, values written back
// escaped; with `linkIndex` >= 0, its href as that link. `except` is left out.
void appendAttributes(QString& out, QStringView element, const dom::Node& node, int linkIndex,
                      QStringView except = {});

void appendAttribute(QString& out, QStringView name, QStringView value);

// An attribute's value as Qt may be given it, bounded; nothing to leave it out.
std::optional<QString> boundedValue(QStringView element, QStringView name, const QString& value);

// The link an <a href> offers: its address resolved against `base`, and
// whether it opens a new window (its target, or the page's `baseTarget`).
PageLink pageLink(const dom::Node& anchor, const QUrl& base, const QString& baseTarget);

} // namespace mizong::page::markup
