#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

// Internal to mizong_page_markup: page_markup.h and page_links.h are the
// interface.
// The addresses a page's attributes and style sheets name, resolved as a
// browser resolves them and written as Qt will look them up, so that Qt
// never loads anything by itself and finds every listed resource by the
// address it was loaded under.
namespace mizong::page::markup {

// An absolute http(s) address with a host: the only kind the page loads or
// a link opens.
bool isWebUrl(const QUrl& url);

// An attribute's URL resolved as a browser would: surrounding blanks and
// embedded tabs and line breaks do not count.
QUrl resolveReference(const QUrl& base, QStringView value);

// The text a resource's address is written as, and the QUrl Qt will look it
// up by: the same for the lists and the markup.
struct ResourceAddress
{
    QString text;
    QUrl url;
};

ResourceAddress resourceAddress(const QUrl& url);

// An @import's target resolved against its sheet's address: the sheet to
// load, or nothing when it is not http(s).
std::optional<QUrl> importUrl(const QUrl& base, const QString& target);

} // namespace mizong::page::markup
