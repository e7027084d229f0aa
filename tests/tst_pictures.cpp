// The compiled-in pictures: what the window relies on (sizes, the exact frame
// geometry the controls are placed in, colours) and what a broken drawing
// would show (titles outside their gaps, missing symbols, clipped texts).

#include "assets.h"
#include "cursor_hotspot.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QtEndian>
#include <QTest>

#include <algorithm>
#include <cstdlib>

using namespace mizong::assets;

namespace {

constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kFrame = qRgb(220, 234, 255);
constexpr QRgb kFaint = qRgb(240, 250, 250);
constexpr QRgb kTitle = qRgb(154, 168, 192);
constexpr QRgb kBandLine = qRgb(212, 223, 234);
constexpr QRgb kBandTop = qRgb(243, 247, 251);
constexpr QRgb kBandBottom = qRgb(223, 233, 242);
constexpr QRgb kSkyBlue = qRgb(1, 170, 235);

QImage load(QStringView path)
{
    return QImage(path.toString()).convertToFormat(QImage::Format_ARGB32);
}

QString at2x(QStringView path)
{
    QString name = path.toString();
    return name.insert(name.lastIndexOf(u'.'), u"@2x");
}

QImage background(int scale)
{
    return load(scale == 1 ? kBackground : kBackground2x);
}

// The largest difference of one colour channel.
int distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

QString rgb(QRgb c)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

QString where(int x, int y)
{
    return QStringLiteral("(%1,%2)").arg(x).arg(y);
}

bool isWhitish(QRgb c)
{
    return qRed(c) >= 235 && qGreen(c) >= 235 && qBlue(c) >= 235;
}

int hotSpotIndex(int size)
{
    for (int i = 0; i < int(std::size(kCursorHotSpots)); ++i) {
        if (kCursorHotSpots[i].size == size)
            return i;
    }
    return -1;
}

} // namespace

class tst_pictures : public QObject
{
    Q_OBJECT

private slots:
    void sizes_data();
    void sizes();
    void framePixels_data();
    void framePixels();
    void titleGaps_data();
    void titleGaps();
    void band_data();
    void band();
    void backgroundColours_data();
    void backgroundColours();
    void buttonGradients_data();
    void buttonGradients();
    void buttonMarks_data();
    void buttonMarks();
    void icon_data();
    void icon();
    void iconFile();
    void cursor_data();
    void cursor();
};

void tst_pictures::sizes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("indexed"); // a palette image: the 32- and 256-colour ones

    QTest::newRow("background") << kBackground.toString() << QSize(808, 630) << true;
    QTest::newRow("background@2x") << kBackground2x.toString() << QSize(1616, 1260) << true;
    const std::pair<const char*, QStringView> buttons[] = {
        {"query", kButtonQuery}, {"clear", kButtonClear}, {"shop", kButtonShop}};
    for (const auto& [name, path] : buttons) {
        QTest::addRow("button %s", name) << path.toString() << QSize(128, 33) << false;
        QTest::addRow("button %s@2x", name) << at2x(path) << QSize(256, 66) << false;
    }
    for (const SizedPicture& icon : kIcons) {
        QTest::addRow("icon %d", icon.size)
            << icon.path.toString() << QSize(icon.size, icon.size) << (icon.size == 32);
    }
    for (const SizedPicture& hand : kCursorHands) {
        QTest::addRow("cursor %d", hand.size)
            << hand.path.toString() << QSize(hand.size, hand.size) << (hand.size == 32);
    }
}

// Also proves that the resources of the static library are linked in and
// registered: a missing one loads as a null image.
void tst_pictures::sizes()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, indexed);

    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    QCOMPARE(image.format() == QImage::Format_Indexed8, indexed);
}

