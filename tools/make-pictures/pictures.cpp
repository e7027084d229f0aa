#include "pictures.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRectF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mizong::pictures {
namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "make-pictures: %s\n", what);
    std::exit(1);
}

QRgb mix(QRgb from, QRgb to, double t)
{
    const auto channel = [t](int a, int b) { return int(std::lround(a + (b - a) * t)); };
    return qRgba(channel(qRed(from), qRed(to)), channel(qGreen(from), qGreen(to)),
                 channel(qBlue(from), qBlue(to)), channel(qAlpha(from), qAlpha(to)));
}

// Texts become outlines: filled paths do not depend on the hinting settings of
// the screen or platform the generator happens to run on.
QPainterPath textPath(QStringView text, int pixelSize)
{
    QFont font(kFontFamily.toString());
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::NoFontMerging);
    font.setHintingPreference(QFont::PreferNoHinting);
    QPainterPath path;
    path.addText(0, 0, font, text.toString());
    return path;
}

QPainterPath centredOn(const QPainterPath& path, QPointF centre)
{
    return path.translated(centre - path.boundingRect().center());
}

// Boolean operations and strokes flatten curves with a fixed tolerance in
// path units; the small shapes here would come out as polygons, so they are
// worked on enlarged.
constexpr qreal kFine = 64.0;

QPainterPath enlarged(const QPainterPath& path)
{
    return QTransform::fromScale(kFine, kFine).map(path);
}

QPainterPath reduced(const QPainterPath& path)
{
    return QTransform::fromScale(1 / kFine, 1 / kFine).map(path);
}

QPainterPath unite(std::initializer_list<QPainterPath> parts)
{
    QPainterPath whole;
    for (const QPainterPath& part : parts)
        whole = whole.united(enlarged(part));
    return reduced(whole.simplified());
}

QPainterPath subtract(const QPainterPath& shape, const QPainterPath& hole)
{
    return reduced(enlarged(shape).subtracted(enlarged(hole)));
}

QPainterPath stroke(const QPainterPath& line, qreal width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width * kFine);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return reduced(stroker.createStroke(enlarged(line)));
}

