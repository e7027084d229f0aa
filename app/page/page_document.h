#pragma once

#include <QFont>
#include <QHash>
#include <QImage>
#include <QString>
#include <QTextOption>
#include <QUrl>

#include <memory>

class QTextDocument;
class QThread;

namespace mizong::page {

// What a page's document is laid out for: the view's text settings and the
// size of its viewport.
struct LayoutTarget
{
    QFont font;
    QTextOption textOption;
    // The viewport without a vertical scroll bar, and the bar's width.
    qreal width = 0;
    qreal height = 0;
    qreal scrollBarWidth = 0;
};

// What a page's markup may refer to, loaded beforehand: nothing else is read.
struct PageResources
{
    QHash<QUrl, QString> styleSheets;
    QHash<QUrl, QImage> images;
};

struct BuiltDocument
{
    std::unique_ptr<QTextDocument> document;
    // Laid out for the viewport less the scroll bar: the page is taller than it.
    bool needsScrollBar = false;
};

// Builds the page's document from prepared markup and lays it out completely
// for `target`, on the calling thread (any thread), then hands it to `owner`'s
// thread. A view that shows it at the same width lays out nothing again.
BuiltDocument buildDocument(const QString& html, const PageResources& resources,
                            const LayoutTarget& target, QThread* owner);

// An image as a page may show it: null when its header declares more than
// `maxPixels` (checked before any pixel is decoded) or it does not decode.
QImage decodeImage(const QByteArray& bytes, qint64 maxPixels);

} // namespace mizong::page
