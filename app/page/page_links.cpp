#include "page_links.h"

#include "markup_output.h"
#include "page_links_p.h"

namespace mizong::page {

namespace markup {

bool isWebUrl(const QUrl& url)
{
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty();
}

QUrl resolveReference(const QUrl& base, QStringView value)
{
    QString cleaned;
    cleaned.reserve(value.size());
    for (QChar c : value.trimmed())
        if (c != u'\t' && c != u'\n' && c != u'\r')
            cleaned += c;
    const QUrl relative(cleaned, QUrl::TolerantMode);
    if (!relative.isValid())
        return relative;
    return base.isEmpty() ? relative : base.resolved(relative);
}

ResourceAddress resourceAddress(const QUrl& url)
{
    QString text = url.toString(QUrl::FullyEncoded);
    QUrl parsed(text);
    return {std::move(text), std::move(parsed)};
}

std::optional<QUrl> importUrl(const QUrl& base, const QString& target)
{
    const QUrl url = resolveReference(base, target);
    if (!isWebUrl(url))
        return std::nullopt;
    return resourceAddress(url).url;
}

} // namespace markup

using namespace Qt::StringLiterals;
using markup::isAsciiDigit;
using markup::isWebUrl;

QString linkHref(int index)
{
    return u"mizong-link:"_s + QString::number(index);
}

std::optional<int> linkIndex(const QUrl& href)
{
    if (href.scheme() != u"mizong-link" || href.hasQuery() || href.hasFragment() ||
        !href.authority().isEmpty())
        return std::nullopt;
    const QString path = href.path();
    if (path.isEmpty() || path.size() > 9 || (path.size() > 1 && path.front() == u'0'))
        return std::nullopt;
    int value = 0;
    for (QChar c : path) {
        if (!isAsciiDigit(c.unicode()))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

LinkAction linkAction(const PageLink& link, const QUrl& homeSite)
{
    const QUrl& url = link.url;
    if (!isWebUrl(url))
        return LinkAction::Nothing;
    if (link.newWindow)
        return LinkAction::Browser;
    const auto defaultPort = [](const QUrl& u) { return u.scheme() == u"https" ? 443 : 80; };
    const int port = url.port(defaultPort(url));
    const int homePort = homeSite.port(defaultPort(homeSite));
    const bool samePort =
        port == homePort || (port == defaultPort(url) && homePort == defaultPort(homeSite));
    const bool home = url.host().compare(homeSite.host(), Qt::CaseInsensitive) == 0 && samePort;
    return home ? LinkAction::InsideView : LinkAction::Browser;
}

} // namespace mizong::page
