#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// What every test program may need, the window-free ones too.
namespace mizong::testing {

// A file of the test's data folder (MIZONG_TEST_DATA_DIR, which every test
// program is built with); a missing one ends the test program.
QByteArray dataFile(const QString& name);

// A loopback port on which nothing listens: bound once, then released; 0 when
// none could be bound.
quint16 refusedPort();

// A well-formed PNG that declares `width` by `height` 8-bit RGB pixels but
// carries only its first row: a size only its header claims.
QByteArray pngDeclaring(quint32 width, quint32 height);

// What a reader sees of a document's raw text (QTextDocument::toRawText()):
// its characters in order, every break between blocks, lines and cells and
// every run of ASCII spaces one space, pictures' placeholders and zero-width
// spaces dropped. U+3000
// and U+00A0 are characters like any other.
QString readerText(QStringView rawText);

} // namespace mizong::testing