// An outline drawn half outside the shape, then the white shape over it.
void paintOutlined(QPainter& painter, const QPainterPath& shape, QRgb outline, qreal width)
{
    painter.strokePath(shape,
                       QPen(QColor(outline), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(shape, Qt::white);
}

// ---- Framed page ----

constexpr QRgb kPageWhite = qRgb(255, 255, 255);
constexpr QRgb kFrameBlue = qRgb(220, 234, 255);
constexpr QRgb kFaintLine = qRgb(240, 250, 250);
constexpr QRgb kTitleBlue = qRgb(154, 168, 192);
constexpr QRgb kBandLine = qRgb(212, 223, 234);
constexpr QRgb kBandTop = qRgb(243, 247, 251);
constexpr QRgb kBandBottom = qRgb(223, 233, 242);
constexpr QSize kPageSize(808, 630);
constexpr int kTitlePixelSize = 12;

// Palette: four flat colours, the band's gradient steps, then the title's
// antialiasing shades (white excluded, the full title colour last).
enum : uchar
{
    kWhiteIndex,
    kFrameIndex,
    kFaintIndex,
    kBandLineIndex,
    kGradientIndex
};
constexpr int kGradientSteps = 18;
constexpr int kTitleIndex = kGradientIndex + kGradientSteps;
constexpr int kTitleShades = 8;

class Page
{
public:
    explicit Page(int scale) : m_scale(scale), m_image(kPageSize * scale, QImage::Format_Indexed8)
    {
        QList<QRgb> palette{kPageWhite, kFrameBlue, kFaintLine, kBandLine};
        for (int i = 0; i < kGradientSteps; ++i)
            palette.append(mix(kBandTop, kBandBottom, double(i) / (kGradientSteps - 1)));
        for (int i = 1; i <= kTitleShades; ++i)
            palette.append(mix(kPageWhite, kTitleBlue, double(i) / kTitleShades));
        m_image.setColorTable(palette);
        m_image.fill(kWhiteIndex);
    }

    QImage image() const { return m_image; }

    // Fills the pixels x0..x1, y0..y1 (inclusive, in 1x pixels).
    void fill(int x0, int y0, int x1, int y1, uchar index)
    {
        for (int y = y0 * m_scale; y < (y1 + 1) * m_scale; ++y)
            std::fill_n(m_image.scanLine(y) + x0 * m_scale, (x1 - x0 + 1) * m_scale, index);
    }

    // A rectangle of one-pixel lines through both corners; the top line
    // leaves out the columns gapFrom..gapTo.
    void frame(QPoint topLeft, QPoint bottomRight, uchar index, int gapFrom, int gapTo)
    {
        const int left = topLeft.x(), top = topLeft.y();
        const int right = bottomRight.x(), bottom = bottomRight.y();
        fill(left, top, gapFrom - 1, top, index);
        fill(gapTo + 1, top, right, top, index);
        fill(left, bottom, right, bottom, index);
        fill(left, top, left, bottom, index);
        fill(right, top, right, bottom, index);
    }

    // The title of a frame, centred in the gap of its top line.
    void title(QStringView text, int gapFrom, int gapTo, int lineY)
    {
        const QPointF centre((gapFrom + gapTo + 1) / 2.0 * m_scale, (lineY + 0.5) * m_scale);
        QPainterPath path = textPath(text, kTitlePixelSize * m_scale);
        // A whole-pixel offset: the glyphs sit on the pixel grid as designed.
        const QPointF shift = centre - path.boundingRect().center();
        path.translate(std::round(shift.x()), std::round(shift.y()));
        const QRectF box = path.boundingRect();
        const int margin = 2 * m_scale;
        if (box.left() < gapFrom * m_scale + margin || box.right() > (gapTo + 1) * m_scale - margin)
            fail("a frame title does not fit into the gap of its line");

        QImage coverage(m_image.size(), QImage::Format_ARGB32_Premultiplied);
        coverage.fill(Qt::transparent);
        QPainter painter(&coverage);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(path, Qt::black);
        painter.end();
        for (int y = 0; y < coverage.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(coverage.constScanLine(y));
            for (int x = 0; x < coverage.width(); ++x) {
                const int shade = int(std::lround(qAlpha(row[x]) * kTitleShades / 255.0));
                if (shade > 0)
                    m_image.scanLine(y)[x] = uchar(kTitleIndex + shade - 1);
            }
        }
    }

    // A line at `lineY`, then the gradient from just below it to the last row.
    void band(int lineY)
    {
        fill(0, lineY, kPageSize.width() - 1, lineY, kBandLineIndex);
        const int first = (lineY + 1) * m_scale;
        const int last = kPageSize.height() * m_scale - 1;
        for (int y = first; y <= last; ++y) {
            const double t = double(y - first) / (last - first);
            const int step = int(std::lround(t * (kGradientSteps - 1)));
            std::fill_n(m_image.scanLine(y), m_image.width(), uchar(kGradientIndex + step));
        }
    }

private:
    int m_scale;
    QImage m_image;
};

// ---- Buttons ----

struct ButtonStyle
{
    QRgb top;
    QRgb bottom;
    QRgb outline;
    QStringView text;
};

constexpr QSize kButtonSize(128, 33);
constexpr int kButtonTextPixelSize = 16;
constexpr qreal kButtonOutline = 2.6; // pen width: 1.3 px show outside the shape
constexpr qreal kSymbolShift = 3.0;

ButtonStyle buttonStyle(Button button)
{
    switch (button) {
    case Button::Query:
        return {qRgb(72, 201, 243), qRgb(22, 155, 214), qRgb(8, 72, 122), u"开始查询"};
    case Button::Clear:
        return {qRgb(237, 109, 38), qRgb(205, 67, 21), qRgb(112, 30, 6), u"清空信息"};
    case Button::Shop:
        return {qRgb(3, 150, 220), qRgb(18, 93, 161), qRgb(6, 38, 86), u"觅踪网淘宝店"};
    }
    fail("unknown button");
}

// Symbols are drawn in 1x button pixels, left part of the face.
QPainterPath magnifyingGlass()
{
    const QPointF centre(15.5, 14.5);
    QPainterPath lens;
    lens.addEllipse(centre, 6.6, 6.6);
    QPainterPath hole;
    hole.addEllipse(centre, 4.1, 4.1);
    QPainterPath handle;
    handle.moveTo(centre + QPointF(5.2, 5.2));
    handle.lineTo(centre + QPointF(9.6, 9.6));
    return unite({subtract(lens, hole), stroke(handle, 3.8)});
}

QPainterPath glassHole()
{
    QPainterPath hole;
    hole.addEllipse(QPointF(15.5, 14.5), 4.1, 4.1);
    return hole;
}

QPainterPath wasteBin()
{
    QPainterPath lid;
    lid.addRoundedRect(QRectF(8.0, 8.5, 16.0, 3.0), 1.0, 1.0);
    QPainterPath knob;
    knob.addRoundedRect(QRectF(12.5, 5.5, 7.0, 4.0), 1.2, 1.2);
    QPainterPath knobHole;
    knobHole.addRect(QRectF(14.3, 7.0, 3.4, 2.0));
    QPainterPath body;
    body.moveTo(9.5, 12.8);
    body.lineTo(22.5, 12.8);
    body.lineTo(21.3, 25.2);
    body.quadTo(21.1, 26.8, 19.5, 26.8);
    body.lineTo(12.5, 26.8);
    body.quadTo(10.9, 26.8, 10.7, 25.2);
    body.closeSubpath();
    return unite({lid, subtract(knob, knobHole), body});
}

void paintBinSlits(QPainter& painter, QRgb colour)
{
    painter.setPen(QPen(QColor(colour), 1.3, Qt::SolidLine, Qt::RoundCap));
    for (qreal x : {13.3, 16.0, 18.7})
        painter.drawLine(QPointF(x, 15.4), QPointF(x + (x - 16.0) * 0.08, 24.2));
}

// ---- Hand ----

// The hand in a 32-unit square. Edges lie on half units so that the 1-unit
// outline of the 32-pixel picture covers whole pixels.
QPainterPath handShape()
{
    QPainterPath finger;
    finger.addRoundedRect(QRectF(8.5, 1.5, 6.0, 20.0), 3.0, 3.0);
    QPainterPath middle;
    middle.addRoundedRect(QRectF(14.5, 11.5, 4.0, 10.0), 2.0, 2.0);
    QPainterPath ring;
    ring.addRoundedRect(QRectF(18.5, 12.5, 4.0, 10.0), 2.0, 2.0);
    QPainterPath little;
    little.addRoundedRect(QRectF(22.5, 14.5, 4.0, 9.0), 2.0, 2.0);
    QPainterPath palm;
    palm.moveTo(8.5, 17.0);
    palm.lineTo(26.5, 17.0);
    palm.lineTo(26.5, 23.0);
    palm.cubicTo(26.5, 26.0, 24.5, 27.5, 24.5, 30.5);
    palm.lineTo(11.5, 30.5);
    palm.cubicTo(11.5, 28.0, 8.5, 26.5, 8.5, 23.0);
    palm.closeSubpath();
    QPainterPath thumbLine;
    thumbLine.moveTo(4.8, 17.2);
    thumbLine.lineTo(9.5, 23.5);
    return unite({finger, middle, ring, little, palm, stroke(thumbLine, 5.0)});
}

constexpr qreal kFingerCentreX = 11.5; // in hand units

void paintHandCreases(QPainter& painter, qreal width)
{
    painter.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(14.5, 13.5), QPointF(14.5, 18.5));
    painter.drawLine(QPointF(18.5, 14.5), QPointF(18.5, 19.0));
    painter.drawLine(QPointF(22.5, 16.5), QPointF(22.5, 19.5));
}

} // namespace

