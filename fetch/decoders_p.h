#pragma once

// The WHATWG Encoding Standard's labels and decoders, step by step as the
// standard writes them, over the tables made from its own files
// (encoding_index_p.h). The same characters on every platform: no ICU, no
// code pages.

#include "encoding_index_p.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace mizong::decoding {

using encoding_index::Encoding;

// The encoding a label names, blanks around it ignored and ASCII letters in
// any case; none for anything else.
std::optional<Encoding> encodingOfLabel(QByteArrayView label);

// The encoding's name, lower-cased: "gbk", "shift_jis".
const char* nameOf(Encoding encoding);

// The bytes through the encoding's decoder, each error a U+FFFD. Byte order
// marks are left to the caller: a U+FEFF that decodes is kept.
QString decode(Encoding encoding, QByteArrayView bytes);

} // namespace mizong::decoding