void tst_pictures::framePixels_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<QPoint>("pixel"); // in 1x pixels
    QTest::addColumn<QRgb>("colour");

    const std::tuple<const char*, QPoint, QRgb> pixels[] = {
        {"upper frame top-left corner", {10, 11}, kFrame},
        {"upper frame top-right corner", {793, 11}, kFrame},
        {"upper frame bottom-left corner", {10, 404}, kFrame},
        {"upper frame bottom-right corner", {793, 404}, kFrame},
        {"upper frame top midpoint", {401, 11}, kFrame},
        {"upper frame bottom midpoint", {401, 404}, kFrame},
        {"upper frame left midpoint", {10, 207}, kFrame},
        {"upper frame right midpoint", {793, 207}, kFrame},
        {"inside upper frame top-left", {11, 12}, kWhite},
        {"inside upper frame bottom-right", {792, 403}, kWhite},
        {"inside upper frame middle", {401, 207}, kWhite},
        {"faint line top-left corner", {9, 10}, kFaint},
        {"faint line top-right corner", {794, 10}, kFaint},
        {"faint line bottom-left corner", {9, 405}, kFaint},
        {"faint line bottom-right corner", {794, 405}, kFaint},
        {"faint line top midpoint", {401, 10}, kFaint},
        {"faint line bottom midpoint", {401, 405}, kFaint},
        {"faint line left midpoint", {9, 207}, kFaint},
        {"faint line right midpoint", {794, 207}, kFaint},
        {"outside faint line top-left", {8, 9}, kWhite},
        {"outside faint line bottom-right", {795, 406}, kWhite},
        {"outside faint line left", {8, 207}, kWhite},
        {"outside faint line bottom", {401, 406}, kWhite},
        {"lower frame top-left corner", {10, 419}, kFrame},
        {"lower frame top-right corner", {794, 419}, kFrame},
        {"lower frame bottom-left corner", {10, 592}, kFrame},
        {"lower frame bottom-right corner", {794, 592}, kFrame},
        {"lower frame top midpoint", {402, 419}, kFrame},
        {"lower frame bottom midpoint", {402, 592}, kFrame},
        {"lower frame left midpoint", {10, 505}, kFrame},
        {"lower frame right midpoint", {794, 505}, kFrame},
        {"inside lower frame top-left", {11, 420}, kWhite},
        {"inside lower frame bottom-right", {793, 591}, kWhite},
        {"no outer line above lower frame", {402, 418}, kWhite},
        {"no outer line left of lower frame", {9, 505}, kWhite},
        {"no outer line right of lower frame", {795, 505}, kWhite},
        {"no outer line below lower frame", {402, 593}, kWhite},
        {"no outer line at lower frame corner", {9, 418}, kWhite},
        {"between the frames", {401, 412}, kWhite},
        {"above the band", {403, 601}, kWhite},
        {"band line left end", {0, 602}, kBandLine},
        {"band line middle", {403, 602}, kBandLine},
        {"band line right end", {807, 602}, kBandLine},
        {"page right of the frames", {805, 300}, kWhite},
    };
    for (int scale : {1, 2}) {
        for (const auto& [name, pixel, colour] : pixels)
            QTest::addRow("%dx %s", scale, name) << scale << pixel << colour;
    }
}

// At 2x every 1x pixel is a 2 by 2 block: lines are 2 pixels wide there.
void tst_pictures::framePixels()
{
    QFETCH(int, scale);
    QFETCH(QPoint, pixel);
    QFETCH(QRgb, colour);

    const QImage image = background(scale);
    for (int dy = 0; dy < scale; ++dy) {
        for (int dx = 0; dx < scale; ++dx) {
            const int x = pixel.x() * scale + dx, y = pixel.y() * scale + dy;
            QVERIFY2(rgb(image.pixel(x, y)) == rgb(colour),
                     qPrintable(where(x, y) + QStringLiteral(" is ") + rgb(image.pixel(x, y))));
        }
    }
}

void tst_pictures::titleGaps_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("lineY");
    QTest::addColumn<int>("gapFrom"); // first column of the gap
    QTest::addColumn<int>("gapTo");   // last column of the gap
    QTest::addColumn<QRgb>("line");
    QTest::addColumn<bool>("hasTitle"); // the title sits centred on this line

    for (int scale : {1, 2}) {
        QTest::addRow("%dx upper frame line", scale) << scale << 11 << 24 << 110 << kFrame << true;
        QTest::addRow("%dx upper faint line", scale) << scale << 10 << 24 << 110 << kFaint << false;
        QTest::addRow("%dx lower frame line", scale) << scale << 419 << 32 << 128 << kFrame << true;
    }
}

