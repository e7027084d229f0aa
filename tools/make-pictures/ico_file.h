#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

namespace mizong::pictures {

// The PNG file of an image, with no time stamp or text in it.
QByteArray pngBytes(const QImage& image);

// A Windows icon file holding the images in the given order. An indexed image
// becomes a classic 8-bit bitmap entry, any other image a PNG entry (read by
// every icon reader since Windows Vista). Images are at most 256 pixels square.
QByteArray icoFile(const QList<QImage>& images);

} // namespace mizong::pictures
