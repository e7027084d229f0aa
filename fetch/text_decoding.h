#pragma once

// A page's text and its stylesheets' as a browser decodes them: the WHATWG
// Encoding Standard's labels and decoders (decoders_p.h, the same on every
// platform), HTML's and CSS's choice of encoding.

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
// prescan finds it: UTF-16 when it starts with "<?x" in UTF-16, else the
// first <meta charset> or <meta http-equiv="Content-Type"
// content="...charset=..."> whose label names an encoding, comments and
// other tags' attributes skipped, else an XML declaration's. Its name as
// encodingOfLabel gives it ("utf-8" for a UTF-16 label); empty if none.
QByteArray charsetOfMarkup(QByteArrayView head);

// The bytes decoded under the encoding the label names, as TextDecoder does
// by default: no sniffing, invalid sequences become U+FFFD (one for each
// maximal subpart in UTF-8), and a byte order mark of the named encoding
// (UTF-8, UTF-16) is dropped. No value when the label is not one of the
// standard's.
std::optional<QString> decodeCharset(QByteArrayView bytes, QByteArrayView label);

// HTML's change of encoding, for a page read under `current` on no more than
// a default (no byte order mark, no header charset, no <meta> in its first
// 1024 bytes) whose parser meets a <meta> naming `label`: the page read again
// from the start under that encoding (utf-16 as utf-8, x-user-defined as
// windows-1252), as browsers do. No value when the page stays as it is: the
// label names none, names `current`, or the page is UTF-16. `encoding`, when
// given, receives the new encoding's name. decodeHtml calls this for a
// <meta> it finds in the head after the first 1024 bytes; a tree builder
// calls it for the one it meets.
std::optional<QString> changeEncoding(QByteArrayView body, QByteArrayView current,
                                      QByteArrayView label, QByteArray* encoding = nullptr);

// A page's text. Its encoding: a byte order mark's (UTF-8, UTF-16LE/BE),
// else the Content-Type's charset, else the page's own declaration, else a
// <meta> later in its head, else UTF-8; a named encoding that is unknown is
// passed over. Always text. `encoding`, when given, receives the encoding's
// name, to decode the page's stylesheets with.
QString decodeHtml(QByteArrayView body, QByteArrayView contentType, QByteArray* encoding = nullptr);

// A stylesheet's text: a byte order mark's encoding, else the Content-Type's
// charset, else a leading @charset "...";, else the page's encoding, else
// UTF-8.
QString decodeStyleSheet(QByteArrayView body, QByteArrayView contentType,
                         QByteArrayView pageEncoding);

} // namespace mizong
