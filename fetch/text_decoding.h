#pragma once

// A page's text and its stylesheets' as a browser decodes them: the WHATWG
// Encoding Standard's labels and decoders, HTML's and CSS's choice of
// encoding. The legacy Chinese, Japanese and Korean encodings and the
// single-byte ones come from the platform: ICU through Qt on Linux, Windows'
// code pages on Windows; a code page Windows lacks is an unknown encoding.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace mizong {

// The charset parameter of a Content-Type value (quoted or not, the first
// one), lower-cased; empty without one.
QByteArray charsetOfContentType(QByteArrayView contentType);

// The encoding's name ("gbk" for "GB2312", "windows-1252" for "latin1") for
// a label of the Encoding Standard, blanks around it ignored; empty when the
// label names none.
QByteArray encodingOfLabel(QByteArrayView label);

// The encoding an HTML page declares in its first 1024 bytes as HTML's
// prescan finds it: the first <meta charset> or <meta http-equiv=
// "Content-Type" content="...charset=..."> whose label names an encoding,
// comments and other tags' attributes skipped, else an XML declaration's.
// Its name as encodingOfLabel gives it ("utf-8" for a UTF-16 one); empty if
// none.
QByteArray charsetOfMarkup(QByteArrayView head);

// The bytes decoded under the encoding the label names. Invalid sequences
// become U+FFFD and an initial byte order mark is dropped. No value when the
// label is unknown or the platform lacks the encoding.
std::optional<QString> decodeCharset(QByteArrayView bytes, QByteArrayView label);

// A page's text. Its encoding: a byte order mark's (UTF-8, UTF-16LE/BE),
// else the Content-Type's charset, else the page's own declaration, else
// UTF-8; a named encoding that is unknown or missing here is passed over.
// Always text: UTF-8 decodes anything. `encoding`, when given, receives the
// encoding's name, to decode the page's stylesheets with.
QString decodeHtml(QByteArrayView body, QByteArrayView contentType, QByteArray* encoding = nullptr);

// A stylesheet's text: a byte order mark's encoding, else the Content-Type's
// charset, else a leading @charset "...";, else the page's encoding, else
// UTF-8.
QString decodeStyleSheet(QByteArrayView body, QByteArrayView contentType,
                         QByteArrayView pageEncoding);

} // namespace mizong