QImage drawBackground(int scale)
{
    Page page(scale);
    page.frame({9, 10}, {794, 405}, kFaintIndex, 24, 110);
    page.frame({10, 11}, {793, 404}, kFrameIndex, 24, 110);
    page.title(u"基本信息查询", 24, 110, 11);
    page.frame({10, 419}, {794, 592}, kFrameIndex, 32, 128);
    page.title(u"ICCID信息查询", 32, 128, 419);
    page.band(602);
    return page.image();
}

QImage drawButton(Button button, int scale)
{
    const ButtonStyle style = buttonStyle(button);
    QImage image(kButtonSize * scale, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const QRgb colour = mix(style.top, style.bottom, double(y) / (image.height() - 1));
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), image.width(), colour);
    }

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    // With a symbol the text moves right, the pair still looking centred.
    qreal textCentreX = kButtonSize.width() / 2.0;
    if (button != Button::Shop) {
        painter.save();
        painter.translate(kSymbolShift, 0);
        if (button == Button::Query) {
            paintOutlined(painter, magnifyingGlass(), style.outline, kButtonOutline);
            painter.fillPath(glassHole(), QColor(255, 255, 255, 60));
        } else {
            paintOutlined(painter, wasteBin(), style.outline, kButtonOutline);
            paintBinSlits(painter, style.outline);
        }
        painter.restore();
        textCentreX = 76.0;
    }
    const QPainterPath text = centredOn(textPath(style.text, kButtonTextPixelSize),
                                        {textCentreX, kButtonSize.height() / 2.0});
    paintOutlined(painter, text, style.outline, kButtonOutline);
    return image;
}