void tst_pictures::titleGaps()
{
    QFETCH(int, scale);
    QFETCH(int, lineY);
    QFETCH(int, gapFrom);
    QFETCH(int, gapTo);
    QFETCH(QRgb, line);
    QFETCH(bool, hasTitle);

    const QImage image = background(scale);
    const int s = scale;
    for (int y = lineY * s; y < (lineY + 1) * s; ++y) {
        QCOMPARE(rgb(image.pixel(gapFrom * s - 1, y)), rgb(line));
        QCOMPARE(rgb(image.pixel((gapTo + 1) * s, y)), rgb(line));
        for (int x = gapFrom * s; x < (gapTo + 1) * s; ++x)
            QVERIFY2(image.pixel(x, y) != line,
                     qPrintable(where(x, y) + QStringLiteral(" has the line colour")));
    }
    if (!hasTitle)
        return;

    // The title is there, in its colour, and only inside the gap: beside it
    // the rows around the line hold nothing but page and lines, and the rows
    // just above and below its reach are plain page.
    int darkest = 255;
    for (int y = (lineY - 8) * s; y < (lineY + 9) * s; ++y) {
        for (int x = (gapFrom - 12) * s; x < (gapTo + 13) * s; ++x) {
            const QRgb c = image.pixel(x, y);
            if (x >= gapFrom * s && x < (gapTo + 1) * s) {
                darkest = std::min(darkest, qGray(c));
                // Antialiasing shades lie between the page and the title colour.
                QVERIFY2(c == kWhite || (qRed(c) >= qRed(kTitle) && qBlue(c) >= qBlue(kTitle) &&
                                         qBlue(c) >= qRed(c)),
                         qPrintable(where(x, y) + QStringLiteral(" is ") + rgb(c)));
            } else {
                QVERIFY2(c == kWhite || c == kFrame || c == kFaint,
                         qPrintable(where(x, y) + QStringLiteral(" is ") + rgb(c)));
            }
        }
    }
    QVERIFY2(darkest <= qGray(kTitle) + 12, "no pixel of the title reaches its colour");
    for (int y : {(lineY - 9) * s, (lineY + 10) * s - 1}) {
        for (int x = gapFrom * s; x < (gapTo + 1) * s; ++x)
            QCOMPARE(rgb(image.pixel(x, y)), rgb(kWhite));
    }
}

void tst_pictures::band_data()
{
    QTest::addColumn<int>("scale");
    QTest::newRow("1x") << 1;
    QTest::newRow("2x") << 2;
}

void tst_pictures::band()
{
    QFETCH(int, scale);
    const QImage image = background(scale);
    const int first = 603 * scale;
    const int last = image.height() - 1;

    for (int y = 602 * scale; y < first; ++y)
        QCOMPARE(rgb(image.pixel(100, y)), rgb(kBandLine));
    QVERIFY2(distance(image.pixel(100, first), kBandTop) <= 2,
             qPrintable(rgb(image.pixel(100, first))));
    QVERIFY2(distance(image.pixel(100, last), kBandBottom) <= 2,
             qPrintable(rgb(image.pixel(100, last))));
    // A vertical gradient: rows are uniform and darken steadily downwards.
    for (int y = first; y <= last; ++y) {
        const QRgb c = image.pixel(0, y);
        for (int x = 1; x < image.width(); ++x)
            QVERIFY2(image.pixel(x, y) == c, qPrintable(where(x, y)));
        if (y > first) {
            const QRgb above = image.pixel(0, y - 1);
            QVERIFY2(qRed(c) <= qRed(above) && qGreen(c) <= qGreen(above) &&
                         qBlue(c) <= qBlue(above),
                     qPrintable(where(0, y) + QStringLiteral(" is lighter than the row above")));
        }
    }
}

void tst_pictures::backgroundColours_data()
{
    band_data();
}

void tst_pictures::backgroundColours()
{
    QFETCH(int, scale);
    const QImage image = background(scale);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY2(colours.size() <= 32, qPrintable(QString::number(colours.size())));
}

void tst_pictures::buttonGradients_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QRgb>("top");
    QTest::addColumn<QRgb>("bottom");

    const std::tuple<const char*, QStringView, QRgb, QRgb> buttons[] = {
        {"query", kButtonQuery, qRgb(72, 201, 243), qRgb(22, 155, 214)},
        {"clear", kButtonClear, qRgb(237, 109, 38), qRgb(205, 67, 21)},
        {"shop", kButtonShop, qRgb(3, 150, 220), qRgb(18, 93, 161)},
    };
    for (const auto& [name, path, top, bottom] : buttons) {
        QTest::addRow("%s", name) << path.toString() << top << bottom;
        QTest::addRow("%s@2x", name) << at2x(path) << top << bottom;
    }
}

void tst_pictures::buttonGradients()
{
    QFETCH(QString, path);
    QFETCH(QRgb, top);
    QFETCH(QRgb, bottom);

    const QImage image = load(path);
    const int s = image.width() / 128;
    const int h = image.height();
    for (int x : {2 * s, image.width() - 3 * s}) {
        QVERIFY2(distance(image.pixel(x, 0), top) <= 3, qPrintable(rgb(image.pixel(x, 0))));
        QVERIFY2(distance(image.pixel(x, h - 1), bottom) <= 3,
                 qPrintable(rgb(image.pixel(x, h - 1))));
        const QRgb middle = image.pixel(x, h / 2);
        QVERIFY2(distance(middle, top) <= distance(top, bottom) &&
                     distance(middle, bottom) <= distance(top, bottom),
                 qPrintable(rgb(middle)));
    }
    // Nothing reaches the edges: a clipped symbol or text would break the
    // uniform first and last rows and the equal first and last columns.
    for (int y : {0, h - 1}) {
        for (int x = 0; x < image.width(); ++x)
            QVERIFY2(distance(image.pixel(x, y), image.pixel(0, y)) <= 1, qPrintable(where(x, y)));
    }
    for (int y = 0; y < h; ++y)
        QVERIFY2(distance(image.pixel(0, y), image.pixel(image.width() - 1, y)) <= 1,
                 qPrintable(where(0, y)));
}

