#include "ico_file.h"

#include <QBuffer>
#include <QDataStream>
#include <QImageWriter>

namespace mizong::pictures {
namespace {

constexpr int kDirectorySize = 6;
constexpr int kEntrySize = 16;
constexpr int kBitmapHeaderSize = 40;

// Rows of a bitmap are padded to whole 32-bit words.
int rowBytes(int width, int bitsPerPixel)
{
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// A device-independent bitmap as an icon stores it: the header with twice the
// height, a full 256-entry palette, the colour rows bottom-up, then the
// transparency mask (a set bit is a transparent pixel).
QByteArray bitmapBytes(const QImage& indexed)
{
    const int width = indexed.width();
    const int height = indexed.height();
    const int colourRow = rowBytes(width, 8);
    const int maskRow = rowBytes(width, 1);
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(kBitmapHeaderSize) << qint32(width) << qint32(2 * height) << quint16(1)
        << quint16(8) << quint32(0) << quint32((colourRow + maskRow) * height) << qint32(0)
        << qint32(0) << quint32(256) << quint32(0);
    const QList<QRgb> palette = indexed.colorTable();
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < palette.size() ? palette[i] : 0;
        out << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    }
    for (int y = height - 1; y >= 0; --y) {
        const uchar* row = indexed.constScanLine(y);
        for (int x = 0; x < colourRow; ++x)
            out << quint8(x < width ? row[x] : 0);
    }
    for (int y = height - 1; y >= 0; --y) {
        QByteArray mask(maskRow, '\0');
        for (int x = 0; x < width; ++x) {
            if (qAlpha(indexed.pixel(x, y)) < 128)
                mask[x / 8] = char(mask[x / 8] | (0x80 >> (x % 8)));
        }
        out.writeRawData(mask.constData(), mask.size());
    }
    return bytes;
}

} // namespace

QByteArray pngBytes(const QImage& image)
{
    QImage copy = image;
    // Fixed at 96 dpi; otherwise the density would follow the running screen.
    copy.setDotsPerMeterX(3780);
    copy.setDotsPerMeterY(3780);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(copy))
        return {};
    return bytes;
}

QByteArray icoFile(const QList<QImage>& images)
{
    QList<QByteArray> payloads;
    for (const QImage& image : images) {
        payloads.append(image.format() == QImage::Format_Indexed8 ? bitmapBytes(image)
                                                                  : pngBytes(image));
    }

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = kDirectorySize + kEntrySize * images.size();
    for (int i = 0; i < images.size(); ++i) {
        const QImage& image = images[i];
        const bool indexed = image.format() == QImage::Format_Indexed8;
        // Width and height 0 stand for 256; a colour count of 0 for 256 or more.
        out << quint8(image.width() % 256) << quint8(image.height() % 256) << quint8(0) << quint8(0)
            << quint16(1) << quint16(indexed ? 8 : 32) << quint32(payloads[i].size()) << offset;
        offset += payloads[i].size();
    }
    for (const QByteArray& payload : payloads)
        out.writeRawData(payload.constData(), payload.size());
    return bytes;
}

} // namespace mizong::pictures