QImage drawIcon(int size)
{
    const QPainterPath glyph = textPath(u"觅", 256);
    const QRectF box = glyph.boundingRect();
    const qreal k = size * 0.8 / std::max(box.width(), box.height());
    QTransform transform;
    transform.translate(size / 2.0, size / 2.0);
    transform.scale(k, k);
    transform.translate(-box.center().x(), -box.center().y());
    const QPainterPath shape = transform.map(glyph);

    QImage coverage(size, size, QImage::Format_ARGB32_Premultiplied);
    coverage.fill(Qt::transparent);
    QPainter painter(&coverage);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape, Qt::black);
    // A hair of extra weight keeps the strokes readable at the small sizes.
    painter.strokePath(shape,
                       QPen(Qt::black, size / 64.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.end();

    // At the small sizes strokes are barely a pixel wide: steeper edges keep
    // them from dissolving into the blue.
    const double contrast = size <= 16 ? 1.8 : size <= 32 ? 1.3 : 1.0;
    const QRgb blue = qRgb(1, 170, 235);
    const QRgb white = qRgb(255, 255, 255);
    QImage image(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double a = qAlpha(coverage.pixel(x, y)) / 255.0;
            image.setPixel(x, y,
                           mix(blue, white, std::clamp((a - 0.5) * contrast + 0.5, 0.0, 1.0)));
        }
    }
    return image;
}

Cursor drawCursor(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const qreal unit = size / 32.0;
    const qreal line = std::max(1.0, unit * 0.9);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(unit, unit);
    const QPainterPath hand = handShape();
    painter.fillPath(hand, Qt::white);
    painter.strokePath(hand,
                       QPen(Qt::black, line / unit, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    paintHandCreases(painter, line / unit);
    painter.end();

    // The hot spot is the first mostly opaque pixel from the top in the
    // finger's middle column: the tip of its outline.
    const int column = int(std::floor(kFingerCentreX * unit));
    for (int y = 0; y < size; ++y) {
        if (qAlpha(image.pixel(column, y)) >= 128)
            return {image.convertToFormat(QImage::Format_ARGB32), QPoint(column, y)};
    }
    fail("the hand has no fingertip");
}

QImage toExactIndexed(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QList<QRgb> colours;
    QHash<QRgb, int> indexOf;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (!indexOf.contains(row[x])) {
                indexOf.insert(row[x], 0);
                colours.append(row[x]);
            }
        }
    }
    if (colours.size() > 256)
        return {};
    std::sort(colours.begin(), colours.end());
    for (int i = 0; i < colours.size(); ++i)
        indexOf[colours[i]] = i;

    QImage indexed(argb.size(), QImage::Format_Indexed8);
    indexed.setColorTable(colours);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < argb.width(); ++x)
            out[x] = uchar(indexOf.value(row[x]));
    }
    return indexed;
}

} // namespace mizong::pictures