void tst_pictures::buttonMarks_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("symbol");

    const std::tuple<const char*, QStringView, bool> buttons[] = {
        {"query", kButtonQuery, true},
        {"clear", kButtonClear, true},
        {"shop", kButtonShop, false},
    };
    for (const auto& [name, path, symbol] : buttons) {
        QTest::addRow("%s", name) << path.toString() << symbol;
        QTest::addRow("%s@2x", name) << at2x(path) << symbol;
    }
}

// A white symbol at the left where there is one, and white text with a dark
// outline in the rest of the face.
void tst_pictures::buttonMarks()
{
    QFETCH(QString, path);
    QFETCH(bool, symbol);

    const QImage image = load(path);
    const int s = image.width() / 128;
    // Dark is well below the gradient behind it, read at the left edge.
    const auto isOutline = [&](int x, int y) {
        return qGray(image.pixel(x, y)) < qGray(image.pixel(0, y)) - 60;
    };
    const auto isWhite = [&](int x, int y) { return isWhitish(image.pixel(x, y)); };
    const auto count = [&](int x0, int x1, auto test) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = x0 * s; x < x1 * s; ++x)
                n += test(x, y) ? 1 : 0;
        }
        return n;
    };
    const int area = s * s;
    if (symbol) {
        QVERIFY2(count(8, 34, isWhite) >= 50 * area, "no white symbol at the left");
        QVERIFY2(count(8, 34, isOutline) >= 25 * area, "the symbol has no dark outline");
        QCOMPARE(count(0, 8, isWhite), 0);
    } else {
        QCOMPARE(count(0, 14, isWhite), 0);
        QCOMPARE(count(0, 14, isOutline), 0);
    }
    QVERIFY2(count(40, 112, isWhite) >= 50 * area, "no white text");
    QVERIFY2(count(40, 112, isOutline) >= 80 * area, "the text has no dark outline");
}

void tst_pictures::icon_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    for (const SizedPicture& icon : kIcons)
        QTest::addRow("%d", icon.size) << icon.path.toString() << icon.size;
}

void tst_pictures::icon()
{
    QFETCH(QString, path);
    QFETCH(int, size);

    const QImage image = load(path);
    // A blue square: its rim is all blue, corners included.
    const int rim = std::max(1, size / 16);
    int whiteCount = 0;
    QRect glyph;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb c = image.pixel(x, y);
            QCOMPARE(qAlpha(c), 255);
            if (x < rim || y < rim || x >= size - rim || y >= size - rim)
                QVERIFY2(distance(c, kSkyBlue) <= 2,
                         qPrintable(where(x, y) + QStringLiteral(" is ") + rgb(c)));
            if (isWhitish(c)) {
                ++whiteCount;
                glyph |= QRect(x, y, 1, 1);
            }
        }
    }
    // The glyph is large, centred and made of strokes, not a white block.
    QVERIFY2(
        glyph.width() >= size * 6 / 10 && glyph.height() >= size * 6 / 10,
        qPrintable(QStringLiteral("white spans %1x%2").arg(glyph.width()).arg(glyph.height())));
    QVERIFY(std::abs(glyph.center().x() - size / 2) <= size / 8);
    QVERIFY(std::abs(glyph.center().y() - size / 2) <= size / 8);
    QVERIFY2(whiteCount >= size * size / 8 && whiteCount <= size * size * 6 / 10,
             qPrintable(QString::number(whiteCount)));
}

