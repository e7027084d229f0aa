// Draws the window's pictures into a directory (the repository's assets/):
//   mizong-make-pictures <directory>
// Run it on demand after changing a drawing; its output is committed.

#include "ico_file.h"
#include "pictures.h"

#include <QDir>
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

using namespace mizong::pictures;

namespace {

QDir g_outDir;

bool writeFile(const QString& name, const QByteArray& bytes)
{
    QSaveFile file(g_outDir.filePath(name));
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        !file.commit()) {
        std::fprintf(stderr, "make-pictures: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    std::printf("%s\n", qPrintable(name));
    return true;
}

bool writePng(const QString& name, const QImage& image)
{
    return writeFile(name, pngBytes(image));
}

// A picture that has to be an indexed one; its colours fit by construction.
QImage indexed(const QImage& image)
{
    const QImage result = toExactIndexed(image);
    if (result.isNull())
        std::fprintf(stderr, "make-pictures: more than 256 colours in a small picture\n");
    return result;
}

QByteArray hotSpotHeader(const QList<std::pair<int, QPoint>>& hotSpots)
{
    QByteArray text =
        "#pragma once\n"
        "\n"
        "// Written by tools/make-pictures with the cursor-hand pictures; do not edit.\n"
        "// The pixel of each picture that stands for the pointer's position: the\n"
        "// tip of the index finger.\n"
        "namespace mizong::assets {\n"
        "\n"
        "struct CursorHotSpot\n"
        "{\n"
        "    int size;\n"
        "    int x;\n"
        "    int y;\n"
        "};\n"
        "\n"
        "inline constexpr CursorHotSpot kCursorHotSpots[] = {\n";
    for (const auto& [size, point] : hotSpots)
        text += "    {" + QByteArray::number(size) + ", " + QByteArray::number(point.x()) + ", " +
                QByteArray::number(point.y()) + "},\n";
    text += "};\n"
            "\n"
            "} // namespace mizong::assets\n";
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: mizong-make-pictures <directory>\n");
        return 2;
    }
    g_outDir.setPath(args[1]);
    if (!g_outDir.exists()) {
        std::fprintf(stderr, "make-pictures: no directory %s\n", qPrintable(args[1]));
        return 2;
    }
    // Another face would silently give other pictures.
    const QString family = QFontInfo(QFont(kFontFamily.toString())).family();
    if (family != kFontFamily) {
        std::fprintf(stderr, "make-pictures: font \"%s\" is not installed (got \"%s\")\n",
                     qPrintable(kFontFamily.toString()), qPrintable(family));
        return 1;
    }

    bool ok = true;
    for (int scale : {1, 2}) {
        const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png");
        ok &= writePng(QStringLiteral("background") + suffix, drawBackground(scale));
        ok &= writePng(QStringLiteral("button-query") + suffix, drawButton(Button::Query, scale));
        ok &= writePng(QStringLiteral("button-clear") + suffix, drawButton(Button::Clear, scale));
        ok &= writePng(QStringLiteral("button-shop") + suffix, drawButton(Button::Shop, scale));
    }

    QList<QImage> icoImages;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QImage icon = drawIcon(size);
        // The 32-pixel icon is the 256-colour one.
        if (size == 32)
            icon = indexed(icon);
        ok &= writePng(QStringLiteral("icon-%1.png").arg(size), icon);
        if (size == 32 || size == 48 || size == 128 || size == 256)
            icoImages.append(icon);
    }
    ok &= writeFile(QStringLiteral("icon.ico"), icoFile(icoImages));

    QList<std::pair<int, QPoint>> hotSpots;
    for (int size : {32, 48, 128, 256}) {
        Cursor cursor = drawCursor(size);
        if (size == 32)
            cursor.image = indexed(cursor.image);
        ok &= writePng(QStringLiteral("cursor-hand-%1.png").arg(size), cursor.image);
        hotSpots.append({size, cursor.hotSpot});
    }
    ok &= writeFile(QStringLiteral("cursor_hotspot.h"), hotSpotHeader(hotSpots));
    return ok ? 0 : 1;
}
