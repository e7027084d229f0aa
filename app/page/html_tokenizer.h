#pragma once

#include "markup_output.h"

#include <QList>
#include <QString>
#include <QStringView>

// Internal to mizong_page_markup: page_markup.h is the interface.
// HTML's tokenizer, tolerant as browsers are, so that outside markup splits
// into tags and text where a browser splits it. Raw-text elements (script,
// style, title, ...) come whole with their start tag, since nothing inside
// them is markup. Tokens are views of the input: nothing is decoded here.
namespace mizong::page::markup {

struct Attribute
{
    QStringView name;
    QStringView value; // as written: character references not decoded
};

struct Token
{
    enum Type
    {
        Text,
        StartTag,
        EndTag,
    };
    Type type = Text;
    // Text: the characters as written. StartTag of a raw-text element
    // (script, style, title, ...): its whole content, taken with the tag.
    // hasContent on a Text token: a CDATA section's, not to be decoded.
    QStringView text;
    bool hasContent = false;
    QString name; // lower-case
    QList<Attribute> attributes;
    bool selfClosing = false;

    QStringView attribute(QStringView lowerName, bool* present = nullptr) const
    {
        for (const Attribute& a : attributes) {
            if (equalsLowered(a.name, lowerName)) {
                if (present)
                    *present = true;
                return a.value;
            }
        }
        if (present)
            *present = false;
        return {};
    }
};
// A tag cut off by the end of the input yields nothing.
class Tokenizer
{
public:
    explicit Tokenizer(QStringView input) : m_in(input) {}

    bool next(Token& token);

    // In SVG and MathML no element's content is raw text and a CDATA
    // section is text; the tree builder says where the next token falls.
    void setForeign(bool foreign) { m_foreign = foreign; }
    // What is left when next() returns false: a "<" or "</" that ends the
    // input, which HTML's tokenizer makes text, else nothing.
    QStringView unread() const { return m_in.sliced(m_pos); }
    // Where the next token starts, or a comment before it; seek() goes back
    // there, to read a raw-text element's content as markup.
    qsizetype position() const { return m_pos; }
    void seek(qsizetype position) { m_pos = position; }

private:
    char16_t at(qsizetype i) const;
    bool startsWithAt(qsizetype i, QStringView what) const;
    void skipPast(char16_t c, qsizetype from);
    void skipComment();
    bool readTag(Token& token, qsizetype nameStart, Token::Type type);
    bool isEndTagAt(qsizetype i, QStringView lowerName) const;
    bool isScriptStartAt(qsizetype i) const;
    qsizetype scriptEnd(qsizetype i) const;
    qsizetype rawEnd(qsizetype i, QStringView lowerName) const;
    void readContent(Token& token);

    QStringView m_in;
    qsizetype m_pos = 0;
    Token m_scratch;
    bool m_foreign = false;
};

} // namespace mizong::page::markup