// The Windows icon file: a directory of 32 (8-bit bitmap), 48, 128 and 256
// (PNG) that an icon reader takes apart into the same pictures.
void tst_pictures::iconFile()
{
    const QString path = QFINDTESTDATA("../assets/icon.ico");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.size() > 6 + 4 * 16);
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    QCOMPARE(u16(0), 0);
    QCOMPARE(u16(2), 1);
    QCOMPARE(u16(4), 4);

    const int sizes[] = {32, 48, 128, 256};
    for (int i = 0; i < 4; ++i) {
        const int entry = 6 + 16 * i;
        const int width = quint8(bytes[entry]) == 0 ? 256 : quint8(bytes[entry]);
        QCOMPARE(width, sizes[i]);
        QCOMPARE(quint8(bytes[entry + 1]), quint8(bytes[entry]));
        const quint32 length = u32(entry + 8);
        const quint32 offset = u32(entry + 12);
        QVERIFY(offset + length <= quint32(bytes.size()));
        const QByteArray payload = bytes.mid(offset, length);
        if (sizes[i] == 32) {
            QCOMPARE(u16(entry + 6), 8);                                      // bits per pixel
            QCOMPARE(qFromLittleEndian<quint32>(payload.constData()), 40u);   // bitmap header
            QCOMPARE(qFromLittleEndian<qint32>(payload.constData() + 8), 64); // colours + mask
        } else {
            QCOMPARE(u16(entry + 6), 32);
            QVERIFY(payload.startsWith("\x89PNG\r\n\x1a\n"));
        }
    }

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QCOMPARE(reader.imageCount(), 4);
    for (int i = 0; i < 4; ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage fromFile = reader.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!fromFile.isNull(), qPrintable(reader.errorString()));
        const auto picture =
            std::find_if(std::begin(kIcons), std::end(kIcons),
                         [&](const SizedPicture& p) { return p.size == sizes[i]; });
        QVERIFY(picture != std::end(kIcons));
        QCOMPARE(fromFile, load(picture->path));
    }
}

void tst_pictures::cursor_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    for (const SizedPicture& hand : kCursorHands)
        QTest::addRow("%d", hand.size) << hand.path.toString() << hand.size;
}

void tst_pictures::cursor()
{
    QFETCH(QString, path);
    QFETCH(int, size);

    const int index = hotSpotIndex(size);
    QVERIFY2(index >= 0, "no hot spot for this size");
    const QPoint hotSpot(kCursorHotSpots[index].x, kCursorHotSpots[index].y);
    const QImage image = load(path);
    QVERIFY(QRect(0, 0, size, size).contains(hotSpot));

    // Transparent around the hand.
    const int corner = size / 8;
    for (int y = 0; y < corner; ++y) {
        for (int x = 0; x < corner; ++x) {
            for (QPoint p : {QPoint(x, y), QPoint(size - 1 - x, y), QPoint(x, size - 1 - y),
                             QPoint(size - 1 - x, size - 1 - y)})
                QVERIFY2(qAlpha(image.pixel(p)) == 0, qPrintable(where(p.x(), p.y())));
        }
    }
    // Grey-scale, with both the white fill and the black outline.
    int white = 0, black = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb c = image.pixel(x, y);
            if (qAlpha(c) == 0)
                continue;
            QVERIFY2(distance(c, qRgb(qGray(c), qGray(c), qGray(c))) <= 2,
                     qPrintable(where(x, y) + QStringLiteral(" is ") + rgb(c)));
            white += qAlpha(c) == 255 && qGray(c) >= 250 ? 1 : 0;
            black += qAlpha(c) >= 128 && qGray(c) <= 64 ? 1 : 0;
        }
    }
    QVERIFY(white >= size * size / 6);
    QVERIFY(black >= size * size / 40);

    // The hot spot is the fingertip: the top of the hand, on the dark
    // outline, with the finger's white below it and about as much finger to
    // its left as to its right.
    for (int y = 0; y < hotSpot.y(); ++y) {
        for (int x = 0; x < size; ++x)
            QVERIFY2(qAlpha(image.pixel(x, y)) < 128, qPrintable(where(x, y)));
    }
    const QRgb tip = image.pixel(hotSpot);
    QVERIFY2(qAlpha(tip) >= 128 && qGray(tip) < 128, qPrintable(rgb(tip)));
    const int below = hotSpot.y() + std::max(2, size / 10);
    QVERIFY(qGray(image.pixel(hotSpot.x(), below)) >= 250);
    int left = hotSpot.x(), right = hotSpot.x();
    while (left > 0 && qAlpha(image.pixel(left - 1, below)) > 0)
        --left;
    while (right < size - 1 && qAlpha(image.pixel(right + 1, below)) > 0)
        ++right;
    QVERIFY2(std::abs((hotSpot.x() - left) - (right - hotSpot.x())) <= 1 + size / 32,
             qPrintable(QStringLiteral("finger from %1 to %2").arg(left).arg(right)));
    QVERIFY(right - left < size / 4);
}

QTEST_GUILESS_MAIN(tst_pictures)

#include "tst_pictures.moc"
