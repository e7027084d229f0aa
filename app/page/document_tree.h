#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// A page's document as browsers build it from its markup with scripts off
// (HTML's tree construction): implied ends, tables with foster parenting,
// misnested formatting repaired by the adoption agency, foreign content.
// Nodes live in one array and refer to each other by index, so that a page
// of 20 000 elements costs one allocation and no pointer chasing to free.
namespace mizong::page::dom {

enum class Namespace : quint8
{
    Html,
    Svg,
    MathMl,
};

struct Attribute
{
    QString name;  // lower-case (as HTML lowers it; foreign ones adjusted)
    QString value; // character references decoded
};

inline constexpr int kNone = -1;

struct Node
{
    enum class Type : quint8
    {
        Document,
        Element,
        Text,
    };
    Type type = Type::Element;
    Namespace ns = Namespace::Html;
    QString name;                // Element: its local name, lower-case for HTML
    QList<Attribute> attributes; // Element
    QString text;                // Text: its characters, references decoded, no NUL
    int parent = kNone;
    int firstChild = kNone;
    int lastChild = kNone;
    int previousSibling = kNone;
    int nextSibling = kNone;

    bool isElement() const { return type == Type::Element; }
    bool isHtml(QStringView localName) const
    {
        return type == Type::Element && ns == Namespace::Html && name == localName;
    }
    // The attribute's value, or null when the element has none of that name.
    const QString* attribute(QStringView lowerName) const
    {
        for (const Attribute& a : attributes)
            if (a.name == lowerName)
                return &a.value;
        return nullptr;
    }
};

struct TreeLimits
{
    // Markup looked at, in UTF-16 units; the rest is dropped.
    qsizetype maxChars = 1024 * 1024;
    // Open elements, <html> and <body> included; an element deeper than this
    // is dropped with everything inside it.
    int maxDepth = 512;
    // Elements kept; everything after the last one is dropped.
    int maxElements = 20000;
};

struct Document
{
    // nodes[0] is the document itself; <html>, <head> and <body> always exist.
    QList<Node> nodes;
    int html = kNone;
    int head = kNone;
    int body = kNone;
    // No DOCTYPE, or one of the old ones browsers lay out in quirks mode.
    bool quirks = false;
    // A limit dropped something.
    bool capped = false;

    const Node& operator[](int index) const { return nodes[index]; }
};

// Builds the document for `html`. Never fails; linear in the input.
Document buildDocumentTree(QStringView html, const TreeLimits& limits = {});

} // namespace mizong::page::dom
