// Page bytes along the page view's whole path: decoding, the markup's caps
// and rewriting, Qt's importer, layout, and drawing, as the page thread and
// the window do them. A crash here would end the window.
#include "page_document.h"
#include "page_markup.h"
#include "text_decoding.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextDocument>
#include <QUrl>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace {

void startApplication()
{
    static int argc = 1;
    static char name[] = "fuzz_page_view";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(argc, argv);
}

// The charset a server might name, chosen by the input's first byte.
QByteArray contentTypeFor(std::uint8_t choice)
{
    static const char* const kTypes[] = {"text/html",
                                         "text/html; charset=utf-8",
                                         "text/html; charset=gbk",
                                         "text/html; charset=big5",
                                         "text/html; charset=gb18030",
                                         "text/html; charset=\"utf-16\"",
                                         "text/html; charset=windows-1252",
                                         "text/plain"};
    return kTypes[choice % (sizeof kTypes / sizeof *kTypes)];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    startApplication();
    if (size == 0)
        return 0;
    const QByteArray type = contentTypeFor(data[0]);
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QUrl page(QStringLiteral("http://home.example/gonggao.html"));

    QByteArray encoding;
    const QString text = mizong::decodeHtml(body, type, &encoding);
    const mizong::page::PreparedMarkup prepared = mizong::page::prepareMarkup(text, page);
    // The same bytes as a style sheet and as an image a page refers to.
    mizong::page::PageResources resources;
    const QString css = mizong::decodeStyleSheet(body, "text/css", encoding);
    QHash<QUrl, mizong::page::PreparedStyleSheet> sheets;
    for (const QUrl& sheet : prepared.styleSheets)
        sheets.insert(sheet, mizong::page::prepareStyleSheet(css, sheet));
    QSet<QUrl> loaded;
    const QImage image = mizong::page::decodeImage(body, 1024 * 1024);
    if (!image.isNull() && !prepared.images.isEmpty()) {
        resources.images.insert(prepared.images.first(), image);
        loaded.insert(prepared.images.first());
    }

    mizong::page::LayoutTarget target;
    target.width = 369;
    target.height = 221;
    target.scrollBarWidth = 15;
    // As long as the window would give a page: past it the page is dropped.
    mizong::page::PageWork work(std::chrono::seconds(15));
    const mizong::page::WrittenMarkup written = mizong::page::writeMarkup(prepared, sheets, loaded);
    const mizong::page::BuiltDocument built =
        mizong::page::buildDocument(written.html, written.margins, resources, target,
                                    mizong::page::MarkupLimits{}.maxHeight, work);
    if (!built.document)
        return 0;
    QImage canvas(369, 221, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    built.document->drawContents(&painter, QRectF(0, 0, 369, 221));
    return 0;
}
