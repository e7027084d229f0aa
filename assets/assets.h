#pragma once

#include <QStringView>

// Resource paths of the pictures compiled into mizong_assets. Each picture
// with an "@2x" file beside it has twice the pixels for a device pixel ratio
// of 2: QIcon picks it by itself; a QImage or QPixmap has to be loaded from
// the "@2x" path and given setDevicePixelRatio(2).
namespace mizong::assets {

// The framed page behind the window's controls: 808 by 630 pixels, drawn
// unscaled at the top-left corner of the client area.
inline constexpr QStringView kBackground = u":/mizong/background.png";
inline constexpr QStringView kBackground2x = u":/mizong/background@2x.png";

// Button faces, 128 by 33 pixels.
inline constexpr QStringView kButtonQuery = u":/mizong/button-query.png";
inline constexpr QStringView kButtonClear = u":/mizong/button-clear.png";
inline constexpr QStringView kButtonShop = u":/mizong/button-shop.png";

struct SizedPicture
{
    int size; // width and height in pixels
    QStringView path;
};

// The window icon at every size it comes in.
inline constexpr SizedPicture kIcons[] = {
    {16, u":/mizong/icon-16.png"}, {32, u":/mizong/icon-32.png"},   {48, u":/mizong/icon-48.png"},
    {64, u":/mizong/icon-64.png"}, {128, u":/mizong/icon-128.png"}, {256, u":/mizong/icon-256.png"},
};

// The link pointer; its hot spots per size are in cursor_hotspot.h.
inline constexpr SizedPicture kCursorHands[] = {
    {32, u":/mizong/cursor-hand-32.png"},
    {48, u":/mizong/cursor-hand-48.png"},
    {128, u":/mizong/cursor-hand-128.png"},
    {256, u":/mizong/cursor-hand-256.png"},
};

} // namespace mizong::assets
