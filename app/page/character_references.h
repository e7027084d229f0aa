#pragma once

#include <QString>
#include <QStringView>

// Character references as HTML's tokenizer reads them (the HTML standard's
// character reference states), over the standard's whole table of names, in
// text and attribute values alike. The markup rules read every reference
// here, so that Qt's importer, whose table is smaller and whose rules differ,
// never decides what one stands for.
namespace mizong::page {

// The character reference at input[ampersand], an '&': appends the
// characters it stands for to `out` and returns how many characters of
// `input` it takes, the '&' included; 0 when none starts there (the '&' and
// what follows it are then text as written), `out` untouched. `input` ends
// where the text or attribute value ends. In an attribute value a named
// reference without its ';' that is followed by '=' or a letter or digit is
// none, so that query strings ("?a=1&copy=2") stay as written.
qsizetype consumeCharacterReference(QStringView input, qsizetype ampersand, bool inAttribute,
                                    QString& out);

// `text` with every character reference decoded, appended to `out`.
void appendDecoded(QString& out, QStringView text, bool inAttribute);

} // namespace mizong::page
