// Bytes, as UTF-8, through the markup rules alone (tokenizer, tree builder,
// character references, the style sheets inside the page), without Qt's
// importer: many more runs than the whole page view gets. Besides what the
// sanitizers watch, every link written goes through the link table and
// every picture written is one the page's list names.

#include "page_markup.h"

#include <QSet>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Each value of attribute `name` on the `element` tags of the prepared
// markup, as Qt's importer reads it back.
QStringList valuesOf(const QString& html, const QString& element, const QString& name)
{
    QStringList values;
    const QString open = QStringLiteral("<") + element + QStringLiteral(" ");
    const QString needle = QStringLiteral(" ") + name + QStringLiteral("=\"");
    for (qsizetype at = html.indexOf(open); at >= 0; at = html.indexOf(open, at + 1)) {
        // Values are quoted and escaped: the tag ends at the first '>'.
        const qsizetype close = html.indexOf(u'>', at);
        check(close >= 0);
        const qsizetype found = html.indexOf(needle, at);
        if (found < 0 || found > close)
            continue;
        const qsizetype start = found + needle.size();
        const qsizetype end = html.indexOf(u'"', start);
        check(end >= 0 && end < close);
        values.append(html.sliced(start, end - start)
                          .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
                          .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
                          .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
                          .replace(QStringLiteral("&amp;"), QStringLiteral("&")));
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QUrl base(QStringLiteral("http://home.example/news/today.html"));
    const mizong::page::PreparedMarkup prepared = mizong::page::prepareMarkup(input, base);
    // Its own <style> elements as a loaded sheet too, for every sheet it lists.
    QHash<QUrl, mizong::page::PreparedStyleSheet> sheets;
    for (const QUrl& url : prepared.styleSheets)
        sheets.insert(url, mizong::page::prepareStyleSheet(input, url));
    QSet<QUrl> everyImage(prepared.images.cbegin(), prepared.images.cend());
    const QString html = mizong::page::writeMarkup(prepared, sheets, everyImage).html;

    for (const QString& href : valuesOf(html, QStringLiteral("a"), QStringLiteral("href"))) {
        const std::optional<int> index = mizong::page::linkIndex(QUrl(href));
        check(index && *index >= 0 && *index < prepared.links.size());
    }
    QSet<QString> listed;
    for (const QUrl& image : prepared.images) {
        check(image.scheme() == u"http" || image.scheme() == u"https");
        listed.insert(image.toString(QUrl::FullyEncoded));
    }
    for (const QString& src : valuesOf(html, QStringLiteral("img"), QStringLiteral("src")))
        check(listed.contains(src) || listed.contains(QUrl(src).toString(QUrl::FullyEncoded)));

    // No picture loaded: none may stay.
    check(!mizong::page::writeMarkup(prepared, sheets, {}).html.contains(u"<img"));

    const mizong::page::PreparedStyleSheet sheet = mizong::page::prepareStyleSheet(input, base);
    for (const QUrl& import : sheet.imports)
        check(import.scheme() == u"http" || import.scheme() == u"https");
    return 0;
}
