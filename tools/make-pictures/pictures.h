#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringView>

// The window's pictures, drawn from scratch. Every function gives the same
// pixels on every run, as long as the font below is the one installed.
namespace mizong::pictures {

// The one face every text in the pictures is drawn with.
inline constexpr QStringView kFontFamily = u"WenQuanYi Micro Hei";

// The framed page behind the window's controls at `scale` (1 or 2) times its
// 808 by 630 pixels, as an indexed image of at most 32 colours.
QImage drawBackground(int scale);

enum class Button
{
    Query,
    Clear,
    Shop
};

// A button face, 128 by 33 pixels times `scale`.
QImage drawButton(Button button, int scale);

// The brand glyph on its blue square, `size` pixels wide and high.
QImage drawIcon(int size);

struct Cursor
{
    QImage image;
    QPoint hotSpot; // the fingertip
};

// The link pointer: a hand with the index finger up, `size` pixels square.
Cursor drawCursor(int size);

// The same pixels as an 8-bit indexed image when the picture has at most 256
// distinct colours (alpha included); a null image otherwise.
QImage toExactIndexed(const QImage& image);

} // namespace mizong::pictures
