#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The page's links and what a click on one does. The announcement page is
// outside content: a link never reaches Qt's own handling, only an index
// into the links the markup rules kept, and only the home site's pages open
// inside the view.
namespace mizong::page {

struct PageLink
{
    QUrl url;
    // The link asks for a window of its own (a target other than _self,
    // _top or _parent, its own or the page's <base target>).
    bool newWindow = false;

    bool operator==(const PageLink&) const = default;
};

// The href a prepared <a> carries ("mizong-link:<index>"), and back.
QString linkHref(int index);
std::optional<int> linkIndex(const QUrl& href);

enum class LinkAction
{
    InsideView,
    Browser,
    Nothing,
};

// What a click on `link` does: an http(s) link to the home site's host (and
// port, unless both use their scheme's default) without a new window opens
// inside the view; a new window or another host goes to the user's browser;
// any other scheme does nothing.
LinkAction linkAction(const PageLink& link, const QUrl& homeSite);

} // namespace mizong::page
