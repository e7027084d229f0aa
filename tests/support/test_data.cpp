#include "test_data.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QtEndian>

#include <array>

namespace mizong::testing {

namespace {

quint32 crc32(QByteArrayView bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray pngChunk(const char (&type)[5], const QByteArray& data)
{
    std::array<uchar, 4> length{};
    qToBigEndian(quint32(data.size()), length.data());
    const QByteArray typed = QByteArray(type, 4) + data;
    std::array<uchar, 4> crc{};
    qToBigEndian(crc32(typed), crc.data());
    return QByteArray(reinterpret_cast<const char*>(length.data()), 4) + typed +
           QByteArray(reinterpret_cast<const char*>(crc.data()), 4);
}

} // namespace

QByteArray dataFile(const QString& name)
{
    QFile file(QStringLiteral(MIZONG_TEST_DATA_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}

quint16 refusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray pngDeclaring(quint32 width, quint32 height)
{
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = 8; // bits per sample
    header[9] = 2; // RGB
    // qCompress puts the length before the zlib stream.
    const QByteArray stream = qCompress(QByteArray(1 + 3 * qsizetype(width), '\0')).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
           pngChunk("IDAT", stream) + pngChunk("IEND", {});
}

QString readerText(QStringView rawText)
{
    QString out;
    bool space = false;
    for (const QChar c : rawText) {
        switch (c.unicode()) {
        case u' ':
        case u'\t':
        case u'\n':
        case u'\f':
        case u'\r':
        case QChar::LineSeparator:
        case QChar::ParagraphSeparator:
        case 0xFDD0:
        case 0xFDD1:
            space = !out.isEmpty();
            continue;
        case QChar::ObjectReplacementCharacter:
        case 0x200B: // the room of a drawing the view does not draw
            continue;
        }
        if (space)
            out += u' ';
        space = false;
        out += c;
    }
    return out;
}

} // namespace mizong::testing
